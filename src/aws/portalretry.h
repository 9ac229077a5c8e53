#pragma once

#include "aws/adaptiveratelimiter.h"
#include "aws/httptransport.h"
#include "foundation/clock.h"

#include <QDateTime>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

// How the access-portal client waits between attempts. Tests inject a ManualClock and a
// fixed random source.
struct PortalRetryOptions
{
    std::shared_ptr<Clock> clock = SystemClock::shared();
    // Uniform in [0, 1); empty means a seeded generator of the throttle's own.
    std::function<double()> random;
    int maxAttempts = 5;
};

// Whether an answer means "try again later": 429 and the transient server errors.
bool isRetryableStatus(int status);

// The wait a Retry-After header asks for (delta-seconds or an HTTP date relative to
// `now`); nullopt when absent or unreadable.
std::optional<std::chrono::milliseconds> retryAfterDelay(const HttpResponse &response,
                                                         const QDateTime &now);

// Sends the portal client's requests. IAM Identity Center throttles at about 20 requests
// a second, so a large organization's role listings meet HTTP 429: answers 429 and
// 500/502/503/504 are retried, up to maxAttempts in all, after a backoff with full jitter
// (uniform in [0, min(20 s, base × 2^retry)), base 50 ms for a throttle and 1 s for a
// server error) that is never shorter than Retry-After; a Retry-After longer than a
// minute ends the retries. Every request passes an adaptive
// rate limiter first. Shared by the copies of one client, so a whole sync is paced as one.
class PortalThrottle
{
public:
    explicit PortalThrottle(PortalRetryOptions options);

    // The last answer when the retries run out; transport failures and cancellation
    // (also during a backoff) are thrown at once.
    QCoro::Task<HttpResponse> send(std::shared_ptr<HttpTransport> session, HttpRequest request,
                                   CancellationToken token);

    const AdaptiveRateLimiter &limiter() const { return m_limiter; }
    // The backoff before retry number `retry` (1 for the first retry) after an answer with
    // `status`, before Retry-After.
    std::chrono::milliseconds backoff(int retry, int status);

private:
    PortalRetryOptions m_options;
    AdaptiveRateLimiter m_limiter;
};

} // namespace tessera
