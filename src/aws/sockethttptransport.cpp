#include "aws/sockethttptransport.h"

#include "aws/connectionpool.h"
#include "aws/transportsupport.h"
#include "foundation/logging.h"

#include <QCoreApplication>

namespace tessera {

namespace {

bool isFramingHeader(const QByteArray &name)
{
    // The transport frames each request itself; a caller's copy would contradict it.
    static const QByteArray owned[] = {"Host", "Content-Length", "Transfer-Encoding", "Connection"};
    for (const QByteArray &header : owned) {
        if (name.compare(header, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

bool isSafeHeader(const QByteArray &name, const QByteArray &value)
{
    if (name.isEmpty()) {
        return false;
    }
    for (const char c : name) {
        if (c <= ' ' || c == ':' || c == 0x7f) {
            return false;
        }
    }
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

bool requiresLength(const HttpRequest &request)
{
    return !request.body.isEmpty() || request.method == "POST" || request.method == "PUT" ||
           request.method == "PATCH";
}

TransportError unsupportedRequest(const QString &why)
{
    return TransportError(TransportError::Kind::other, why);
}

QCoro::Task<HttpResponse> exchangeOverPool(std::shared_ptr<ConnectionPool> pool,
                                           ConnectionEndpoint endpoint, QByteArray wire, bool head,
                                           std::chrono::milliseconds stallLimit,
                                           CancellationToken token)
{
    // A request that finds its reused connection closed by the server before any answer
    // is repeated once on a fresh connection, as browsers and curl do.
    bool mayReuse = true;
    for (;;) {
        QCoro::Task<ConnectionPool::Lease> acquired =
            ConnectionPool::acquire(pool, endpoint, mayReuse, stallLimit, token);
        const ConnectionPool::Lease lease = co_await acquired;
        std::optional<HttpResponse> response;
        try {
            QCoro::Task<HttpResponse> exchanged =
                HttpConnection::exchange(lease.connection, wire, head, stallLimit, token);
            response = co_await exchanged;
        } catch (const StaleConnectionError &) {
            if (!lease.reused) {
                throw;
            }
            qCDebug(lcNetwork, "A kept-alive connection was closed by the server; retrying");
        }
        if (response) {
            pool->release(lease.connection, endpoint);
            co_return std::move(*response);
        }
        mayReuse = false;
    }
}

} // namespace

SocketHttpTransport::SocketHttpTransport()
    : m_proxies(EnvironmentProxySettings::fromEnvironment())
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const CaBundle bundle = caBundleFromEnvironment();
    m_caBundleProblem = bundle.problem;
    if (!bundle.certificates.isEmpty()) {
        tls.setCaCertificates(bundle.certificates);
    }
    m_pool = ConnectionPool::create(tls);
}

SocketHttpTransport::~SocketHttpTransport()
{
    m_pool->shutDown();
}

ConnectionEndpoint SocketHttpTransport::endpointFor(const QUrl &url) const
{
    if (url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        throw unsupportedRequest(QStringLiteral("Only https URLs can be requested, not “%1”.")
                                     .arg(url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)));
    }
    ConnectionEndpoint endpoint;
    endpoint.host = url.host();
    endpoint.port = static_cast<quint16>(url.port(443));
    endpoint.proxy = m_proxies.proxyFor(url);
    return endpoint;
}

QByteArray SocketHttpTransport::serialize(const HttpRequest &request)
{
    const QUrl &url = request.url;
    QByteArray target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/')) {
        target.prepend('/');
    }
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) {
        host = '[' + host + ']';
    }
    if (url.port(443) != 443) {
        host += ':' + QByteArray::number(url.port());
    }
    if (!isSafeHeader(request.method, {}) || target.contains(' ')) {
        throw unsupportedRequest(QStringLiteral("The request line is not valid."));
    }

    QByteArray wire;
    wire.reserve(256 + request.body.size());
    wire += request.method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    bool hasUserAgent = false;
    for (const auto &[name, value] : request.headers) {
        if (!isSafeHeader(name, value)) {
            throw unsupportedRequest(QStringLiteral("The request header “%1” is not valid.")
                                         .arg(QString::fromLatin1(name)));
        }
        if (isFramingHeader(name)) {
            continue;
        }
        hasUserAgent = hasUserAgent || name.compare("User-Agent", Qt::CaseInsensitive) == 0;
        wire += name + ": " + value + "\r\n";
    }
    if (!hasUserAgent) {
        wire += "User-Agent: " + tesseraUserAgent() + "\r\n";
    }
    if (requiresLength(request)) {
        wire += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    }
    wire += "Connection: keep-alive\r\n\r\n";
    wire += request.body;
    return wire;
}

QCoro::Task<HttpResponse> SocketHttpTransport::send(HttpRequest request, CancellationToken token)
{
    token.throwIfCancelled();
    if (m_caBundleProblem) {
        throw TransportError(TransportError::Kind::tls, *m_caBundleProblem);
    }
    // Everything this object owns is read before the first suspension; the transport may
    // be gone when the exchange resumes.
    QCoro::Task<HttpResponse> exchanged =
        exchangeOverPool(m_pool, endpointFor(request.url), serialize(request),
                         request.method == "HEAD", request.timeout, token);
    co_return co_await exchanged;
}

void SocketHttpTransport::prepareConnections(const QUrl &origin, int count)
{
    if (m_caBundleProblem || origin.scheme() != QLatin1String("https") || origin.host().isEmpty()) {
        return;
    }
    m_pool->prepare(endpointFor(origin), count);
}

void SocketHttpTransport::closeConnections()
{
    m_pool->shutDown();
}

namespace {
std::shared_ptr<SocketHttpTransport> &defaultTransport()
{
    static std::shared_ptr<SocketHttpTransport> transport;
    return transport;
}

// Sockets must close while the application object exists: Qt's TLS backend looks it up
// as they do, long after static destruction would have taken it away.
void closeDefaultTransportConnections()
{
    if (const auto &transport = defaultTransport()) {
        transport->closeConnections();
    }
}
} // namespace

std::shared_ptr<HttpTransport> defaultHttpTransport()
{
    auto &transport = defaultTransport();
    if (!transport) {
        transport = std::make_shared<SocketHttpTransport>();
        qAddPostRoutine(closeDefaultTransportConnections);
    }
    return transport;
}

} // namespace tessera
