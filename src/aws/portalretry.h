#pragma once

#include "aws/httptransport.h"
#include "core/foundation/clock.h"

#include <functional>
#include <memory>

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

// Sends the portal client's requests: retries the answers that mean "try again later"
// and paces all requests of one client. Shared by copies of a client.
class PortalThrottle
{
public:
    explicit PortalThrottle(PortalRetryOptions options);

    QCoro::Task<HttpResponse> send(std::shared_ptr<HttpTransport> session, HttpRequest request,
                                   CancellationToken token);

private:
    PortalRetryOptions m_options;
};

} // namespace tessera
