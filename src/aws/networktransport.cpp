#include "aws/networktransport.h"

#include "aws/environmentproxy.h"
#include "aws/transportsupport.h"
#include "core/foundation/asyncevent.h"
#include "core/foundation/error.h"

#include <QNetworkReply>
#include <QPointer>

namespace tessera {

namespace {

struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

TransportError transportErrorFor(const QNetworkReply &reply, bool timedOut)
{
    const QString detail = reply.errorString();
    switch (reply.error()) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        if (timedOut || reply.error() != QNetworkReply::OperationCanceledError) {
            return requestTimedOutError();
        }
        return TransportError(TransportError::Kind::other, detail);
    case QNetworkReply::SslHandshakeFailedError:
        return tlsHandshakeError(detail);
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return connectionError(detail);
    default:
        return TransportError(TransportError::Kind::other, detail);
    }
}

} // namespace

QNetworkTransport::QNetworkTransport()
    : m_tls(QSslConfiguration::defaultConfiguration())
{
    m_manager.setProxyFactory(
        new EnvironmentProxyFactory(EnvironmentProxySettings::fromEnvironment()));
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_manager.setAutoDeleteReplies(false);

    m_tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const CaBundle bundle = caBundleFromEnvironment();
    m_caBundleProblem = bundle.problem;
    if (!bundle.certificates.isEmpty()) {
        m_tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + bundle.certificates);
    }
}

QNetworkTransport::~QNetworkTransport() = default;

QCoro::Task<HttpResponse> QNetworkTransport::send(HttpRequest request, CancellationToken token)
{
    token.throwIfCancelled();
    if (m_caBundleProblem) {
        throw TransportError(TransportError::Kind::tls, *m_caBundleProblem);
    }
    QNetworkRequest networkRequest(request.url);
    for (const auto &[name, value] : request.headers) {
        networkRequest.setRawHeader(name, value);
    }
    networkRequest.setSslConfiguration(m_tls);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::ManualRedirectPolicy);
    networkRequest.setTransferTimeout(static_cast<int>(request.timeout.count()));

    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(
        m_manager.sendCustomRequest(networkRequest, request.method, request.body));
    auto finished = std::make_shared<AsyncEvent>();
    QObject::connect(reply.get(), &QNetworkReply::finished, reply.get(),
                     [finished] { finished->set(); });
    // Shared: the reply (and this connection) may outlive the coroutine until deleteLater.
    auto cancelled = std::make_shared<bool>(false);
    token.onCancelled(reply.get(), [cancelled, raw = QPointer<QNetworkReply>(reply.get())] {
        *cancelled = true;
        if (raw) {
            raw->abort();
        }
    });
    if (!reply->isFinished()) {
        co_await *finished;
    }
    if (*cancelled || token.isCancelled()) {
        throw CancelledError();
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        // An abort we did not ask for comes from the transfer timeout.
        throw transportErrorFor(*reply, reply->error() == QNetworkReply::OperationCanceledError);
    }
    HttpResponse response;
    response.status = status.toInt();
    for (const auto &[name, value] : reply->rawHeaderPairs()) {
        response.headers.append({name, value});
    }
    response.body = reply->readAll();
    co_return response;
}

std::shared_ptr<HttpTransport> defaultHttpTransport()
{
    static const std::shared_ptr<HttpTransport> transport = std::make_shared<QNetworkTransport>();
    return transport;
}

} // namespace tessera
