#include "aws/environmentproxy.h"
#include "aws/networktransport.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;

namespace {

// A one-request-per-connection HTTPS server: records each request and answers it with
// `reply`, or holds it unanswered when `reply` is empty.
class TlsTestServer : public QObject
{
    Q_OBJECT
public:
    QList<QByteArray> requests;
    QByteArray reply;
    int closedConnections = 0;

    bool start(const QString &certificatePath, const QString &keyPath)
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

    QUrl url(const QString &path = QStringLiteral("/client/register")) const
    {
        return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void accept()
    {
        while (auto *socket = m_server.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QIODevice::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
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
                requests << *buffer;
                buffer->clear();
                if (!reply.isEmpty()) {
                    socket->write(reply);
                    socket->disconnectFromHost();
                }
            });
            connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
                ++closedConnections;
                socket->deleteLater();
            });
        }
    }

    QSslServer m_server;
};

QByteArray httpReply(int status, const QByteArray &reason, const QByteArray &body,
                     const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
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

const char *proxyVariables[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY",
                                "all_proxy",   "ALL_PROXY",   "no_proxy",   "NO_PROXY"};

} // namespace

class TestNetworkTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString trustedCertificate, trustedKey, misnamedCertificate, misnamedKey;

    bool makeCertificate(const QString &name, const QString &subjectAltName)
    {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                       QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                       QStringLiteral("-keyout"), dir.filePath(name + QStringLiteral(".key")),
                       QStringLiteral("-out"), dir.filePath(name + QStringLiteral(".pem")),
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=Tessera test"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=") + subjectAltName});
        return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(makeCertificate(QStringLiteral("trusted"), QStringLiteral("IP:127.0.0.1")));
        QVERIFY(makeCertificate(QStringLiteral("misnamed"), QStringLiteral("DNS:other.example")));
        trustedCertificate = dir.filePath(QStringLiteral("trusted.pem"));
        trustedKey = dir.filePath(QStringLiteral("trusted.key"));
        misnamedCertificate = dir.filePath(QStringLiteral("misnamed.pem"));
        misnamedKey = dir.filePath(QStringLiteral("misnamed.key"));
    }

    void init()
    {
        qunsetenv("AWS_CA_BUNDLE");
        for (const char *name : proxyVariables) {
            qunsetenv(name);
        }
    }

    void refusesAnUntrustedCertificate()
    {
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        server.reply = httpReply(200, "OK", "{}");
        QNetworkTransport transport;
        try {
            test::waitFor(transport.send(postTo(server.url()), {}));
            QFAIL("an untrusted certificate was accepted");
        } catch (const TransportError &error) {
            QCOMPARE(error.kind(), TransportError::Kind::tls);
        }
        QVERIFY(server.requests.isEmpty());
    }

    void acceptsItWithTheCaBundleAndReturnsEveryStatus()
    {
        qputenv("AWS_CA_BUNDLE", trustedCertificate.toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        server.reply =
            httpReply(429, "Too Many Requests", R"({"message":"slow"})", "Retry-After: 3\r\n");
        QNetworkTransport transport;
        const HttpResponse response = test::waitFor(transport.send(postTo(server.url()), {}));
        QCOMPARE(response.status, 429);
        QCOMPARE(response.body, QByteArray(R"({"message":"slow"})"));
        QCOMPARE(response.header("retry-after"), QByteArray("3"));

        QCOMPARE(server.requests.size(), 1);
        const QByteArray sent = server.requests.first();
        QVERIFY2(sent.startsWith("POST /client/register HTTP/1.1\r\n"), sent.constData());
        QVERIFY(sent.contains("\r\nx-amz-sso_bearer_token: tok\r\n"));
        QVERIFY(sent.endsWith("\r\n\r\n{\"clientName\":\"Tessera\"}"));
    }

    void doesNotFollowRedirects()
    {
        qputenv("AWS_CA_BUNDLE", trustedCertificate.toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        server.reply = httpReply(302, "Found", "", "Location: https://127.0.0.1:1/elsewhere\r\n");
        QNetworkTransport transport;
        QCOMPARE(test::waitFor(transport.send(postTo(server.url()), {})).status, 302);
        QCOMPARE(server.requests.size(), 1);
    }

    void refusesACertificateForAnotherName()
    {
        qputenv("AWS_CA_BUNDLE", misnamedCertificate.toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(misnamedCertificate, misnamedKey));
        server.reply = httpReply(200, "OK", "{}");
        QNetworkTransport transport;
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(postTo(server.url()), t); });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        const auto error = failureAs<TransportError>(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::tls);
    }

    void unreadableCaBundleFailsEveryRequest()
    {
        qputenv("AWS_CA_BUNDLE", dir.filePath(QStringLiteral("missing.pem")).toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        QNetworkTransport transport;
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(postTo(server.url()), t); });
        const auto error = failureAs<TransportError>(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::tls);
        QVERIFY(error->description().contains(QStringLiteral("AWS_CA_BUNDLE")));
    }

    void stalledTransferTimesOut()
    {
        qputenv("AWS_CA_BUNDLE", trustedCertificate.toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        QNetworkTransport transport;
        HttpRequest request = postTo(server.url());
        request.timeout = 300ms;
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(request, t); });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }, 20000));
        const auto error = failureAs<TransportError>(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::timeout);
        QCOMPARE(server.requests.size(), 1);
    }

    void cancellationAbortsTheRequestInFlight()
    {
        qputenv("AWS_CA_BUNDLE", trustedCertificate.toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        QNetworkTransport transport;
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(postTo(server.url()), t); });
        QVERIFY(test::processEventsUntil([&] { return !server.requests.isEmpty(); }));
        QVERIFY(!run.isFinished());
        run.cancel();
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        QVERIFY(failureAs<CancelledError>(run));
        // The connection is closed, not left open.
        QVERIFY(test::processEventsUntil([&] { return server.closedConnections == 1; }));
    }

    void refusedConnectionIsATransportError()
    {
        QTcpServer placeholder;
        QVERIFY(placeholder.listen(QHostAddress::LocalHost));
        const quint16 port = placeholder.serverPort();
        placeholder.close();
        QNetworkTransport transport;
        auto run = startTask<HttpResponse>([&](CancellationToken t) {
            return transport.send(postTo(QUrl(QStringLiteral("https://127.0.0.1:%1/x").arg(port))),
                                  t);
        });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        const auto error = failureAs<TransportError>(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::connection);
    }

    void httpsProxyFromTheEnvironmentIsUsedUnlessBypassed()
    {
        qputenv("AWS_CA_BUNDLE", trustedCertificate.toUtf8());
        TlsTestServer server;
        QVERIFY(server.start(trustedCertificate, trustedKey));
        server.reply = httpReply(200, "OK", "{}");
        QTcpServer proxy;
        QVERIFY(proxy.listen(QHostAddress::LocalHost));
        QByteArray proxied;
        connect(&proxy, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = proxy.nextPendingConnection();
            connect(socket, &QIODevice::readyRead, socket, [&proxied, socket] {
                proxied += socket->readAll();
                if (proxied.contains("\r\n\r\n")) {
                    socket->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
                    socket->disconnectFromHost();
                }
            });
        });
        qputenv("HTTPS_PROXY",
                QByteArray("http://127.0.0.1:") + QByteArray::number(proxy.serverPort()));
        {
            QNetworkTransport transport;
            auto run = startTask<HttpResponse>(
                [&](CancellationToken t) { return transport.send(postTo(server.url()), t); });
            QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
            QVERIFY(failureAs<TransportError>(run));
            QVERIFY2(proxied.startsWith(
                         QByteArray("CONNECT 127.0.0.1:" + QByteArray::number(server.port()))),
                     proxied.constData());
            QVERIFY(server.requests.isEmpty());
        }
        qputenv("NO_PROXY", "localhost,127.0.0.1");
        QNetworkTransport direct;
        QCOMPARE(test::waitFor(direct.send(postTo(server.url()), {})).status, 200);
        QCOMPARE(server.requests.size(), 1);
    }

    void proxySelection_data()
    {
        QTest::addColumn<QStringList>("environment"); // name=value pairs
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected"); // host:port, or "direct"
        const QString aws = QStringLiteral("https://portal.sso.us-east-1.amazonaws.com/x");
        QTest::newRow("none") << QStringList{} << aws << "direct";
        QTest::newRow("upper case") << QStringList{QStringLiteral("HTTPS_PROXY=proxy.corp:3128")}
                                    << aws << "proxy.corp:3128";
        QTest::newRow("lower case wins")
            << QStringList{QStringLiteral("HTTPS_PROXY=upper:1"),
                           QStringLiteral("https_proxy=http://lower:2")}
            << aws << "lower:2";
        QTest::newRow("all_proxy fallback")
            << QStringList{QStringLiteral("ALL_PROXY=all:9")} << aws << "all:9";
        QTest::newRow("http_proxy ignored for https")
            << QStringList{QStringLiteral("http_proxy=plain:8")} << aws << "direct";
        QTest::newRow("default port")
            << QStringList{QStringLiteral("https_proxy=http://p")} << aws << "p:80";
        QTest::newRow("no_proxy domain") << QStringList{QStringLiteral("https_proxy=p:1"),
                                                        QStringLiteral("NO_PROXY=amazonaws.com")}
                                         << aws << "direct";
        QTest::newRow("no_proxy leading dot")
            << QStringList{QStringLiteral("https_proxy=p:1"),
                           QStringLiteral("no_proxy=.amazonaws.com")}
            << aws << "direct";
        QTest::newRow("no_proxy partial label")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=naws.com")}
            << aws << "p:1";
        QTest::newRow("no_proxy star")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=*")} << aws
            << "direct";
        QTest::newRow("no_proxy other port")
            << QStringList{QStringLiteral("https_proxy=p:1"),
                           QStringLiteral("no_proxy=amazonaws.com:8443")}
            << aws << "p:1";
        QTest::newRow("no_proxy same port")
            << QStringList{QStringLiteral("https_proxy=p:1"),
                           QStringLiteral("no_proxy=x, amazonaws.com:443")}
            << aws << "direct";
        QTest::newRow("no_proxy cidr")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=10.0.0.0/8")}
            << "https://10.2.3.4/x"
            << "direct";
        QTest::newRow("no_proxy other address")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=10.0.0.1")}
            << "https://10.2.3.4/x"
            << "p:1";
    }

    void proxySelection()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        const auto settings = EnvironmentProxySettings::fromLookup([&](const char *name) {
            for (const QString &pair : environment) {
                if (pair.section(QLatin1Char('='), 0, 0) == QLatin1String(name)) {
                    return pair.section(QLatin1Char('='), 1);
                }
            }
            return QString();
        });
        const QNetworkProxy proxy = settings.proxyFor(QUrl(url));
        const QString actual =
            proxy.type() == QNetworkProxy::NoProxy
                ? QStringLiteral("direct")
                : proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port());
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestNetworkTransport)
#include "tst_networktransport.moc"
