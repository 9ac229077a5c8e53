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
constexpr double smoothing = 0.8;
constexpr double measurementBucket = 0.5;
} // namespace

AdaptiveRateLimiter::AdaptiveRateLimiter(std::shared_ptr<Clock> clock)
    : m_clock(std::move(clock))
    , m_origin(m_clock->now())
{
    m_zeroPoint = std::cbrt(m_rateAtThrottle * (1 - beta) / scaleConstant);
}

double AdaptiveRateLimiter::seconds() const
{
    return std::chrono::duration<double>(m_clock->now() - m_origin).count();
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
    refill(seconds());
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
    refill(seconds());
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
    const double bucket = std::floor(now / measurementBucket) * measurementBucket;
    ++m_requestsInBucket;
    if (bucket > m_lastBucket) {
        const double currentRate = m_requestsInBucket / (bucket - m_lastBucket);
        m_measuredRate = currentRate * smoothing + m_measuredRate * (1 - smoothing);
        m_requestsInBucket = 0;
        m_lastBucket = bucket;
    }
    return m_measuredRate;
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

void AdaptiveRateLimiter::recordResponse(bool throttled)
{
    const double now = seconds();
    const double measured = measure(now);
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
