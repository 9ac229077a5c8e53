#include "aws/portalretry.h"

namespace tessera {

PortalThrottle::PortalThrottle(PortalRetryOptions options)
    : m_options(std::move(options))
{}

QCoro::Task<HttpResponse> PortalThrottle::send(std::shared_ptr<HttpTransport> session,
                                               HttpRequest request, CancellationToken token)
{
    co_return co_await session->send(std::move(request), std::move(token));
}

} // namespace tessera
