#include "aws/adaptiveratelimiter.h"

#include "foundation/error.h"

#include <algorithm>
#include <cmath>

namespace tessera {

namespace {
// The constants of the AWS SDKs' adaptive mode.
constexpr double minimumFillRate = 0.5;
constexpr double beta = 0.7;
constexpr double scaleConstant = 0.4;
// The span over which the sending rate is measured.
constexpr double measurementWindow = 1.0;
} // namespace

AdaptiveRateLimiter::AdaptiveRateLimiter(std::shared_ptr<Clock> clock)
    : m_clock(std::move(clock))
    , m_origin(m_clock->now())
{
    m_zeroPoint = std::cbrt(m_rateAtThrottle * (1 - beta) / scaleConstant);
}

double AdaptiveRateLimiter::secondsAt(Clock::time_point at) const
{
    return std::chrono::duration<double>(at - m_origin).count();
}

void AdaptiveRateLimiter::refill(double now)
{
    if (m_lastRefill >= 0) {
        m_tokens = std::min(m_capacity, m_tokens + (now - m_lastRefill) * m_fillRate);
    }
    m_lastRefill = now;
}

void AdaptiveRateLimiter::setMaximumRate(double rate)
{
    refill(secondsAt(m_clock->now()));
    m_fillRate = std::max(rate, minimumFillRate);
    m_capacity = std::max(rate, 1.0);
    m_tokens = std::min(m_tokens, m_capacity);
}

QCoro::Task<void> AdaptiveRateLimiter::acquire(CancellationToken token)
{
    token.throwIfCancelled();
    if (!m_enabled) {
        co_return;
    }
    refill(secondsAt(m_clock->now()));
    // Take the token now, even into debt, so that concurrent callers queue up behind one
    // another instead of all waking for the same token.
    const double shortfall = 1 - m_tokens;
    m_tokens -= 1;
    if (shortfall > 0) {
        const auto clock = m_clock;
        bool cancelled = false;
        try {
            co_await clock->sleep(millisecondsFromSeconds(shortfall / m_fillRate), token);
        } catch (const CancelledError &) {
            cancelled = true;
        }
        if (cancelled) {
            // Hand the reserved token back so the callers queued behind do not wait for it.
            m_tokens += 1;
            throw CancelledError();
        }
    }
}

double AdaptiveRateLimiter::measure(double now)
{
    m_recentAnswers.push_back(now);
    while (m_recentAnswers.front() <= now - measurementWindow) {
        m_recentAnswers.pop_front();
    }
    return double(m_recentAnswers.size()) / measurementWindow;
}

double AdaptiveRateLimiter::cubicSuccess(double now) const
{
    const double elapsed = now - m_lastThrottle;
    return scaleConstant * std::pow(elapsed - m_zeroPoint, 3) + m_rateAtThrottle;
}

double AdaptiveRateLimiter::cubicThrottle(double rate, double now)
{
    m_rateAtThrottle = rate;
    m_zeroPoint = std::cbrt(m_rateAtThrottle * (1 - beta) / scaleConstant);
    m_lastThrottle = now;
    return rate * beta;
}

void AdaptiveRateLimiter::recordResponse(bool throttled, Clock::time_point sentAt)
{
    const double now = secondsAt(m_clock->now());
    const double measured = measure(now);
    if (throttled && m_enabled && secondsAt(sentAt) <= m_lastThrottle) {
        // Sent at the rate the last cut already answered for.
        return;
    }
    double rate = 0;
    if (throttled) {
        rate = cubicThrottle(m_enabled ? std::min(measured, m_fillRate) : measured, now);
        m_enabled = true;
    } else {
        rate = cubicSuccess(now);
    }
    setMaximumRate(std::min(rate, 2 * measured));
}

} // namespace tessera
