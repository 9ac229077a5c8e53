// The libcurl transport against a real TLS server on 127.0.0.1: certificates verified
// (AWS_CA_BUNDLE replacing the system's), proxies from the environment, every status and
// redirect returned as an answer, requests that would break the framing refused before
// connecting, and bounds on what a hostile server can make it hold or wait for.
#include "aws/curlhttptransport.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::row;

namespace {

// Records each request and answers it with `reply` (holds it unanswered when empty), then
// closes the connection.
class TlsTestServer : public QObject
{
public:
    // The answer to every request, given at start.
    QByteArray reply;
    QList<QByteArray> requests;
    int acceptedConnections = 0;
    int closedConnections = 0;

    bool start(const QSslConfiguration &tls, const QByteArray &answer)
    {
        reply = answer;
        m_server.setSslConfiguration(tls);
        connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, &TlsTestServer::accept);
        // Counted as the handshake starts: a refused one never becomes a pending connection.
        connect(&m_server, &QSslServer::startedEncryptionHandshake, this,
                [this] { ++acceptedConnections; });
        return m_server.listen(QHostAddress::LocalHost);
    }

    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QUrl(QStringLiteral("https://%1:%2/client/register").arg(host).arg(port()));
    }

private:
    void accept()
    {
        while (auto *socket = qobject_cast<QSslSocket *>(m_server.nextPendingConnection())) {
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QIODevice::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                for (qsizetype end; (end = buffer->indexOf("\r\n\r\n")) >= 0;) {
                    const QByteArray head = buffer->left(end).toLower();
                    const qsizetype at = head.indexOf("\r\ncontent-length:");
                    const qsizetype size =
                        end + 4 +
                        (at < 0 ? 0 : head.mid(at + 17).split('\r')[0].trimmed().toLongLong());
                    if (buffer->size() < size) {
                        return;
                    }
                    requests << buffer->left(size);
                    buffer->remove(0, size);
                    socket->write(reply);
                    if (!reply.isEmpty()) {
                        socket->disconnectFromHost();
                    }
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

QByteArray httpReply(int status, const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Some Reason\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

HttpRequest requestTo(const QByteArray &method, const QUrl &url)
{
    HttpRequest request;
    request.method = method;
    request.url = url;
    return request;
}

HttpRequest postTo(const QUrl &url)
{
    HttpRequest request = requestTo("POST", url);
    request.headers = {{"Content-Type", "application/json"}, {"x-amz-sso_bearer_token", "tok"}};
    request.body = R"({"clientName":"Tessera"})";
    return request;
}
} // namespace

class TestCurlHttpTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_certificates;
    // A certificate for 127.0.0.1 (and no other name) and the server's side of it.
    const QString m_bundle = m_certificates.filePath(QStringLiteral("cert.pem"));
    QSslConfiguration m_tls = QSslConfiguration::defaultConfiguration();

    template<typename E = TransportError>
    static std::optional<E> failureOf(HttpTransport &transport, const HttpRequest &request,
                                      CancellationToken token = {})
    {
        auto run = startTask<HttpResponse>(
            [&](CancellationToken) { return transport.send(request, token); });
        test::processEventsUntil([&] { return run.isFinished(); }, 20000);
        return failureAs<E>(run);
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString key = m_certificates.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(
            QStringLiteral("openssl"),
            test::words("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                        "-days 2 -subj /CN=Tessera -addext subjectAltName=IP:127.0.0.1")
                << QStringLiteral("-keyout") << key << QStringLiteral("-out") << m_bundle);
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        m_tls.setLocalCertificate(QSslCertificate::fromPath(m_bundle).value(0));
        QFile keyFile(key);
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        m_tls.setPrivateKey(QSslKey(&keyFile, QSsl::Ec));
    }

    void init()
    {
        for (const char *name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            qunsetenv(name);
        }
        qputenv("AWS_CA_BUNDLE", QFile::encodeName(m_bundle));
    }

    void certificatesAreVerified_data()
    {
        QTest::addColumn<QString>("bundle"); // empty: the system's authorities
        QTest::addColumn<QString>("host");
        row("untrusted", "", "127.0.0.1");
        row("for another name", "cert.pem", "localhost");
        row("unreadable bundle", "missing.pem", "127.0.0.1");
    }

    void certificatesAreVerified()
    {
        QFETCH(QString, bundle);
        QFETCH(QString, host);
        qputenv("AWS_CA_BUNDLE", QFile::encodeName(m_certificates.filePath(bundle)));
        if (bundle.isEmpty()) {
            qunsetenv("AWS_CA_BUNDLE");
        }
        const bool missing = bundle == QLatin1String("missing.pem");
        TlsTestServer server;
        QVERIFY(server.start(m_tls, httpReply(200, "{}")));
        CurlHttpTransport transport;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto error = failureOf(transport, postTo(server.url(host)));
            QVERIFY(error);
            QCOMPARE(error->kind(), TransportError::Kind::tls);
            // An unreadable bundle is refused before any connection, naming the variable.
            QCOMPARE(error->description().contains(QLatin1String("AWS_CA_BUNDLE")), missing);
        }
        QVERIFY(server.requests.isEmpty());
        QCOMPARE(server.acceptedConnections == 0, missing);
    }

    void returnsEveryStatusAndRedirectAsAnAnswer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        row("200", 200, QByteArray(R"({"accessToken":"a"})"));
        row("302, not followed", 302, QByteArray());
        row("500", 500, QByteArray(R"({"message":"broken"})"));
    }

    void returnsEveryStatusAndRedirectAsAnAnswer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        TlsTestServer server;
        QVERIFY(
            server.start(m_tls, httpReply(status, body, "Location: https://127.0.0.1:1/x\r\n")));
        CurlHttpTransport transport;
        const HttpResponse response = test::waitFor(transport.send(postTo(server.url()), {}));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, body);
        QCOMPARE(response.header("location"), QByteArray("https://127.0.0.1:1/x"));
        QCOMPARE(server.requests.size(), 1);
        const QByteArray sent = server.requests.first();
        QVERIFY2(sent.startsWith("POST /client/register HTTP/1.1\r\n"), sent.constData());
        QVERIFY(sent.contains("\r\nx-amz-sso_bearer_token: tok\r\n"));
        QVERIFY(sent.endsWith("\r\nContent-Length: 24\r\n\r\n{\"clientName\":\"Tessera\"}"));
    }

    void refusesUnsafeRequestsBeforeConnecting_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("cancelled");
        const QByteArray xa = "X-A";
        row("plain http", "http", xa, QByteArray("v"), false);
        row("line break in a value", "https", xa, QByteArray("v\r\nX-B: 2"), false);
        row("NUL in a value", "https", xa, QByteArray("v\0w", 3), false);
        row("colon in a name", "https", QByteArray("X-A: 1\r\nX-B"), QByteArray("v"), false);
        row("already cancelled", "https", xa, QByteArray("v"), true);
    }

    void refusesUnsafeRequestsBeforeConnecting()
    {
        QFETCH(QString, scheme);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        QFETCH(bool, cancelled);
        TlsTestServer server;
        QVERIFY(server.start(m_tls, httpReply(200, "{}")));
        CurlHttpTransport transport;
        HttpRequest request =
            requestTo("GET", QUrl(scheme + QStringLiteral("://127.0.0.1:%1/x").arg(server.port())));
        request.headers = {{name, value}};
        CancellationSource source;
        if (cancelled) {
            source.cancel();
            QVERIFY(failureOf<CancelledError>(transport, request, source.token()));
        } else {
            QCOMPARE(failureOf(transport, request)->kind(), TransportError::Kind::other);
        }
        QCOMPARE(server.acceptedConnections, 0);
    }

    // An answer's size is bounded; a request's timeout bounds any stretch without progress,
    // its deadline the whole exchange however steadily the server trickles.
    void hostileServersAreBounded_data()
    {
        QTest::addColumn<QByteArray>("reply"); // empty: the request is never answered
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<TransportError::Kind>("kind");
        QTest::addColumn<QString>("description");
        const QByteArray big(2000, 'x');
        const auto other = TransportError::Kind::other;
        const auto timeout = TransportError::Kind::timeout;
        const char *tooLarge = "The server's answer is larger than the 1000 bytes Tessera accepts.";
        row("declared length", httpReply(200, big), 60000, 120000, other, tooLarge);
        row("until close", "HTTP/1.1 200 OK\r\n\r\n" + big, 60000, 120000, other, tooLarge);
        row("stalled", QByteArray(), 300, 120000, timeout, "The request timed out.");
        row("past the deadline", QByteArray(), 60000, 700, timeout, "The request timed out.");
    }

    void hostileServersAreBounded()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, timeoutMs);
        QFETCH(int, deadlineMs);
        QFETCH(TransportError::Kind, kind);
        QFETCH(QString, description);
        TlsTestServer server;
        QVERIFY(server.start(m_tls, reply));
        CurlHttpTransport transport(1000);
        HttpRequest request = requestTo("GET", server.url());
        request.timeout = std::chrono::milliseconds(timeoutMs);
        request.deadline = std::chrono::milliseconds(deadlineMs);
        QElapsedTimer elapsed;
        elapsed.start();
        const auto error = failureOf(transport, request);
        QVERIFY(error);
        QCOMPARE(error->description(), description);
        QCOMPARE(error->kind(), kind);
        QVERIFY2(elapsed.elapsed() < 10000, QByteArray::number(elapsed.elapsed()).constData());
    }

    void cancellingOrDestroyingEndsTheRequestInFlight_data()
    {
        QTest::addColumn<bool>("destroy");
        row("cancelled", false);
        row("transport destroyed", true);
    }

    void cancellingOrDestroyingEndsTheRequestInFlight()
    {
        QFETCH(bool, destroy);
        TlsTestServer server;
        QVERIFY(server.start(m_tls, {}));
        auto transport = std::make_unique<CurlHttpTransport>();
        auto run = startTask<HttpResponse>([&](CancellationToken t) {
            return transport->send(requestTo("GET", server.url()), t);
        });
        QVERIFY(test::processEventsUntil([&] { return !server.requests.isEmpty(); }));
        QVERIFY(!run.isFinished());
        destroy ? transport.reset() : run.cancel();
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        QVERIFY(failureAs<CancelledError>(run));
        // The connection is closed, not left open.
        QVERIFY(test::processEventsUntil([&] { return server.closedConnections == 1; }));
    }

    // An https:// proxy is spoken to over TLS: the test server only sees what came through
    // its TLS layer. NO_PROXY bypasses it.
    void httpsProxyFromTheEnvironmentIsUsedUnlessBypassed()
    {
        TlsTestServer proxy;
        QVERIFY(proxy.start(m_tls, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"));
        TlsTestServer server;
        QVERIFY(server.start(m_tls, httpReply(200, "{}")));
        qputenv("HTTPS_PROXY", QByteArray("https://127.0.0.1:") + QByteArray::number(proxy.port()));
        CurlHttpTransport proxied;
        QVERIFY(failureOf(proxied, postTo(server.url())));
        QCOMPARE(proxy.requests.size(), 1);
        QVERIFY2(proxy.requests.first().startsWith(
                     QByteArray("CONNECT 127.0.0.1:" + QByteArray::number(server.port()) + ' ')),
                 proxy.requests.first().constData());
        QVERIFY(server.requests.isEmpty());

        qputenv("NO_PROXY", "localhost,127.0.0.1");
        CurlHttpTransport direct;
        QCOMPARE(test::waitFor(direct.send(postTo(server.url()), {})).status, 200);
        QCOMPARE(proxy.requests.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCurlHttpTransport)
#include "tst_curlhttptransport.moc"
