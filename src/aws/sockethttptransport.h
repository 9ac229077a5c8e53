#pragma once

#include "aws/environmentproxy.h"
#include "aws/httptransport.h"

#include <QSslConfiguration>
#include <memory>
#include <optional>

namespace tessera {

class ConnectionPool;
struct ConnectionEndpoint;

// HTTPS/1.1 over QSslSocket with keep-alive connections, entirely on the thread that made
// it (the main thread): no request or answer crosses threads, which keeps a burst of small
// requests fast. Certificates are always verified for the URL's host, against the PEM file
// named by AWS_CA_BUNDLE instead of the system CAs when it is set (as the AWS SDKs do);
// proxies come from the environment (EnvironmentProxySettings) and are reached by CONNECT
// tunnels; redirects are returned as answers, never followed. A transfer that stalls for
// the request's timeout fails with TransportError (timeout); cancellation aborts the
// connection and fails with CancelledError. Only https URLs are accepted.
class SocketHttpTransport final : public HttpTransport
{
public:
    // Reads AWS_CA_BUNDLE and the proxy variables now.
    SocketHttpTransport();
    // Closes every connection; requests in flight fail with CancelledError.
    ~SocketHttpTransport() override;

    QCoro::Task<HttpResponse> send(HttpRequest request, CancellationToken token) override;
    void prepareConnections(const QUrl &origin, int count) override;

    // Closes every connection now; requests in flight fail with CancelledError, and so
    // does every later request.
    void closeConnections();

    // The bytes of `request` as sent on the wire, up to and including its body. Throws
    // TransportError (other) for a header that would break the framing.
    static QByteArray serialize(const HttpRequest &request);

private:
    ConnectionEndpoint endpointFor(const QUrl &url) const;

    EnvironmentProxySettings m_proxies;
    std::shared_ptr<ConnectionPool> m_pool;
    // Set when AWS_CA_BUNDLE names a file without a readable certificate.
    std::optional<QString> m_caBundleProblem;
};

// The process-wide HTTPS session, made on first use (on the main thread).
std::shared_ptr<HttpTransport> defaultHttpTransport();

} // namespace tessera
