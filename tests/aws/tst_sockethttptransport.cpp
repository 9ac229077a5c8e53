#include "aws/sockethttptransport.h"
#include "aws/transportsupport.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"
#include "transportcontracttests.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::TlsTestServer;

// What only the socket transport does: the exact request bytes, keep-alive connections,
// its own reading of answers, and connections opened ahead of a burst.
class TestSocketHttpTransport : public QObject
{
    Q_OBJECT
public:
    explicit TestSocketHttpTransport(const test::TestCertificates &certificates)
        : m_certificates(certificates)
    {}

private:
    const test::TestCertificates &m_certificates;

    bool startServer(TlsTestServer &server, bool keepAlive = true)
    {
        server.keepAlive = keepAlive;
        return server.start(m_certificates.trustedCertificate(), m_certificates.trustedKey());
    }

    // A kept-alive server that answers every request with 200.
    bool startAnswering(TlsTestServer &server)
    {
        server.reply = test::httpReply(200, "OK", "{}");
        return startServer(server);
    }

    // Sends `count` requests at once, without running the event loop in between, and
    // waits for all of them.
    static bool sendBurst(SocketHttpTransport &transport, const QUrl &url, int count)
    {
        QList<TaskHandle<HttpResponse>> runs;
        for (int i = 0; i < count; ++i) {
            runs.append(startTask<HttpResponse>([&transport, url](CancellationToken t) {
                return transport.send(getFrom(url), t);
            }));
        }
        const bool finished = test::processEventsUntil([&] {
            return std::all_of(runs.begin(), runs.end(),
                               [](auto &run) { return run.isFinished(); });
        });
        return finished && std::all_of(runs.begin(), runs.end(), [](auto &run) {
                   return !failureAs<TransportError>(run) && run.resultNow().status == 200;
               });
    }

    static HttpRequest getFrom(const QUrl &url)
    {
        HttpRequest request;
        request.url = url;
        return request;
    }

    template<typename T> static std::optional<TransportError> failureOf(TaskHandle<T> &run)
    {
        if (!test::processEventsUntil([&] { return run.isFinished(); })) {
            return std::nullopt;
        }
        return failureAs<TransportError>(run);
    }

private Q_SLOTS:
    void init()
    {
        test::clearTransportEnvironment();
        qputenv("AWS_CA_BUNDLE", m_certificates.trustedCertificate().toUtf8());
    }

    void serializesTheRequest_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray agent = "User-Agent: " + tesseraUserAgent() + "\r\n";
        QTest::newRow("post with body")
            << QByteArray("POST") << "https://oidc.us-east-1.amazonaws.com/token"
            << QByteArray("{}")
            << "POST /token HTTP/1.1\r\nHost: oidc.us-east-1.amazonaws.com\r\nX-A: 1\r\n" + agent +
                   "Content-Length: 2\r\nConnection: keep-alive\r\n\r\n{}";
        QTest::newRow("post without body")
            << QByteArray("POST") << "https://h.example:8443/x" << QByteArray()
            << "POST /x HTTP/1.1\r\nHost: h.example:8443\r\nX-A: 1\r\n" + agent +
                   "Content-Length: 0\r\nConnection: keep-alive\r\n\r\n";
        QTest::newRow("get keeps the encoded query")
            << QByteArray("GET")
            << "https://portal.sso.eu-west-1.amazonaws.com/assignment/roles?account_id=1&"
               "next_token=a%2Bb%3D%3D"
            << QByteArray()
            << "GET /assignment/roles?account_id=1&next_token=a%2Bb%3D%3D HTTP/1.1\r\n"
               "Host: portal.sso.eu-west-1.amazonaws.com\r\nX-A: 1\r\n" +
                   agent + "Connection: keep-alive\r\n\r\n";
        QTest::newRow("empty path, ipv6 host")
            << QByteArray("GET") << "https://[::1]:444" << QByteArray()
            << "GET / HTTP/1.1\r\nHost: [::1]:444\r\nX-A: 1\r\n" + agent +
                   "Connection: keep-alive\r\n\r\n";
    }

    void serializesTheRequest()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, url);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, expected);
        HttpRequest request;
        request.method = method;
        request.url = QUrl(url);
        request.body = body;
        // The transport frames the request itself; a caller's framing headers are dropped.
        request.headers = {{"X-A", "1"}, {"Content-Length", "99"}, {"Connection", "close"}};
        QCOMPARE(SocketHttpTransport::serialize(request), expected);
    }

    void sendsTheSerializedRequestOverTheWire()
    {
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        SocketHttpTransport transport;
        const HttpRequest request = test::postTo(server.url());
        QCOMPARE(test::waitFor(transport.send(request, {})).status, 200);
        QCOMPARE(server.requests, QList<QByteArray>{SocketHttpTransport::serialize(request)});
        QVERIFY(server.requests.first().contains("\r\nHost: 127.0.0.1:"));
    }

    void refusesUnsafeRequests_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("headerValue");
        QTest::newRow("plain http") << "http://127.0.0.1:%1/x" << QByteArray("v");
        QTest::newRow("header injection") << "https://127.0.0.1:%1/x" << QByteArray("v\r\nX-B: 2");
    }

    void refusesUnsafeRequests()
    {
        QFETCH(QString, url);
        QFETCH(QByteArray, headerValue);
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        SocketHttpTransport transport;
        HttpRequest request = getFrom(QUrl(url.arg(server.port())));
        request.headers = {{"X-A", headerValue}};
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(request, t); });
        const auto error = failureOf(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::other);
        QCOMPARE(server.acceptedConnections, 0);
    }

    void cancelledBeforeSendingDoesNotConnect()
    {
        TlsTestServer server;
        QVERIFY(startServer(server));
        SocketHttpTransport transport;
        CancellationSource source;
        source.cancel();
        auto sent = transport.send(test::postTo(server.url()), source.token());
        auto run = startTask<HttpResponse>([&](CancellationToken) { return std::move(sent); });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        QVERIFY(failureAs<CancelledError>(run));
        QCOMPARE(server.acceptedConnections, 0);
    }

    void readsEveryShapeOfAnswer_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("serverKeepsAlive");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("connectionsForTwo");

        const QByteArray sized = test::httpReply(200, "OK", R"({"roleList":[]})");
        const QByteArray chunked =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            "5;ext=1\r\nhello\r\nB\r\n, chunked!!\r\n0\r\nX-Trailer: t\r\n\r\n";
        QTest::newRow("content length, kept alive") << QByteArray("GET") << sized << true << 0
                                                    << 200 << QByteArray(R"({"roleList":[]})") << 1;
        QTest::newRow("content length, in small pieces")
            << QByteArray("GET") << sized << true << 3 << 200 << QByteArray(R"({"roleList":[]})")
            << 1;
        QTest::newRow("chunked") << QByteArray("GET") << chunked << true << 0 << 200
                                 << QByteArray("hello, chunked!!") << 1;
        QTest::newRow("chunked, byte by byte") << QByteArray("GET") << chunked << true << 1 << 200
                                               << QByteArray("hello, chunked!!") << 1;
        QTest::newRow("connection close")
            << QByteArray("GET")
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok")
            << true << 0 << 200 << QByteArray("ok") << 2;
        QTest::newRow("http/1.0") << QByteArray("GET")
                                  << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")
                                  << true << 0 << 200 << QByteArray("ok") << 2;
        QTest::newRow("body until close")
            << QByteArray("GET") << QByteArray("HTTP/1.1 200 OK\r\n\r\nall of it") << false << 0
            << 200 << QByteArray("all of it") << 2;
        QTest::newRow("interim 100 continue")
            << QByteArray("POST")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") + test::httpReply(201, "Created", "{}")
            << true << 0 << 201 << QByteArray("{}") << 1;
        QTest::newRow("head has no body")
            << QByteArray("HEAD") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n")
            << true << 0 << 200 << QByteArray() << 1;
        QTest::newRow("304 has no body")
            << QByteArray("GET") << QByteArray("HTTP/1.1 304 Not Modified\r\nETag: x\r\n\r\n")
            << true << 0 << 304 << QByteArray() << 1;
    }

    void readsEveryShapeOfAnswer()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, reply);
        QFETCH(bool, serverKeepsAlive);
        QFETCH(int, pieceSize);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, connectionsForTwo);
        TlsTestServer server;
        QVERIFY(startServer(server, serverKeepsAlive));
        server.reply = reply;
        server.pieceSize = pieceSize;
        SocketHttpTransport transport;
        HttpRequest request = getFrom(server.url());
        request.method = method;
        for (int i = 0; i < 2; ++i) {
            const HttpResponse response = test::waitFor(transport.send(request, {}));
            QCOMPARE(response.status, status);
            QCOMPARE(response.body, body);
        }
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(server.acceptedConnections, connectionsForTwo);
    }

    void keepsHeaderOrderAndSpelling()
    {
        TlsTestServer server;
        QVERIFY(startServer(server));
        server.reply = "HTTP/1.1 200 OK\r\nX-Amzn-RequestId: r1\r\nset-cookie: a\r\n"
                       "Set-Cookie: b\r\nContent-Length: 0\r\n\r\n";
        SocketHttpTransport transport;
        const HttpResponse response = test::waitFor(transport.send(getFrom(server.url()), {}));
        const HttpHeaders expected = {{"X-Amzn-RequestId", "r1"},
                                      {"set-cookie", "a"},
                                      {"Set-Cookie", "b"},
                                      {"Content-Length", "0"}};
        QCOMPARE(response.headers, expected);
        QCOMPARE(response.header("x-amzn-requestid"), QByteArray("r1"));
    }

    void refusesBrokenAnswersAndDropsTheConnection_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("serverCloses");
        QTest::addColumn<int>("kind");
        QTest::newRow("headers too large")
            << "HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(70 * 1024, 'a') +
                   "\r\nContent-Length: 0\r\n\r\n"
            << false << int(TransportError::Kind::other);
        QTest::newRow("body too large")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\n") << false
            << int(TransportError::Kind::other);
        QTest::newRow("not http") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n") << false
                                  << int(TransportError::Kind::other);
        QTest::newRow("bad chunk size")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << false
            << int(TransportError::Kind::other);
        QTest::newRow("conflicting lengths")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nok")
            << false << int(TransportError::Kind::other);
        QTest::newRow("cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nok")
                                   << true << int(TransportError::Kind::connection);
    }

    void refusesBrokenAnswersAndDropsTheConnection()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, serverCloses);
        QFETCH(int, kind);
        TlsTestServer server;
        QVERIFY(startServer(server, !serverCloses));
        server.reply = reply;
        SocketHttpTransport transport;
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(getFrom(server.url()), t); });
        const auto error = failureOf(run);
        QVERIFY(error);
        QCOMPARE(int(error->kind()), kind);
        // The server kept it open: only the client can have closed it.
        QVERIFY(test::processEventsUntil([&] { return server.closedConnections == 1; }));
    }

    void retriesOnceWhenTheServerDroppedAKeptAliveConnection()
    {
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        server.answersPerConnection = 1;
        SocketHttpTransport transport;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(test::waitFor(transport.send(test::postTo(server.url()), {})).status, 200);
        }
        QCOMPARE(server.unansweredRequests, 2);
        QCOMPARE(server.acceptedConnections, 3);
    }

    void doesNotRetryOnAFreshConnection()
    {
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        server.answersPerConnection = 0;
        SocketHttpTransport transport;
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(test::postTo(server.url()), t); });
        const auto error = failureOf(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::connection);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.acceptedConnections, 1);
    }

    void opensAFreshConnectionAfterTheServerClosedTheIdleOne()
    {
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        SocketHttpTransport transport;
        QCOMPARE(test::waitFor(transport.send(getFrom(server.url()), {})).status, 200);
        server.closeConnections();
        QVERIFY(test::processEventsUntil([&] { return server.closedConnections == 1; }));
        QCOMPARE(test::waitFor(transport.send(getFrom(server.url()), {})).status, 200);
        QCOMPARE(server.acceptedConnections, 2);
        QCOMPARE(server.unansweredRequests, 0);
    }

    void preparedConnectionsCarryTheFollowingBurst()
    {
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        SocketHttpTransport transport;
        transport.prepareConnections(server.url(QString()), 3);
        // Asking again for no more than is being opened opens nothing more.
        transport.prepareConnections(server.url(QString()), 2);
        // Straight away, while the handshakes are still running: each request takes one.
        QVERIFY(sendBurst(transport, server.url(), 3));
        QCOMPARE(server.acceptedConnections, 3);

        // Once idle, they carry the next burst too.
        transport.prepareConnections(server.url(QString()), 3);
        QVERIFY(sendBurst(transport, server.url(), 3));
        QCOMPARE(server.requests.size(), 6);
        QCOMPARE(server.acceptedConnections, 3);
    }

    void preparedConnectionsOpenWithoutARequest()
    {
        TlsTestServer server;
        QVERIFY(startAnswering(server));
        SocketHttpTransport transport;
        // The first opens alone; the others follow once its handshake is done.
        transport.prepareConnections(server.url(QString()), 3);
        QVERIFY(test::processEventsUntil([&] { return server.acceptedConnections == 3; }));
        QVERIFY(sendBurst(transport, server.url(), 3));
        QCOMPARE(server.acceptedConnections, 3);
    }

    void destroyingTheTransportEndsRequestsInFlight()
    {
        TlsTestServer server;
        QVERIFY(startServer(server));
        auto transport = std::make_unique<SocketHttpTransport>();
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport->send(getFrom(server.url()), t); });
        QVERIFY(test::processEventsUntil([&] { return !server.requests.isEmpty(); }));
        transport.reset();
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        QVERIFY(failureAs<CancelledError>(run));
        QVERIFY(test::processEventsUntil([&] { return server.closedConnections == 1; }));
    }
};

int main(int argc, char **argv)
{
    return test::runTransportTests(
        argc, argv, [] { return std::make_unique<SocketHttpTransport>(); },
        [&](const test::TestCertificates &certificates) {
            TestSocketHttpTransport specific(certificates);
            return QTest::qExec(&specific, argc, argv);
        });
}

#include "tst_sockethttptransport.moc"
