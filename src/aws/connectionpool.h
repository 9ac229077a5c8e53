#pragma once

#include "aws/httpconnection.h"

#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QSslConfiguration>
#include <memory>

namespace tessera {

// Where a connection goes: the server, and the proxy that tunnels to it (if any).
struct ConnectionEndpoint
{
    QString host;
    quint16 port = 443;
    QNetworkProxy proxy;

    // Connections are shared only between requests with equal keys.
    QString key() const;
};

// The open connections of one transport: idle ones kept for the next request to the same
// endpoint, and ones being opened ahead of a burst of requests. Coroutines hold the pool
// by shared_ptr, so it outlives the transport while requests finish.
class ConnectionPool final : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxIdlePerEndpoint = 8;
    static constexpr std::chrono::milliseconds idleLimit{30000};

    static std::shared_ptr<ConnectionPool> create(const QSslConfiguration &tls);

    struct Lease
    {
        std::shared_ptr<HttpConnection> connection;
        // Whether the connection has carried a request before (the server may have
        // dropped it meanwhile).
        bool reused = false;
    };

    // A handshaken connection to `endpoint`: an idle one when `mayReuse`, else one being
    // prepared, else a new one. Throws as HttpConnection::waitUntilReady does.
    static QCoro::Task<Lease> acquire(std::shared_ptr<ConnectionPool> self,
                                      ConnectionEndpoint endpoint, bool mayReuse,
                                      std::chrono::milliseconds stallLimit,
                                      CancellationToken token);

    // Takes a connection back after a complete answer: kept when the server keeps it
    // alive and there is room, else closed.
    void release(const std::shared_ptr<HttpConnection> &connection,
                 const ConnectionEndpoint &endpoint);

    // Opens connections until `count` are idle or opening for `endpoint`. When none is,
    // the first opens at once and the others once its handshake is done.
    void prepare(const ConnectionEndpoint &endpoint, int count);

    // Closes every connection; requests still waiting fail with CancelledError.
    void shutDown();

private:
    explicit ConnectionPool(const QSslConfiguration &tls);

    std::shared_ptr<HttpConnection> open(const ConnectionEndpoint &endpoint);
    std::shared_ptr<HttpConnection> openPrepared(const ConnectionEndpoint &endpoint);
    enum class End
    {
        oldest,
        newest
    };
    // Takes a connection from one end of `list` and stops its idle countdown.
    std::shared_ptr<HttpConnection> take(QList<std::shared_ptr<HttpConnection>> &list, End end);
    // Drops the pool's reference; true when it was still being opened, unclaimed.
    bool forget(HttpConnection *connection);

    QSslConfiguration m_tls;
    QHash<QString, QList<std::shared_ptr<HttpConnection>>> m_idle;
    QHash<QString, QList<std::shared_ptr<HttpConnection>>> m_opening;
    // Prepared connections that wait for the first one's handshake before they open.
    QHash<QString, qsizetype> m_deferred;
    QList<std::weak_ptr<HttpConnection>> m_all;
    bool m_shutDown = false;
};

} // namespace tessera
