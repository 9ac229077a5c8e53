#pragma once

#include "foundation/clock.h"

#include <QObject>
#include <QTimeZone>
#include <vector>

namespace tessera {

// A clock that only moves when told to. Sleepers wake, in deadline order, inside
// advance(); cancelling a sleeper wakes it at once with CancelledError. Used by tests
// and benchmarks to drive polling, refresh schedules and timers without waiting.
class ManualClock final : public QObject, public Clock
{
    Q_OBJECT
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC));

    time_point now() const override;
    QDateTime currentDateTime() const override;
    QCoro::Task<void> sleep(std::chrono::milliseconds duration, CancellationToken token) override;

    // Moves time forward, waking every sleeper whose deadline is reached.
    void advance(std::chrono::milliseconds by);
    // Moves time to the earliest pending deadline, if any; returns whether one woke.
    bool advanceToNextDeadline();

    int pendingSleepers() const;
    // Durations asked for by every sleep so far, in call order.
    const std::vector<std::chrono::milliseconds> &requestedSleeps() const { return m_requested; }

Q_SIGNALS:
    void sleepStarted(std::chrono::milliseconds duration);

private:
    struct Sleeper;
    std::chrono::milliseconds m_offset{0};
    time_point m_origin;
    QDateTime m_start;
    std::vector<std::shared_ptr<Sleeper>> m_sleepers;
    std::vector<std::chrono::milliseconds> m_requested;
};

} // namespace tessera
