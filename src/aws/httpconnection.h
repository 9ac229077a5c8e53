#pragma once

#include "aws/httptransport.h"
#include "foundation/asyncevent.h"
#include "foundation/cancellation.h"
#include "foundation/error.h"

#include <QNetworkProxy>
#include <QObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <chrono>
#include <memory>

namespace tessera {

// A request sent on a reused connection found it closed before any byte of the answer
// came back: the server had dropped the idle connection, so the request may be repeated
// on a fresh one.
class StaleConnectionError : public TransportError
{
public:
    explicit StaleConnectionError(const TransportError &cause)
        : TransportError(cause)
    {}
};

// One HTTPS connection carrying HTTP/1.1 requests one after another, on the thread that
// made it. Its coroutines hold it by shared_ptr, so it outlives anything that waits on
// it; the shared_ptr deletes it later, because it is often let go from inside one of its
// socket's signals.
class HttpConnection final : public QObject
{
    Q_OBJECT
public:
    static std::shared_ptr<HttpConnection> create(const QSslConfiguration &tls,
                                                  const QNetworkProxy &proxy);
    ~HttpConnection() override;

    // Starts the TCP connection and TLS handshake, verifying the certificate for `host`.
    void open(const QString &host, quint16 port);

    // Handshaken, still open, and with no answer bytes left over: ready for a request.
    bool isReady() const;
    bool isClosed() const { return m_closed; }
    // Whether the last answer leaves the connection open for another request.
    bool keepsAlive() const { return m_keepAlive && isReady(); }

    // Closes the connection once it has been unused for `limit`.
    void park(std::chrono::milliseconds limit);
    void unpark() { m_idleTimer.stop(); }

    // Why the connection closed, as the request that used it reports it.
    TransportError failure() const;

    // Drops the connection at once.
    void abort();
    // The owning transport is going away: waiters fail with CancelledError, woken from
    // the event loop rather than from inside the transport's destructor.
    void shutDown();

    // Waits until the handshake is done. Throws TransportError when it fails or stalls
    // for `stallLimit`, CancelledError when `token` is cancelled (the connection is then
    // aborted).
    static QCoro::Task<void> waitUntilReady(std::shared_ptr<HttpConnection> self,
                                            std::chrono::milliseconds stallLimit,
                                            CancellationToken token);

    // Sends `request` (its complete bytes) and reads the answer. Any failure aborts the
    // connection; a reused connection that closes before answering throws
    // StaleConnectionError.
    static QCoro::Task<HttpResponse> exchange(std::shared_ptr<HttpConnection> self,
                                              QByteArray request, bool head,
                                              std::chrono::milliseconds stallLimit,
                                              CancellationToken token);

Q_SIGNALS:
    void becameReady();
    // Closed by either side, failed, or idle too long: it can carry no more requests.
    void becameUnusable();

private:
    HttpConnection(const QSslConfiguration &tls, const QNetworkProxy &proxy);

    std::shared_ptr<AsyncEvent> nextChange() const { return m_change; }
    void notifyChange();
    void madeProgress();
    void markClosed();
    void cancel();
    void armStallTimer(std::chrono::milliseconds limit);
    void throwIfInterrupted(const CancellationToken &token) const;

    QSslSocket m_socket;
    QTimer m_stallTimer;
    QTimer m_idleTimer;
    std::shared_ptr<AsyncEvent> m_change = std::make_shared<AsyncEvent>();
    QByteArray m_received;
    bool m_answerStarted = false;
    bool m_keepAlive = false;
    bool m_closed = false;
    bool m_cancelled = false;
    bool m_timedOut = false;
    bool m_shutDown = false;
    std::optional<QAbstractSocket::SocketError> m_error;
    QString m_errorText;
};

} // namespace tessera
