#pragma once

#include "aws/httptransport.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <memory>
#include <optional>

namespace tessera {

// HTTPS through QNetworkAccessManager, on the thread that created it (the main thread).
// Certificates are always verified, against the system CAs plus those of the PEM file
// named by AWS_CA_BUNDLE; proxies come from the environment (EnvironmentProxySettings);
// redirects are returned as answers, never followed, so the bearer token goes nowhere
// else. A request whose transfer stalls for its timeout fails with TransportError
// (timeout); cancellation aborts it and fails it with CancelledError.
class QNetworkTransport final : public HttpTransport
{
public:
    // Reads AWS_CA_BUNDLE and the proxy variables now.
    QNetworkTransport();
    ~QNetworkTransport() override;

    QCoro::Task<HttpResponse> send(HttpRequest request, CancellationToken token) override;

private:
    QNetworkAccessManager m_manager;
    QSslConfiguration m_tls;
    // Set when AWS_CA_BUNDLE names a file without a readable certificate: every request
    // then fails with it rather than silently trusting less (or more) than asked.
    std::optional<QString> m_caBundleProblem;
};

// The process-wide HTTPS session, made on first use (on the main thread).
std::shared_ptr<HttpTransport> defaultHttpTransport();

} // namespace tessera
