#include "tlstestserver.h"

#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <memory>

namespace tessera::test {

bool TestCertificates::create()
{
    return m_dir.isValid() && make(QStringLiteral("trusted"), QStringLiteral("IP:127.0.0.1")) &&
           make(QStringLiteral("misnamed"), QStringLiteral("DNS:other.example"));
}

bool TestCertificates::make(const QString &name, const QString &subjectAltName)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), m_dir.filePath(name + QStringLiteral(".key")),
                   QStringLiteral("-out"), m_dir.filePath(name + QStringLiteral(".pem")),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=Tessera test"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + subjectAltName});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

TlsTestServer::~TlsTestServer()
{
    // The sockets die with the server below; their signals must not reach a half-gone us.
    for (QSslSocket *socket : std::as_const(m_open)) {
        socket->disconnect(this);
    }
}

bool TlsTestServer::start(const QString &certificatePath, const QString &keyPath)
{
    QFile certificateFile(certificatePath);
    QFile keyFile(keyPath);
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        return false;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(&certificateFile, QSsl::Pem));
    tls.setPrivateKey(QSslKey(&keyFile, QSsl::Ec, QSsl::Pem));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(tls);
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, &TlsTestServer::accept);
    return m_server.listen(QHostAddress::LocalHost);
}

QUrl TlsTestServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void TlsTestServer::closeConnections()
{
    for (QSslSocket *socket : std::as_const(m_open)) {
        socket->disconnectFromHost();
    }
}

void TlsTestServer::accept()
{
    while (auto *socket = qobject_cast<QSslSocket *>(m_server.nextPendingConnection())) {
        ++acceptedConnections;
        m_open.append(socket);
        auto buffer = std::make_shared<QByteArray>();
        auto answered = std::make_shared<int>(0);
        connect(socket, &QIODevice::readyRead, this, [this, socket, buffer, answered] {
            *buffer += socket->readAll();
            for (;;) {
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0) {
                    return;
                }
                qsizetype length = 0;
                for (const QByteArray &line : buffer->left(end).split('\n')) {
                    if (line.toLower().startsWith("content-length:")) {
                        length = line.mid(15).trimmed().toLongLong();
                    }
                }
                if (buffer->size() < end + 4 + length) {
                    return;
                }
                requests << buffer->left(end + 4 + length);
                *buffer = buffer->sliced(end + 4 + length);
                if (answersPerConnection >= 0 && *answered >= answersPerConnection) {
                    ++unansweredRequests;
                    socket->abort();
                    return;
                }
                ++*answered;
                answer(socket);
            }
        });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            ++closedConnections;
            m_open.removeAll(socket);
            socket->deleteLater();
        });
    }
}

void TlsTestServer::answer(QSslSocket *socket)
{
    if (reply.isEmpty()) {
        return;
    }
    const bool closeAfter = !keepAlive;
    if (pieceSize <= 0) {
        socket->write(reply);
        if (closeAfter) {
            socket->disconnectFromHost();
        }
        return;
    }
    // Each piece goes out on its own pass of the event loop, so the client sees the
    // answer arrive in many reads.
    auto remaining = std::make_shared<QByteArray>(reply);
    auto *pacer = new QTimer(socket);
    pacer->setInterval(1);
    connect(pacer, &QTimer::timeout, socket,
            [socket, pacer, remaining, closeAfter, size = pieceSize] {
                socket->write(remaining->left(size));
                socket->flush();
                *remaining = remaining->sliced(qMin<qsizetype>(size, remaining->size()));
                if (remaining->isEmpty()) {
                    pacer->stop();
                    pacer->deleteLater();
                    if (closeAfter) {
                        socket->disconnectFromHost();
                    }
                }
            });
    pacer->start();
}

QByteArray httpReply(int status, const QByteArray &reason, const QByteArray &body,
                     const QByteArray &extraHeaders)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

HttpRequest postTo(const QUrl &url)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"Content-Type", "application/json"}, {"x-amz-sso_bearer_token", "tok"}};
    request.body = R"({"clientName":"Tessera"})";
    return request;
}

void clearTransportEnvironment()
{
    qunsetenv("AWS_CA_BUNDLE");
    for (const char *name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        qunsetenv(name);
    }
}

} // namespace tessera::test
