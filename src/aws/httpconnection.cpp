#include "aws/httpconnection.h"

#include "aws/httpresponseparser.h"
#include "aws/transportsupport.h"
#include "foundation/deletelater.h"

#include <algorithm>
#include <limits>

namespace tessera {

namespace {

// Ties a wait to the token: cancelling aborts the connection at once.
class CancellationHook
{
public:
    CancellationHook(const CancellationToken &token, QObject *context, std::function<void()> abort)
        : m_connection(token.onCancelled(context, std::move(abort)))
    {}
    ~CancellationHook() { QObject::disconnect(m_connection); }
    CancellationHook(const CancellationHook &) = delete;
    CancellationHook &operator=(const CancellationHook &) = delete;

private:
    QMetaObject::Connection m_connection;
};

// Aborts the connection when the exchange ends any other way than with a whole answer.
class AbortUnlessFinished
{
public:
    explicit AbortUnlessFinished(HttpConnection &connection)
        : m_connection(connection)
    {}
    ~AbortUnlessFinished()
    {
        if (!finished) {
            m_connection.abort();
        }
    }
    AbortUnlessFinished(const AbortUnlessFinished &) = delete;
    AbortUnlessFinished &operator=(const AbortUnlessFinished &) = delete;
    bool finished = false;

private:
    HttpConnection &m_connection;
};

} // namespace

std::shared_ptr<HttpConnection> HttpConnection::create(const QSslConfiguration &tls,
                                                       const QNetworkProxy &proxy)
{
    return sharedDeletedLater(new HttpConnection(tls, proxy));
}

HttpConnection::HttpConnection(const QSslConfiguration &tls, const QNetworkProxy &proxy)
{
    // An explicit NoProxy, so Qt's application-wide proxy never applies behind our back.
    m_socket.setProxy(proxy);
    m_socket.setSslConfiguration(tls);
    m_stallTimer.setSingleShot(true);
    m_idleTimer.setSingleShot(true);

    // Requests and answers are single small writes that should leave at once, not wait
    // for the peer's acknowledgement of the previous segment.
    connect(&m_socket, &QSslSocket::connected, this,
            [this] { m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(&m_socket, &QSslSocket::encrypted, this, [this] {
        madeProgress();
        notifyChange();
        Q_EMIT becameReady();
    });
    connect(&m_socket, &QIODevice::readyRead, this, [this] {
        m_received += m_socket.readAll();
        m_answerStarted = true;
        madeProgress();
        notifyChange();
    });
    connect(&m_socket, &QIODevice::bytesWritten, this, [this] { madeProgress(); });
    connect(&m_socket, &QAbstractSocket::connected, this, [this] { madeProgress(); });
    connect(&m_socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                if (!m_error) {
                    m_error = error;
                    m_errorText = m_socket.errorString();
                }
                if (m_socket.state() == QAbstractSocket::UnconnectedState) {
                    markClosed();
                }
            });
    connect(&m_socket, &QAbstractSocket::disconnected, this, [this] { markClosed(); });
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        m_socket.abort();
        markClosed();
    });
    connect(&m_idleTimer, &QTimer::timeout, this, [this] { abort(); });
}

HttpConnection::~HttpConnection()
{
    m_socket.disconnect(this);
    m_socket.abort();
}

void HttpConnection::open(const QString &host, quint16 port)
{
    m_socket.setPeerVerifyName(host);
    m_socket.connectToHostEncrypted(host, port);
}

bool HttpConnection::isReady() const
{
    return !m_closed && m_socket.state() == QAbstractSocket::ConnectedState &&
           m_socket.isEncrypted() && m_received.isEmpty() && m_socket.bytesAvailable() == 0;
}

void HttpConnection::park(std::chrono::milliseconds limit)
{
    m_idleTimer.start(limit);
}

void HttpConnection::abort()
{
    m_socket.abort();
    markClosed();
}

void HttpConnection::shutDown()
{
    m_shutDown = true;
    abort();
    notifyChange();
}

void HttpConnection::notifyChange()
{
    if (m_shutDown) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                // A resumed waiter may release the last reference: take the event first.
                auto change = std::exchange(m_change, std::make_shared<AsyncEvent>());
                change->set();
            },
            Qt::QueuedConnection);
        return;
    }
    auto change = std::exchange(m_change, std::make_shared<AsyncEvent>());
    change->set();
}

void HttpConnection::madeProgress()
{
    if (m_stallTimer.isActive()) {
        m_stallTimer.start();
    }
}

void HttpConnection::markClosed()
{
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_stallTimer.stop();
    m_idleTimer.stop();
    if (m_socket.bytesAvailable() > 0) {
        m_received += m_socket.readAll();
        m_answerStarted = true;
    }
    notifyChange();
    Q_EMIT becameUnusable();
}

void HttpConnection::cancel()
{
    m_cancelled = true;
    abort();
}

void HttpConnection::armStallTimer(std::chrono::milliseconds limit)
{
    const auto longest = std::chrono::milliseconds(std::numeric_limits<int>::max());
    m_stallTimer.start(std::clamp(limit, std::chrono::milliseconds(1), longest));
}

void HttpConnection::throwIfInterrupted(const CancellationToken &token) const
{
    if (m_cancelled || m_shutDown || token.isCancelled()) {
        throw CancelledError();
    }
    if (m_timedOut) {
        throw requestTimedOutError();
    }
}

TransportError HttpConnection::failure() const
{
    if (!m_error) {
        return connectionError(QStringLiteral("The server closed the connection."));
    }
    switch (*m_error) {
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return tlsHandshakeError(m_errorText);
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return requestTimedOutError();
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::TemporaryError:
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return connectionError(m_errorText);
    default:
        return TransportError(TransportError::Kind::other, m_errorText);
    }
}

QCoro::Task<void> HttpConnection::waitUntilReady(std::shared_ptr<HttpConnection> self,
                                                 std::chrono::milliseconds stallLimit,
                                                 CancellationToken token)
{
    const CancellationHook hook(token, self.get(), [raw = self.get()] { raw->cancel(); });
    self->armStallTimer(stallLimit);
    for (;;) {
        self->throwIfInterrupted(token);
        if (self->isReady()) {
            self->m_stallTimer.stop();
            co_return;
        }
        if (self->m_closed) {
            throw self->failure();
        }
        const std::shared_ptr<AsyncEvent> change = self->nextChange();
        co_await *change;
    }
}

QCoro::Task<HttpResponse> HttpConnection::exchange(std::shared_ptr<HttpConnection> self,
                                                   QByteArray request, bool head,
                                                   std::chrono::milliseconds stallLimit,
                                                   CancellationToken token)
{
    const CancellationHook hook(token, self.get(), [raw = self.get()] { raw->cancel(); });
    AbortUnlessFinished guard(*self);
    self->m_answerStarted = false;
    self->m_keepAlive = false;
    self->armStallTimer(stallLimit);
    self->m_socket.write(request);

    HttpResponseParser parser(head);
    for (;;) {
        self->throwIfInterrupted(token);
        if (parser.consume(self->m_received)) {
            break;
        }
        if (self->m_closed) {
            if (!self->m_answerStarted) {
                throw StaleConnectionError(self->failure());
            }
            parser.finishAtClose();
            break;
        }
        const std::shared_ptr<AsyncEvent> change = self->nextChange();
        co_await *change;
    }
    self->m_stallTimer.stop();
    self->m_keepAlive = parser.keepsAlive();
    guard.finished = true;
    co_return parser.takeResponse();
}

} // namespace tessera
