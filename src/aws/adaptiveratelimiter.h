#pragma once

#include "foundation/cancellation.h"
#include "foundation/clock.h"

#include <QCoroTask>
#include <memory>

namespace tessera {

// Client-side pacing as the AWS SDKs' adaptive retry mode does it: a token bucket whose
// rate follows CUBIC congestion control. It does nothing until the service first
// throttles; then each throttle cuts the rate to 70% of what was being sent, and each
// success lets it grow back along a cubic curve, so a long run of requests settles just
// under the rate the service allows. Main thread only; waiters are served in order.
class AdaptiveRateLimiter
{
public:
    explicit AdaptiveRateLimiter(std::shared_ptr<Clock> clock);

    // Waits until one more request may be sent (at once while not yet throttled).
    QCoro::Task<void> acquire(CancellationToken token);

    // Feeds back the answer to a request: throttled (HTTP 429) or not.
    void recordResponse(bool throttled);

    bool isEnabled() const { return m_enabled; }
    // Requests per second the bucket currently allows.
    double fillRate() const { return m_fillRate; }
    // Smoothed requests per second actually being answered.
    double measuredRate() const { return m_measuredRate; }

private:
    double seconds() const;
    void refill(double now);
    void setMaximumRate(double rate);
    double measure(double now);
    double cubicSuccess(double now) const;
    double cubicThrottle(double rate, double now);

    std::shared_ptr<Clock> m_clock;
    Clock::time_point m_origin;
    bool m_enabled = false;

    // Token bucket.
    double m_fillRate = 1;
    double m_capacity = 1;
    double m_tokens = 0;
    double m_lastRefill = -1;

    // Measured send rate, in half-second buckets.
    double m_measuredRate = 0;
    double m_lastBucket = 0;
    int m_requestsInBucket = 0;

    // CUBIC state: the rate at the last throttle and when it happened.
    double m_rateAtThrottle = 0.5;
    double m_lastThrottle = 0;
    double m_zeroPoint = 0;
};

} // namespace tessera
