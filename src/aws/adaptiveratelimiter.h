#pragma once

#include "foundation/cancellation.h"
#include "foundation/clock.h"

#include <QCoroTask>
#include <deque>
#include <memory>

namespace tessera {

// Client-side pacing after the AWS SDKs' adaptive retry mode: a token bucket whose rate
// follows CUBIC congestion control. It does nothing until the service first throttles;
// then a throttle cuts the rate to 70% of what was being sent, and each success lets it
// grow back along a cubic curve, so a long run of requests settles just under the rate
// the service allows. Main thread only; waiters are served in order.
//
// Two choices differ from the SDKs, whose limiter collapses on a short burst of parallel
// requests: the sending rate is measured over the last second (the service's burst is a
// second's worth), not in smoothed half-second buckets that still read zero when the
// first 429 arrives; and the rate is cut once per throttle episode, as TCP cuts once per
// window: a 429 for a request sent before the last cut says nothing about the new rate.
class AdaptiveRateLimiter
{
public:
    explicit AdaptiveRateLimiter(std::shared_ptr<Clock> clock);

    // Waits until one more request may be sent (at once while not yet throttled).
    QCoro::Task<void> acquire(CancellationToken token);

    // Feeds back the answer to a request sent at `sentAt`: throttled (HTTP 429) or not.
    void recordResponse(bool throttled, Clock::time_point sentAt);

    bool isEnabled() const { return m_enabled; }
    // Requests per second the bucket currently allows.
    double fillRate() const { return m_fillRate; }
    // Requests answered during the last second.
    double measuredRate() const { return double(m_recentAnswers.size()); }

private:
    double secondsAt(Clock::time_point at) const;
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

    // When the answers of the last second arrived, in seconds since m_origin.
    std::deque<double> m_recentAnswers;

    // CUBIC state: the rate at the last throttle and when it happened.
    double m_rateAtThrottle = 0.5;
    double m_lastThrottle = 0;
    double m_zeroPoint = 0;
};

} // namespace tessera
