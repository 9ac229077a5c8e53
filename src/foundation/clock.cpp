#include "foundation/clock.h"

#include "foundation/sleep.h"

#include <cmath>

namespace tessera {

Clock::~Clock() = default;

Clock::time_point SystemClock::now() const
{
    return std::chrono::steady_clock::now();
}

QDateTime SystemClock::currentDateTime() const
{
    return QDateTime::currentDateTimeUtc();
}

QCoro::Task<void> SystemClock::sleep(std::chrono::milliseconds duration, CancellationToken token)
{
    return sleepFor(duration, std::move(token));
}

std::shared_ptr<Clock> SystemClock::shared()
{
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}

std::chrono::milliseconds millisecondsFromSeconds(double seconds)
{
    if (!(seconds > 0)) {
        return std::chrono::milliseconds{0};
    }
    constexpr double longest = 100.0 * 365 * 24 * 3600;
    return std::chrono::milliseconds{
        static_cast<long long>(std::ceil(std::min(seconds, longest) * 1000.0))};
}

} // namespace tessera
