#include "aws/connectionpool.h"

#include "foundation/deletelater.h"
#include "foundation/logging.h"

#include <QTimer>

namespace tessera {

namespace {

bool removeConnection(QList<std::shared_ptr<HttpConnection>> &list, HttpConnection *connection)
{
    return list.removeIf([connection](const auto &entry) { return entry.get() == connection; }) > 0;
}

} // namespace

QString ConnectionEndpoint::key() const
{
    QString key = host.toLower() + QLatin1Char(':') + QString::number(port);
    if (proxy.type() != QNetworkProxy::NoProxy) {
        key += QStringLiteral(" via %1:%2@%3:%4")
                   .arg(int(proxy.type()))
                   .arg(proxy.user(), proxy.hostName())
                   .arg(proxy.port());
    }
    return key;
}

std::shared_ptr<ConnectionPool> ConnectionPool::create(const QSslConfiguration &tls)
{
    return sharedDeletedLater(new ConnectionPool(tls));
}

ConnectionPool::ConnectionPool(const QSslConfiguration &tls)
    : m_tls(tls)
{}

std::shared_ptr<HttpConnection> ConnectionPool::open(const ConnectionEndpoint &endpoint)
{
    m_all.removeIf([](const auto &entry) { return entry.expired(); });
    auto connection = HttpConnection::create(m_tls, endpoint.proxy);
    m_all.append(connection);
    HttpConnection *raw = connection.get();
    const QString key = endpoint.key();
    connect(raw, &HttpConnection::becameReady, this, [this, raw, key] {
        // A prepared connection nobody has claimed yet waits with the idle ones.
        auto &opening = m_opening[key];
        for (qsizetype i = 0; i < opening.size(); ++i) {
            if (opening[i].get() == raw) {
                m_idle[key].append(opening.takeAt(i));
                return;
            }
        }
    });
    connect(raw, &HttpConnection::becameUnusable, this, [this, raw] {
        if (forget(raw)) {
            // Nobody waits for it; a request that needs a connection opens its own.
            qCInfo(lcNetwork, "A prepared connection closed unused: %s",
                   qUtf8Printable(raw->failure().description()));
        }
    });
    connection->open(endpoint.host, endpoint.port);
    return connection;
}

std::shared_ptr<HttpConnection> ConnectionPool::take(QList<std::shared_ptr<HttpConnection>> &list,
                                                     End end)
{
    if (list.isEmpty()) {
        return nullptr;
    }
    auto connection = end == End::newest ? list.takeLast() : list.takeFirst();
    connection->unpark();
    return connection;
}

bool ConnectionPool::forget(HttpConnection *connection)
{
    for (auto &list : m_idle) {
        removeConnection(list, connection);
    }
    bool wasOpening = false;
    for (auto &list : m_opening) {
        wasOpening = removeConnection(list, connection) || wasOpening;
    }
    return wasOpening;
}

QCoro::Task<ConnectionPool::Lease> ConnectionPool::acquire(std::shared_ptr<ConnectionPool> self,
                                                           ConnectionEndpoint endpoint,
                                                           bool mayReuse,
                                                           std::chrono::milliseconds stallLimit,
                                                           CancellationToken token)
{
    if (self->m_shutDown) {
        throw CancelledError();
    }
    const QString key = endpoint.key();
    if (mayReuse) {
        // The most recently used first: the least likely to have been dropped by the server.
        while (auto connection = self->take(self->m_idle[key], End::newest)) {
            if (connection->isReady()) {
                co_return Lease{connection, true};
            }
            connection->abort();
        }
    }
    // The first opened is the furthest through its handshake.
    if (auto prepared = self->take(self->m_opening[key], End::oldest)) {
        bool ready = false;
        try {
            QCoro::Task<void> handshake =
                HttpConnection::waitUntilReady(prepared, stallLimit, token);
            co_await handshake;
            ready = true;
        } catch (const TransportError &error) {
            if (error.kind() == TransportError::Kind::timeout) {
                throw;
            }
            // Whatever went wrong, a connection of our own reports it properly.
            qCDebug(lcNetwork, "Prepared connection failed: %s",
                    qUtf8Printable(error.description()));
        }
        if (ready) {
            co_return Lease{prepared, false};
        }
    }
    if (self->m_shutDown) {
        throw CancelledError();
    }
    if (const auto deferred = self->m_deferred.find(key); deferred != self->m_deferred.end()) {
        if (--*deferred <= 0) {
            self->m_deferred.erase(deferred);
        }
    }
    auto connection = self->open(endpoint);
    QCoro::Task<void> handshake = HttpConnection::waitUntilReady(connection, stallLimit, token);
    co_await handshake;
    co_return Lease{connection, false};
}

void ConnectionPool::release(const std::shared_ptr<HttpConnection> &connection,
                             const ConnectionEndpoint &endpoint)
{
    auto &idle = m_idle[endpoint.key()];
    if (m_shutDown || !connection->keepsAlive() || idle.size() >= maxIdlePerEndpoint) {
        connection->abort();
        return;
    }
    connection->park(idleLimit);
    idle.append(connection);
}

void ConnectionPool::prepare(const ConnectionEndpoint &endpoint, int count)
{
    if (m_shutDown) {
        return;
    }
    const QString key = endpoint.key();
    const qsizetype wanted = std::min(count, maxIdlePerEndpoint);
    const qsizetype underway =
        m_idle.value(key).size() + m_opening.value(key).size() + m_deferred.value(key);
    const qsizetype needed = wanted - underway;
    if (needed <= 0) {
        return;
    }
    if (underway > 0 || needed == 1) {
        for (qsizetype i = 0; i < needed; ++i) {
            openPrepared(endpoint);
        }
        return;
    }
    // Nothing to this endpoint is open yet, so the first request of the burst will wait
    // for the first connection. Handshakes cost both ends real work: made all at once
    // they would all finish late, so the others start once the first is ready and its
    // request is on the way. A request that comes first opens its own connection in
    // place of one of them.
    const auto first = openPrepared(endpoint);
    m_deferred[key] = needed - 1;
    connect(
        first.get(), &HttpConnection::becameReady, this,
        [this, endpoint, key] {
            QTimer::singleShot(0, this, [this, endpoint, key] {
                for (qsizetype rest = m_deferred.take(key); rest > 0 && !m_shutDown; --rest) {
                    openPrepared(endpoint);
                }
            });
        },
        Qt::SingleShotConnection);
    connect(
        first.get(), &HttpConnection::becameUnusable, this, [this, key] { m_deferred.remove(key); },
        Qt::SingleShotConnection);
}

std::shared_ptr<HttpConnection> ConnectionPool::openPrepared(const ConnectionEndpoint &endpoint)
{
    auto connection = open(endpoint);
    // Unclaimed, it is closed like any idle connection.
    connection->park(idleLimit);
    m_opening[endpoint.key()].append(connection);
    return connection;
}

void ConnectionPool::shutDown()
{
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    const auto all = m_all;
    for (const auto &entry : all) {
        if (auto connection = entry.lock()) {
            connection->shutDown();
        }
    }
    m_idle.clear();
    m_opening.clear();
    m_deferred.clear();
}

} // namespace tessera
