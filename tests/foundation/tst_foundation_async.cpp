#include "foundation/boundedconcurrency.h"
#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "foundation/singleflight.h"
#include "foundation/sleep.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;

class TestFoundationAsync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sleepWakesOnCancellation()
    {
        CancellationSource source;
        auto handle = startTask<void>([](CancellationToken token) { return sleepFor(60s, token); });
        QVERIFY(!handle.isFinished());
        handle.cancel();
        QVERIFY(test::processEventsUntil([&] { return handle.isFinished(); }, 1000));
        QVERIFY_THROWS_EXCEPTION(CancelledError, test::waitFor(handle.result()));
    }

    void manualClockWakesSleepersInOrder()
    {
        ManualClock clock;
        QStringList order;
        auto a = startTask<void>([&](CancellationToken t) -> QCoro::Task<void> {
            co_await clock.sleep(10s, t);
            order << QStringLiteral("a");
        });
        auto b = startTask<void>([&](CancellationToken t) -> QCoro::Task<void> {
            co_await clock.sleep(5s, t);
            order << QStringLiteral("b");
        });
        clock.advance(4s);
        QVERIFY(order.isEmpty());
        clock.advance(10s);
        QCOMPARE(order, (QStringList{QStringLiteral("b"), QStringLiteral("a")}));
    }

    void singleFlightSharesOneRun()
    {
        ManualClock clock;
        MainActorSingleFlightTask<int> flight;
        int runs = 0;
        auto factory = [&](CancellationToken t) -> QCoro::Task<int> {
            ++runs;
            co_await clock.sleep(1s, t);
            co_return 42;
        };
        auto first = startTask<int>([&](CancellationToken) { return flight.run(factory); });
        auto second = startTask<int>([&](CancellationToken) { return flight.run(factory); });
        QVERIFY(flight.isRunning());
        clock.advance(1s);
        QCOMPARE(test::waitFor(first.result()), 42);
        QCOMPARE(test::waitFor(second.result()), 42);
        QCOMPARE(runs, 1);
        QVERIFY(!flight.isRunning());
    }

    void everyWaiterReceivesTheValue()
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

    void boundedConcurrencyRespectsLimitAndCancelsOnFailure()
    {
        ManualClock clock;
        int inFlight = 0, highest = 0;
        auto child = [&](std::size_t index, CancellationToken t) -> QCoro::Task<int> {
            ++inFlight;
            highest = std::max(highest, inFlight);
            struct Leave
            {
                int &n;
                ~Leave() { --n; }
            } leave{inFlight};
            co_await clock.sleep(std::chrono::seconds(1 + static_cast<int>(index % 3)), t);
            if (index == 9) {
                throw Error(QStringLiteral("boom"));
            }
            co_return static_cast<int>(index);
        };
        auto run = startTask<std::vector<int>>(
            [&](CancellationToken t) { return runWithConcurrencyLimit<int>(20, 6, child, t); });
        while (!run.isFinished() && clock.advanceToNextDeadline()) {
        }
        QVERIFY(run.isFinished());
        QCOMPARE(highest, 6);
        QCOMPARE(inFlight, 0);
        QVERIFY_THROWS_EXCEPTION(Error, test::waitFor(run.result()));
    }
};

QTEST_GUILESS_MAIN(TestFoundationAsync)
#include "tst_foundation_async.moc"
