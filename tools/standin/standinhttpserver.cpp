#include "standinhttpserver.h"

#include <QDateTime>
#include <QLocale>
#include <QLoggingCategory>
#include <QPointer>
#include <QSslServer>
#include <QSslSocket>
#include <QUrl>

namespace tessera::standin {

namespace {
Q_LOGGING_CATEGORY(lcStandIn, "com.tessera.app.StandIn")

// Limits that keep a confused or hostile client from growing our buffers without bound.
constexpr qsizetype maximumHeaderBytes = 64 * 1024;
constexpr qsizetype maximumBodyBytes = 4 * 1024 * 1024;

QByteArray httpDate()
{
    return QLocale::c()
               .toString(QDateTime::currentDateTimeUtc(),
                         QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"))
               .toLatin1() +
           " GMT";
}
} // namespace

QByteArray headerValue(const HeaderList &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

std::optional<QString> HttpServerRequest::queryValue(const QString &key) const
{
    for (const auto &[name, value] : queryItems) {
        if (name == key) {
            return value;
        }
    }
    return std::nullopt;
}

QList<QPair<QString, QString>> decodeFormEncoded(const QByteArray &encoded)
{
    QList<QPair<QString, QString>> items;
    for (const QByteArray &pair : encoded.split('&')) {
        if (pair.isEmpty()) {
            continue;
        }
        const qsizetype equals = pair.indexOf('=');
        auto decode = [](QByteArray part) {
            part.replace('+', ' ');
            return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
        };
        items.append({decode(equals < 0 ? pair : pair.left(equals)),
                      equals < 0 ? QString() : decode(pair.mid(equals + 1))});
    }
    return items;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

// One client connection. Parses requests from the byte stream and hands them to the
// server's handler one at a time; the next pipelined request waits for the answer.
class HttpConnection : public QObject
{
public:
    HttpConnection(QSslSocket *socket, HttpServer *server)
        : QObject(server)
        , m_socket(socket)
        , m_server(server)
    {
        socket->setParent(this);
        // An answer must leave at once, as a real service's would, not wait for the
        // client to acknowledge the previous segment (which it may delay).
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QSslSocket::readyRead, this, &HttpConnection::readAvailable);
        connect(socket, &QSslSocket::disconnected, this, &QObject::deleteLater);
        connect(socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            // A client hanging up is routine; anything else (a refused handshake) is only
            // the client's to report, so it is logged here.
            if (m_socket->error() != QAbstractSocket::RemoteHostClosedError) {
                qCDebug(lcStandIn, "Connection failed: %s",
                        qUtf8Printable(m_socket->errorString()));
            }
            if (m_socket->state() == QAbstractSocket::UnconnectedState) {
                deleteLater();
            }
        });
        readAvailable();
    }

    // A client that hangs up is no longer waiting, so its request stops counting as in
    // flight even though the handler may still answer it later.
    ~HttpConnection() override
    {
        if (m_pending && !*m_pending) {
            *m_pending = true;
            m_server->requestFinished();
        }
    }

private:
    void readAvailable()
    {
        m_buffer += m_socket->readAll();
        processBuffer();
    }

    void processBuffer()
    {
        while (!m_busy && !m_closing) {
            const qsizetype headerEnd = m_buffer.indexOf("\r\n\r\n");
            if (headerEnd < 0) {
                if (m_buffer.size() > maximumHeaderBytes) {
                    failAndClose(431);
                }
                return;
            }
            HttpServerRequest request;
            qsizetype contentLength = 0;
            bool keepAlive = true;
            if (!parseHead(m_buffer.left(headerEnd), request, contentLength, keepAlive)) {
                return;
            }
            const qsizetype total = headerEnd + 4 + contentLength;
            if (m_buffer.size() < total) {
                if (!m_sentContinue &&
                    request.header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0) {
                    m_sentContinue = true;
                    m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
                }
                return;
            }
            request.body = m_buffer.mid(headerEnd + 4, contentLength);
            m_buffer.remove(0, total);
            m_sentContinue = false;
            dispatch(std::move(request), keepAlive);
        }
    }

    bool parseHead(const QByteArray &head, HttpServerRequest &request, qsizetype &contentLength,
                   bool &keepAlive)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
            failAndClose(400);
            return false;
        }
        request.method = requestLine[0];
        request.target = requestLine[1];
        const bool http10 = requestLine[2] == "HTTP/1.0";
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                failAndClose(400);
                return false;
            }
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        if (!request.header("Transfer-Encoding").isEmpty()) {
            failAndClose(501);
            return false;
        }
        const QByteArray length = request.header("Content-Length");
        bool ok = true;
        contentLength = length.isEmpty() ? 0 : length.toLongLong(&ok);
        if (!ok || contentLength < 0) {
            failAndClose(400);
            return false;
        }
        if (contentLength > maximumBodyBytes) {
            failAndClose(413);
            return false;
        }
        const QByteArray connection = request.header("Connection").toLower();
        keepAlive = http10 ? connection.contains("keep-alive") : !connection.contains("close");

        const QUrl url(QString::fromLatin1(request.target), QUrl::TolerantMode);
        if (!url.isValid() || !request.target.startsWith('/')) {
            failAndClose(400);
            return false;
        }
        request.path = url.path(QUrl::FullyDecoded);
        const qsizetype question = request.target.indexOf('?');
        if (question >= 0) {
            request.queryItems = decodeFormEncoded(request.target.mid(question + 1));
        }
        return true;
    }

    void dispatch(HttpServerRequest request, bool keepAlive)
    {
        m_busy = true;
        m_server->requestStarted();
        auto answered = std::make_shared<bool>(false);
        m_pending = answered;
        QPointer<HttpConnection> self(this);
        QPointer<HttpServer> server(m_server);
        HttpResponder responder = [self, server, answered, keepAlive](HttpServerResponse response) {
            if (*answered) {
                return;
            }
            *answered = true;
            if (server) {
                server->requestFinished();
            }
            if (self) {
                self->write(response, keepAlive);
            }
        };
        m_server->m_handler(std::move(request), std::move(responder));
    }

    void write(const HttpServerResponse &response, bool keepAlive)
    {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                         reasonPhrase(response.status) + "\r\n";
        for (const auto &[name, value] : response.headers) {
            out += name + ": " + value + "\r\n";
        }
        out += "Date: " + httpDate() + "\r\n";
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
        out += "\r\n";
        out += response.body;
        m_socket->write(out);
        m_busy = false;
        if (!keepAlive) {
            m_closing = true;
            m_socket->disconnectFromHost();
            return;
        }
        processBuffer();
    }

    void failAndClose(int status)
    {
        HttpServerResponse response;
        response.status = status;
        response.headers = {{"Content-Type", "text/plain"}};
        response.body = reasonPhrase(status) + '\n';
        write(response, false);
    }

    QSslSocket *m_socket;
    HttpServer *m_server;
    QByteArray m_buffer;
    bool m_busy = false;
    bool m_closing = false;
    bool m_sentContinue = false;
    std::shared_ptr<bool> m_pending; // set once the request in hand is answered
};

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{}

HttpServer::~HttpServer()
{
    close();
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, const QSslConfiguration &tls,
                        QString *error)
{
    close();
    m_server = new QSslServer(this);
    m_server->setSslConfiguration(tls);
    // Connections are taken as soon as they are queued, so the backlog only has to absorb
    // a burst between two turns of the event loop.
    m_server->setMaxPendingConnections(256);
    connect(m_server, &QSslServer::pendingConnectionAvailable, this,
            &HttpServer::acceptConnections);
    if (!m_server->listen(address, port)) {
        if (error) {
            *error = m_server->errorString();
        }
        delete m_server;
        m_server = nullptr;
        return false;
    }
    return true;
}

void HttpServer::close()
{
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    for (HttpConnection *connection : findChildren<HttpConnection *>(Qt::FindDirectChildrenOnly)) {
        delete connection;
    }
}

quint16 HttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

int HttpServer::openConnections() const
{
    return int(findChildren<HttpConnection *>(Qt::FindDirectChildrenOnly).size());
}

void HttpServer::acceptConnections()
{
    while (m_server && m_server->hasPendingConnections()) {
        auto *socket = qobject_cast<QSslSocket *>(m_server->nextPendingConnection());
        if (socket) {
            new HttpConnection(socket, this);
        }
    }
}

void HttpServer::requestStarted()
{
    ++m_inFlight;
    m_maxInFlight = std::max(m_maxInFlight, m_inFlight);
}

void HttpServer::requestFinished()
{
    --m_inFlight;
}

} // namespace tessera::standin
