#include "foundation/boundedconcurrency.h"
#include "foundation/error.h"
#include "foundation/manualclock.h"

#include <QTest>
#include <numeric>

using namespace tessera;
using namespace std::chrono_literals;

namespace {
// Children that sleep on the clock for their given duration and log what happens.
struct Children
{
    Children(ManualClock &clock, std::vector<int> durations = {})
        : clock(clock)
        , durations(std::move(durations))
    {}

    ManualClock &clock;
    std::vector<int> durations; // seconds; negative: fail after that many seconds
    std::vector<std::size_t> started;
    std::vector<int> inFlightAtStart;
    std::vector<std::size_t> cancelled;
    int inFlight = 0;
    int highest = 0;

    static QCoro::Task<int> child(Children *log, std::size_t index, CancellationToken token)
    {
        log->started.push_back(index);
        log->inFlightAtStart.push_back(log->inFlight);
        log->highest = std::max(log->highest, ++log->inFlight);
        const int duration = log->durations[index];
        try {
            co_await log->clock.sleep(std::chrono::seconds(std::abs(duration)), token);
        } catch (const CancelledError &) {
            --log->inFlight;
            log->cancelled.push_back(index);
            throw;
        }
        --log->inFlight;
        if (duration < 0) {
            throw Error(QStringLiteral("listing %1 failed").arg(index));
        }
        co_return static_cast<int>(index);
    }

    TaskHandle<std::vector<int>> run(std::size_t limit, CancellationToken parent = {})
    {
        return startTask<std::vector<int>>(
            [this, limit](CancellationToken token) {
                return runWithConcurrencyLimit<int>(
                    durations.size(), limit,
                    [this](std::size_t index, CancellationToken child) {
                        return Children::child(this, index, child);
                    },
                    token);
            },
            parent);
    }
};

void drive(ManualClock &clock, const TaskHandle<std::vector<int>> &handle)
{
    while (!handle.isFinished() && clock.advanceToNextDeadline()) {
    }
}

QString failureText(const TaskHandle<std::vector<int>> &handle)
{
    try {
        handle.resultNow();
    } catch (const CancelledError &) {
        return QStringLiteral("cancelled");
    } catch (const Error &error) {
        return error.description();
    }
    return QStringLiteral("none");
}
} // namespace

class TestBoundedConcurrency : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void startsInOrderAndRefillsEachFreedSlot_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("limit");
        QTest::newRow("more than the limit") << 20 << 6;
        QTest::newRow("fewer than the limit") << 4 << 6;
        QTest::newRow("one at a time") << 5 << 1;
        QTest::newRow("limit zero runs one") << 3 << 0;
        QTest::newRow("nothing to run") << 0 << 6;
    }

    void startsInOrderAndRefillsEachFreedSlot()
    {
        QFETCH(int, count);
        QFETCH(int, limit);
        ManualClock clock;
        Children children{clock};
        for (int i = 0; i < count; ++i) {
            children.durations.push_back(1 + (i * 7) % 5);
        }
        auto run = children.run(std::size_t(limit));
        drive(clock, run);
        QVERIFY(run.isFinished());
        const std::vector<int> results = run.resultNow();
        QCOMPARE(int(results.size()), count);

        std::vector<std::size_t> expectedOrder(static_cast<std::size_t>(count));
        std::iota(expectedOrder.begin(), expectedOrder.end(), 0);
        QCOMPARE(children.started, expectedOrder);
        const int slots = std::max(limit, 1);
        QCOMPARE(children.highest, std::min(slots, count));
        // The first `slots` start together; every later one starts the moment one ends,
        // so a slot is never left idle while work waits.
        for (int i = 0; i < count; ++i) {
            QCOMPARE(children.inFlightAtStart[std::size_t(i)], i < slots ? i : slots - 1);
        }
    }

    void resultsComeInFinishingOrder()
    {
        ManualClock clock;
        Children children{clock, {3, 1, 2}};
        auto run = children.run(3);
        drive(clock, run);
        QCOMPARE(run.resultNow(), (std::vector<int>{1, 2, 0}));
    }

    void firstFailureCancelsTheRestAndIsRethrown()
    {
        ManualClock clock;
        // Child 2 fails after 1 s; children 3 and 4 fail later and must not mask it.
        Children children{clock, {5, 5, -1, -2, -3, 1, 1, 1}};
        auto run = children.run(5);
        drive(clock, run);
        QVERIFY(run.isFinished());
        QCOMPARE(failureText(run), QStringLiteral("listing 2 failed"));
        // Nothing beyond the first five was started; the four still running were cancelled.
        QCOMPARE(children.started.size(), std::size_t(5));
        std::sort(children.cancelled.begin(), children.cancelled.end());
        QCOMPARE(children.cancelled, (std::vector<std::size_t>{0, 1, 3, 4}));
        QCOMPARE(children.inFlight, 0);
        QCOMPARE(clock.pendingSleepers(), 0);
    }

    void parentCancellationStopsEverything()
    {
        ManualClock clock;
        Children children{clock, {2, 2, 2, 2, 2, 2, 2, 2}};
        CancellationSource parent;
        auto run = children.run(3, parent.token());
        clock.advance(1s);
        parent.cancel();
        QVERIFY(run.isFinished());
        QCOMPARE(failureText(run), QStringLiteral("cancelled"));
        QCOMPARE(children.started.size(), std::size_t(3));
        QCOMPARE(children.cancelled.size(), std::size_t(3));
        QCOMPARE(clock.pendingSleepers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBoundedConcurrency)
#include "tst_boundedconcurrency.moc"
