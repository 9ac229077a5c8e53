#pragma once

#include "aws/curltransfer.h"
#include "aws/httptransport.h"
#include "foundation/error.h"

#include <memory>
#include <optional>

namespace tessera {

class CurlMulti;

// HTTPS through libcurl's multi interface on the main thread's event loop: one multi
// handle per transport keeps connections for reuse, multiplexes over HTTP/2 when the
// server offers it, and no request or answer crosses threads. Certificates are always
// verified, against the PEM file named by AWS_CA_BUNDLE instead of the system CAs when it
// is set (as the AWS SDKs do); proxies come from https_proxy/HTTPS_PROXY and
// no_proxy/NO_PROXY as libcurl reads them (an https:// proxy is spoken to over TLS);
// redirects are returned as answers, never followed. A request fails with TransportError
// when it makes no progress for its `timeout`, outlasts its `deadline`, or its answer
// exceeds the size bound; with CancelledError as soon as its token is cancelled. Only
// https URLs are accepted.
class CurlHttpTransport final : public HttpTransport
{
public:
    static constexpr qint64 defaultMaxBodyBytes = 64 * 1024 * 1024;

    // Reads AWS_CA_BUNDLE now.
    explicit CurlHttpTransport(qint64 maxBodyBytes = defaultMaxBodyBytes);
    // Requests in flight fail with CancelledError.
    ~CurlHttpTransport() override;

    QCoro::Task<HttpResponse> send(HttpRequest request, CancellationToken token) override;

    // Closes every connection now; requests in flight fail with CancelledError, and so
    // does every later request.
    void shutDown();

private:
    std::shared_ptr<CurlMulti> m_multi;
    CurlTransferSettings m_settings;
    // Set when AWS_CA_BUNDLE names a file without a readable certificate.
    std::optional<TransportError> m_caBundleProblem;
};

// The process-wide HTTPS session, made on first use (on the main thread).
std::shared_ptr<HttpTransport> defaultHttpTransport();

} // namespace tessera
