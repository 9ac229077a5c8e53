// Tasks and time: single flight, bounded concurrency, the handles they hand out, sleeping
// and the manual clock.
#include "foundation/boundedconcurrency.h"
#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "foundation/singleflight.h"
#include "foundation/sleep.h"
#include "support/testsupport.h"

#include <QTest>
#include <cmath>
#include <limits>

using namespace tessera;
using namespace std::chrono_literals;

namespace {
// How a task ended: "done", "cancelled" or the failure's text.
template<typename T> QString outcome(const TaskHandle<T> &handle)
{
    if (!handle.isFinished()) {
        return QStringLiteral("running");
    }
    try {
        (void)handle.resultNow();
        return QStringLiteral("done");
    } catch (const CancelledError &) {
        return QStringLiteral("cancelled");
    } catch (const Error &error) {
        return error.description();
    }
}

// Work that sleeps on the clock for its duration in seconds; a negative one fails after
// that many seconds. It records when it starts and how many run at that moment.
struct Work
{
    explicit Work(std::vector<int> durations = {})
        : durations(std::move(durations))
    {}

    ManualClock clock;
    std::vector<int> durations;
    std::vector<int> inFlightAtStart;
    int inFlight = 0;
    int cancellations = 0;

    static QCoro::Task<QString> run(Work *work, std::size_t index, CancellationToken token)
    {
        work->inFlightAtStart.push_back(work->inFlight++);
        const int duration = work->durations.at(index);
        try {
            co_await work->clock.sleep(std::chrono::seconds(std::abs(duration)), token);
        } catch (const CancelledError &) {
            --work->inFlight;
            ++work->cancellations;
            throw;
        }
        --work->inFlight;
        if (duration < 0) {
            throw Error(QStringLiteral("listing %1 failed").arg(index));
        }
        co_return QString::number(index);
    }

    TaskHandle<std::vector<QString>> runAll(std::size_t limit, CancellationToken parent = {})
    {
        return startTask<std::vector<QString>>(
            [this, limit](CancellationToken token) {
                return runWithConcurrencyLimit<QString>(
                    durations.size(), limit,
                    [this](std::size_t index, CancellationToken child) {
                        return run(this, index, child);
                    },
                    token);
            },
            parent);
    }

    MainActorSingleFlightTask<QString>::Factory factory(std::size_t index)
    {
        return [this, index](CancellationToken token) { return run(this, index, token); };
    }

    void drive(const TaskHandle<std::vector<QString>> &handle)
    {
        while (!handle.isFinished() && clock.advanceToNextDeadline()) {
        }
    }
};

QCoro::Task<void> sleepTwice(ManualClock *clock, QStringList *log, QString name,
                             std::chrono::milliseconds first, std::chrono::milliseconds second)
{
    co_await clock->sleep(first, {});
    *log << name + QStringLiteral("1");
    co_await clock->sleep(second, {});
    *log << name + QStringLiteral("2");
}
TaskHandle<QString> call(MainActorSingleFlightTask<QString> &flight,
                         MainActorSingleFlightTask<QString>::Factory factory)
{
    return startTask<QString>(
        [&flight, factory](CancellationToken) { return flight.run(factory); });
}
} // namespace

class TestTasks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsInOrderAndRefillsEachFreedSlot_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("limit");
        QTest::newRow("more than the limit") << 20 << 6;
        QTest::newRow("limit zero runs one") << 3 << 0;
        QTest::newRow("nothing to run") << 0 << 6;
    }
    void startsInOrderAndRefillsEachFreedSlot()
    {
        QFETCH(int, count);
        QFETCH(int, limit);
        Work work;
        for (int i = 0; i < count; ++i) {
            work.durations.push_back(1 + (i * 7) % 5);
        }
        auto run = work.runAll(std::size_t(limit));
        work.drive(run);
        QCOMPARE(run.resultNow().size(), std::size_t(count));
        // The first `slots` start together; every later one starts the moment one ends,
        // so a slot is never left idle while work waits.
        const int slots = std::max(limit, 1);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(work.inFlightAtStart[std::size_t(i)], std::min(i, slots - 1));
        }
    }

    void firstFailureCancelsTheRestAndIsRethrown()
    {
        // Child 2 fails after 1 s; children 3 and 4 fail later and must not mask it.
        Work work({5, 5, -1, -2, -3, 1, 1, 1});
        auto run = work.runAll(5);
        work.drive(run);
        QCOMPARE(outcome(run), QStringLiteral("listing 2 failed"));
        // Nothing beyond the first five was started; the four still running were cancelled.
        QCOMPARE(work.inFlightAtStart.size(), std::size_t(5));
        QCOMPARE(work.cancellations, 4);
        QCOMPARE(work.clock.pendingSleepers(), 0);
    }

    void parentCancellationStopsEverything()
    {
        Work work(std::vector<int>(8, 2));
        CancellationSource parent;
        auto run = work.runAll(3, parent.token());
        work.clock.advance(1s);
        parent.cancel();
        QCOMPARE(outcome(run), QStringLiteral("cancelled"));
        QCOMPARE(work.inFlightAtStart.size(), std::size_t(3));
        QCOMPARE(work.cancellations, 3);
        QCOMPARE(work.clock.pendingSleepers(), 0);
    }

    // Every caller, and every waiter on a handle, sees the one run and its one result.
    void concurrentCallersShareOneRun()
    {
        Work work({1, 1, -1});
        MainActorSingleFlightTask<QString> flight;
        auto first = call(flight, work.factory(0));
        auto second = call(flight, work.factory(1));
        auto waiter = startTask<QString>([first](CancellationToken) { return first.result(); });
        QCOMPARE(work.inFlightAtStart.size(), std::size_t(1));
        work.clock.advance(1s);
        QCOMPARE(second.resultNow(), QStringLiteral("0"));
        QCOMPARE(waiter.resultNow(), QStringLiteral("0"));
        QVERIFY(!flight.isRunning());

        // Once it has ended the next caller starts a fresh run; a failure reaches every
        // caller and frees the slot.
        auto failing = call(flight, work.factory(2));
        auto joining = call(flight, work.factory(0));
        work.clock.advance(1s);
        QCOMPARE(outcome(joining), QStringLiteral("listing 2 failed"));
        QVERIFY(!flight.isRunning());
        QCOMPARE(call(flight,
                      [](CancellationToken) -> QCoro::Task<QString> {
                          co_return QStringLiteral("at once");
                      })
                     .resultNow(),
                 QStringLiteral("at once"));
        QVERIFY(!flight.isRunning());
    }

    void destroyedHolderCancelsItsTask()
    {
        Work work({1});
        auto flight = std::make_unique<MainActorSingleFlightTask<QString>>();
        auto caller = call(*flight, work.factory(0));
        auto joiner = call(*flight, work.factory(0));
        flight.reset();
        QCOMPARE(work.cancellations, 1);
        QCOMPARE(outcome(caller), QStringLiteral("cancelled"));
        QCOMPARE(outcome(joiner), QStringLiteral("cancelled"));
    }

    void anEndingRunDoesNotClearItsSuccessor()
    {
        Work work({1, 1});
        MainActorSingleFlightTask<QString> flight;
        // The old run ignores cancellation for a while, as a sign-out replaces it.
        auto old = call(flight, [&work](CancellationToken) -> QCoro::Task<QString> {
            co_await work.clock.sleep(1500ms, {});
            co_return QString();
        });
        flight.cancel();
        QVERIFY(!flight.isRunning());
        auto successor = call(flight, work.factory(0));
        work.clock.advance(1s); // the successor ends
        QCOMPARE(successor.resultNow(), QStringLiteral("0"));
        auto third = call(flight, work.factory(1));
        const QUuid thirdId = flight.current()->id;
        work.clock.advance(500ms); // the old run ends while the third is still going
        QVERIFY(old.isFinished());
        QCOMPARE(flight.current()->id, thirdId);
        work.clock.advance(500ms);
        QCOMPARE(third.resultNow(), QStringLiteral("1"));
    }

    void sleepForEndsOrIsCancelled()
    {
        auto shortSleep = startTask<void>([](CancellationToken t) { return sleepFor(10ms, t); });
        QVERIFY(test::processEventsUntil([&] { return shortSleep.isFinished(); }));
        shortSleep.resultNow();

        auto longSleep = startTask<void>([](CancellationToken t) { return sleepFor(1h, t); });
        test::processEventsUntil([] { return false; }, 20); // let the event loop run a little
        QVERIFY(!longSleep.isFinished());
        longSleep.cancel();
        QVERIFY(test::processEventsUntil([&] { return longSleep.isFinished(); }));
        QCOMPARE(outcome(longSleep), QStringLiteral("cancelled"));
    }

    void manualClockWakesByDeadlineThenCallOrder()
    {
        ManualClock clock;
        QStringList log;
        const auto start = clock.now();
        const QDateTime startDate = clock.currentDateTime();
        auto a = startTask<void>([&](CancellationToken) {
            return sleepTwice(&clock, &log, QStringLiteral("a"), 3s, 1s);
        });
        auto b = startTask<void>([&](CancellationToken) {
            return sleepTwice(&clock, &log, QStringLiteral("b"), 2s, 5s);
        });
        auto c = startTask<void>([&](CancellationToken) {
            return sleepTwice(&clock, &log, QStringLiteral("c"), 3s, 0s);
        });
        clock.advance(1999ms);
        QVERIFY(log.isEmpty());
        // One advance wakes, in deadline order, the sleeps begun by woken sleepers too.
        clock.advance(3s);
        QCOMPARE(log, (QStringList{QStringLiteral("b1"), QStringLiteral("a1"), QStringLiteral("c1"),
                                   QStringLiteral("c2"), QStringLiteral("a2")}));
        QCOMPARE(clock.now() - start, std::chrono::steady_clock::duration(4999ms));
        QCOMPARE(startDate.msecsTo(clock.currentDateTime()), 4999);
        QVERIFY(clock.advanceToNextDeadline());
        QCOMPARE(log.last(), QStringLiteral("b2"));
        QCOMPARE(clock.now() - start, std::chrono::steady_clock::duration(7s));
        QVERIFY(!clock.advanceToNextDeadline());
    }

    void secondsConvertRoundingUp()
    {
        QCOMPARE(millisecondsFromSeconds(0.0001).count(), 1);
        QCOMPARE(millisecondsFromSeconds(-3.0).count(), 0);
        QCOMPARE(millisecondsFromSeconds(std::nan("")).count(), 0);
        // Infinity is bounded to a century.
        QCOMPARE(millisecondsFromSeconds(std::numeric_limits<double>::infinity()).count(),
                 100LL * 365 * 24 * 3600 * 1000);
    }
};

QTEST_GUILESS_MAIN(TestTasks)
#include "tst_tasks.moc"
