#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "foundation/sleep.h"
#include "support/testsupport.h"

#include <QTest>
#include <cmath>
#include <limits>

using namespace tessera;
using namespace std::chrono_literals;

namespace {
template<typename T> bool cancelled(const TaskHandle<T> &handle)
{
    try {
        handle.resultNow();
    } catch (const CancelledError &) {
        return true;
    } catch (...) {
    }
    return false;
}

QCoro::Task<void> sleepTwice(ManualClock *clock, QStringList *log, QString name,
                             std::chrono::milliseconds first, std::chrono::milliseconds second)
{
    co_await clock->sleep(first, {});
    *log << name + QStringLiteral("1");
    co_await clock->sleep(second, {});
    *log << name + QStringLiteral("2");
}
} // namespace

class TestClocks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        QVERIFY(cancelled(longSleep));

        // An already-cancelled token fails before waiting at all.
        CancellationSource source;
        source.cancel();
        auto refused =
            startTask<void>([](CancellationToken t) { return sleepFor(1h, t); }, source.token());
        QVERIFY(refused.isFinished());
        QVERIFY(cancelled(refused));
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

        // Cancelling one sleep wakes it alone, at once.
        auto kept = startTask<void>([&](CancellationToken t) { return clock.sleep(5s, t); });
        auto dropped = startTask<void>([&](CancellationToken t) { return clock.sleep(5s, t); });
        dropped.cancel();
        QVERIFY(cancelled(dropped));
        QCOMPARE(clock.pendingSleepers(), 1);
        clock.advance(5s);
        QVERIFY(kept.isFinished());
    }

    void secondsConvertRoundingUp_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<qint64>("milliseconds");
        QTest::newRow("fraction rounds up") << 0.0001 << qint64(1);
        QTest::newRow("negative") << -3.0 << qint64(0);
        QTest::newRow("not a number") << std::nan("") << qint64(0);
        QTest::newRow("infinite is bounded")
            << std::numeric_limits<double>::infinity() << qint64(100LL * 365 * 24 * 3600 * 1000);
    }

    void secondsConvertRoundingUp()
    {
        QFETCH(double, seconds);
        QFETCH(qint64, milliseconds);
        QCOMPARE(millisecondsFromSeconds(seconds).count(), milliseconds);
    }
};

QTEST_GUILESS_MAIN(TestClocks)
#include "tst_clocks.moc"
