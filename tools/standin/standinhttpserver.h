#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSslServer;
class QSslSocket;

namespace tessera::standin {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// Case-insensitive lookup in a header list; empty when absent.
QByteArray headerValue(const HeaderList &headers, const QByteArray &name);

struct HttpServerRequest
{
    QByteArray method;
    QByteArray target;                         // as sent: path and query
    QString path;                              // percent-decoded
    QList<QPair<QString, QString>> queryItems; // decoded, in order
    HeaderList headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const { return headerValue(headers, name); }
    std::optional<QString> queryValue(const QString &key) const;
};

// Splits and decodes "a=1&b=x%2By+z" as the AWS front ends do: a "+" is a space, so a
// client has to percent-encode a literal plus sign.
QList<QPair<QString, QString>> decodeFormEncoded(const QByteArray &encoded);

struct HttpServerResponse
{
    int status = 200;
    HeaderList headers;
    QByteArray body;
};

// Answers one request. May be called later (after a delay) and at most once; calling it
// after the client went away only settles the in-flight count.
using HttpResponder = std::function<void(HttpServerResponse)>;

// A small HTTP/1.1 server over TLS: persistent connections, Content-Length bodies,
// pipelined requests answered in order, any number of connections at once. Requests are
// handed to the handler one at a time per connection, so a slow answer holds back only
// its own connection, as with a real server behind a load balancer.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(HttpServerRequest, HttpResponder)>;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);
    ~HttpServer() override;

    bool listen(const QHostAddress &address, quint16 port, const QSslConfiguration &tls,
                QString *error);
    void close();
    quint16 port() const;

    int requestsInFlight() const { return m_inFlight; }
    int maxRequestsInFlight() const { return m_maxInFlight; }
    void resetMaxRequestsInFlight() { m_maxInFlight = m_inFlight; }
    int openConnections() const;

private:
    friend class HttpConnection;
    void acceptConnections();
    void requestStarted();
    void requestFinished();

    Handler m_handler;
    QSslServer *m_server = nullptr;
    int m_inFlight = 0;
    int m_maxInFlight = 0;
};

// Formats the reason phrase for a status line ("Too Many Requests").
QByteArray reasonPhrase(int status);

} // namespace tessera::standin
