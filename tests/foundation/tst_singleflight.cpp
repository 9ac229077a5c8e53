#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "foundation/singleflight.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;

namespace {
template<typename E, typename T> bool failedWith(const TaskHandle<T> &handle)
{
    if (!handle.isFinished()) {
        return false;
    }
    try {
        handle.resultNow();
    } catch (const E &) {
        return true;
    } catch (...) {
    }
    return false;
}

// Work that sleeps on the clock, counts its runs and ends with `outcome`.
struct Work
{
    ManualClock &clock;
    int runs = 0;
    int cancellations = 0;
    bool fail = false;

    MainActorSingleFlightTask<int>::Factory factory(int value)
    {
        return [this, value](CancellationToken token) { return run(this, value, token); };
    }

    static QCoro::Task<int> run(Work *work, int value, CancellationToken token)
    {
        ++work->runs;
        try {
            co_await work->clock.sleep(1s, token);
        } catch (const CancelledError &) {
            ++work->cancellations;
            throw;
        }
        if (work->fail) {
            throw Error(QStringLiteral("sync failed"));
        }
        co_return value;
    }
};

TaskHandle<int> call(MainActorSingleFlightTask<int> &flight,
                     MainActorSingleFlightTask<int>::Factory factory)
{
    return startTask<int>([&flight, factory](CancellationToken) { return flight.run(factory); });
}
} // namespace

class TestSingleFlight : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void concurrentCallersShareOneRun()
    {
        ManualClock clock;
        Work work{clock};
        MainActorSingleFlightTask<int> flight;
        auto first = call(flight, work.factory(1));
        auto second = call(flight, work.factory(2));
        auto third = call(flight, work.factory(3));
        QCOMPARE(work.runs, 1);
        clock.advance(1s);
        QVERIFY(first.isFinished() && second.isFinished() && third.isFinished());
        // Every caller sees the run that was already going.
        QCOMPARE(first.resultNow(), 1);
        QCOMPARE(second.resultNow(), 1);
        QCOMPARE(third.resultNow(), 1);
        QVERIFY(!flight.isRunning());

        // Once it has ended, the next caller starts a fresh run.
        auto later = call(flight, work.factory(4));
        clock.advance(1s);
        QCOMPARE(later.resultNow(), 4);
        QCOMPARE(work.runs, 2);
    }

    void failureReachesEveryCallerAndFreesTheSlot()
    {
        ManualClock clock;
        Work work{clock};
        work.fail = true;
        MainActorSingleFlightTask<int> flight;
        auto first = call(flight, work.factory(1));
        auto second = call(flight, work.factory(2));
        clock.advance(1s);
        QVERIFY(failedWith<Error>(first));
        QVERIFY(failedWith<Error>(second));
        QVERIFY(!flight.isRunning());
        work.fail = false;
        auto retry = call(flight, work.factory(5));
        clock.advance(1s);
        QCOMPARE(retry.resultNow(), 5);
    }

    void destroyedHolderCancelsItsTask()
    {
        ManualClock clock;
        Work work{clock};
        auto flight = std::make_unique<MainActorSingleFlightTask<int>>();
        auto caller = call(*flight, work.factory(1));
        auto joiner = call(*flight, work.factory(2));
        flight.reset();
        QCOMPARE(work.cancellations, 1);
        QCOMPARE(clock.pendingSleepers(), 0);
        QVERIFY(failedWith<CancelledError>(caller));
        QVERIFY(failedWith<CancelledError>(joiner));
    }

    void anEndingRunDoesNotClearItsSuccessor()
    {
        ManualClock clock;
        Work work{clock};
        MainActorSingleFlightTask<int> flight;
        // The old run ignores cancellation for a while, as a sign-out replaces it.
        auto stubborn = [&clock](CancellationToken) -> QCoro::Task<int> {
            co_await clock.sleep(1500ms, {});
            co_return 0;
        };
        auto old = call(flight, stubborn);
        flight.cancel();
        QVERIFY(!flight.isRunning());
        auto successor = call(flight, work.factory(7));
        const QUuid successorId = flight.current()->id;
        clock.advance(1s); // the successor ends
        QCOMPARE(successor.resultNow(), 7);
        auto third = call(flight, work.factory(8));
        const QUuid thirdId = flight.current()->id;
        QVERIFY(thirdId != successorId);
        clock.advance(500ms); // the old run ends while the third is still going
        QVERIFY(old.isFinished());
        QVERIFY(flight.isRunning());
        QCOMPARE(flight.current()->id, thirdId);
        clock.advance(500ms);
        QCOMPARE(third.resultNow(), 8);
    }

    void workThatNeverSuspendsLeavesNothingRunning()
    {
        MainActorSingleFlightTask<int> flight;
        auto immediate = [](CancellationToken) -> QCoro::Task<int> { co_return 3; };
        auto caller = call(flight, immediate);
        QCOMPARE(caller.resultNow(), 3);
        QVERIFY(!flight.isRunning());
    }

    // A task handle is shared: every waiter on it receives the one result.
    void everyWaiterOfAHandleReceivesTheValue()
    {
        ManualClock clock;
        auto handle = startTask<QString>([&](CancellationToken t) -> QCoro::Task<QString> {
            co_await clock.sleep(1s, t);
            co_return QStringLiteral("token");
        });
        auto first = startTask<QString>([handle](CancellationToken) { return handle.result(); });
        auto second = startTask<QString>([handle](CancellationToken) { return handle.result(); });
        clock.advance(1s);
        QCOMPARE(test::waitFor(first.result()), QStringLiteral("token"));
        QCOMPARE(test::waitFor(second.result()), QStringLiteral("token"));
        QCOMPARE(test::waitFor(handle.result()), QStringLiteral("token"));
    }
};

QTEST_GUILESS_MAIN(TestSingleFlight)
#include "tst_singleflight.moc"
