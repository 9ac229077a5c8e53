#pragma once

#include "foundation/cancellation.h"

#include <QCoroTask>
#include <QDateTime>
#include <chrono>
#include <memory>

namespace tessera {

// Time as the logic sees it: a monotonic instant for measuring waits, the wall-clock
// date for records (token expiry, last sync), and a cancellable sleep. Production uses
// SystemClock; tests drive a ManualClock.
class Clock
{
public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~Clock();
    virtual time_point now() const = 0;
    virtual QDateTime currentDateTime() const = 0;
    virtual QCoro::Task<void> sleep(std::chrono::milliseconds duration,
                                    CancellationToken token) = 0;
};

class SystemClock final : public Clock
{
public:
    time_point now() const override;
    QDateTime currentDateTime() const override;
    QCoro::Task<void> sleep(std::chrono::milliseconds duration, CancellationToken token) override;

    static std::shared_ptr<Clock> shared();
};

// Converts a number of seconds (possibly fractional, possibly negative) to a duration
// usable by Clock::sleep, rounding up so that a wait never ends early.
std::chrono::milliseconds millisecondsFromSeconds(double seconds);

} // namespace tessera
