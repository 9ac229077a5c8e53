#include "aws/curlhttptransport.h"
#include "aws/transportsupport.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"
#include "transportcontracttests.h"

#include <QElapsedTimer>
#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::TlsTestServer;

// What the libcurl transport adds to the contract: requests refused before sending, only
// the caller's headers on the wire, kept connections, and bounds on what a hostile server
// can make it hold or wait for.
class TestCurlHttpTransport : public QObject
{
    Q_OBJECT
public:
    explicit TestCurlHttpTransport(const test::TestCertificates &certificates)
        : m_certificates(certificates)
    {}

private:
    const test::TestCertificates &m_certificates;

    bool startServer(TlsTestServer &server, const QByteArray &reply, bool keepAlive = true)
    {
        server.reply = reply;
        server.keepAlive = keepAlive;
        return server.start(m_certificates.trustedCertificate(), m_certificates.trustedKey());
    }

    static HttpRequest getFrom(const QUrl &url)
    {
        HttpRequest request;
        request.url = url;
        return request;
    }

    template<typename T> static std::optional<TransportError> failureOf(TaskHandle<T> &run)
    {
        if (!test::processEventsUntil([&] { return run.isFinished(); }, 20000)) {
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

    void refusesUnsafeRequestsBeforeConnecting_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("headerName");
        QTest::addColumn<QByteArray>("headerValue");
        QTest::newRow("plain http")
            << "http://127.0.0.1:%1/x" << QByteArray("X-A") << QByteArray("v");
        QTest::newRow("line break in a value")
            << "https://127.0.0.1:%1/x" << QByteArray("X-A") << QByteArray("v\r\nX-B: 2");
        QTest::newRow("NUL in a value")
            << "https://127.0.0.1:%1/x" << QByteArray("X-A") << QByteArray("v\0w", 3);
        QTest::newRow("colon in a name")
            << "https://127.0.0.1:%1/x" << QByteArray("X-A: 1\r\nX-B") << QByteArray("v");
    }

    void refusesUnsafeRequestsBeforeConnecting()
    {
        QFETCH(QString, url);
        QFETCH(QByteArray, headerName);
        QFETCH(QByteArray, headerValue);
        TlsTestServer server;
        QVERIFY(startServer(server, test::httpReply(200, "OK", "{}")));
        CurlHttpTransport transport;
        HttpRequest request = getFrom(QUrl(url.arg(server.port())));
        request.headers = {{headerName, headerValue}};
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
        QVERIFY(startServer(server, test::httpReply(200, "OK", "{}")));
        CurlHttpTransport transport;
        CancellationSource source;
        source.cancel();
        auto sent = transport.send(test::postTo(server.url()), source.token());
        auto run = startTask<HttpResponse>([&](CancellationToken) { return std::move(sent); });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        QVERIFY(failureAs<CancelledError>(run));
        QCOMPARE(server.acceptedConnections, 0);
    }

    void sendsOnlyTheCallersHeadersOverOneKeptConnection()
    {
        TlsTestServer server;
        QVERIFY(startServer(server, test::httpReply(200, "OK", "{}")));
        CurlHttpTransport transport;
        HttpRequest request = getFrom(server.url());
        request.method = "PUT";
        // Large enough for libcurl to ask for 100-continue unless told not to.
        request.body = QByteArray(4096, 'b');
        request.headers = {{"X-Empty", ""}, {"Content-Length", "1"}, {"Connection", "close"}};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(test::waitFor(transport.send(request, {})).status, 200);
        }
        QCOMPARE(server.acceptedConnections, 1);
        QCOMPARE(server.requests.size(), 3);
        const QByteArray sent = server.requests.last();
        const QByteArray head = sent.left(sent.indexOf("\r\n\r\n") + 2);
        QVERIFY2(head.startsWith("PUT /client/register HTTP/1.1\r\n"), head.constData());
        QVERIFY2(head.contains("\r\nX-Empty:"), head.constData());
        QVERIFY2(head.contains("\r\nContent-Length: 4096\r\n"), head.constData());
        QVERIFY2(head.contains(QByteArray("\r\nUser-Agent: " + tesseraUserAgent() + "\r\n")),
                 head.constData());
        for (const char *unasked : {"Expect", "Content-Type", "Accept", "Connection: close"}) {
            QVERIFY2(!head.contains(QByteArray("\r\n").append(unasked)), unasked);
        }
    }

    void readsInterimAndPiecemealAnswers_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("chunked, byte by byte")
            << QByteArray("GET")
            << QByteArray("HTTP/1.1 200 OK\r\nX-A: 1\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "5\r\nhello\r\nB\r\n, chunked!!\r\n0\r\n\r\n")
            << 1 << 200 << QByteArray("hello, chunked!!") << QByteArray("1");
        QTest::newRow("interim 100 continue")
            << QByteArray("POST")
            << "HTTP/1.1 100 Continue\r\nX-A: interim\r\n\r\n" +
                   test::httpReply(201, "Created", "{}", "X-A: final\r\n")
            << 0 << 201 << QByteArray("{}") << QByteArray("final");
        QTest::newRow("head has no body")
            << QByteArray("HEAD")
            << QByteArray("HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 10\r\n\r\n") << 0 << 200
            << QByteArray() << QByteArray("1");
    }

    void readsInterimAndPiecemealAnswers()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, reply);
        QFETCH(int, pieceSize);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, header);
        TlsTestServer server;
        QVERIFY(startServer(server, reply));
        server.pieceSize = pieceSize;
        CurlHttpTransport transport;
        HttpRequest request = getFrom(server.url());
        request.method = method;
        const HttpResponse response = test::waitFor(transport.send(request, {}));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, body);
        QCOMPARE(response.header("x-a"), header);
        QCOMPARE(response.headers.count({"X-A", header}), 1);
    }

    void refusesAnAnswerOverTheBound_data()
    {
        QTest::addColumn<QByteArray>("reply");
        const QByteArray big(2000, 'x');
        QTest::newRow("declared length") << test::httpReply(200, "OK", big);
        QTest::newRow("chunked") << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7D0\r\n" +
                                        big + "\r\n0\r\n\r\n";
        QTest::newRow("until close") << "HTTP/1.1 200 OK\r\n\r\n" + big;
    }

    void refusesAnAnswerOverTheBound()
    {
        QFETCH(QByteArray, reply);
        TlsTestServer server;
        QVERIFY(startServer(server, reply, false));
        CurlHttpTransport transport(1000);
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(getFrom(server.url()), t); });
        const auto error = failureOf(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::other);
        QVERIFY2(error->description().contains(QStringLiteral("larger than")),
                 qPrintable(error->description()));
    }

    void tricklingServerMeetsTheDeadline()
    {
        TlsTestServer server;
        // A byte every millisecond: never stalled, never done within the deadline.
        QVERIFY(startServer(server, test::httpReply(200, "OK", QByteArray(100000, 'x'))));
        server.pieceSize = 1;
        CurlHttpTransport transport;
        HttpRequest request = getFrom(server.url());
        request.deadline = 700ms;
        QElapsedTimer elapsed;
        elapsed.start();
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport.send(request, t); });
        const auto error = failureOf(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::timeout);
        QVERIFY2(elapsed.elapsed() < 10000, QByteArray::number(elapsed.elapsed()).constData());
    }

    void httpsProxyIsSpokenToOverTls()
    {
        TlsTestServer proxy;
        QVERIFY(startServer(proxy, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", false));
        qputenv("HTTPS_PROXY", proxy.url(QString()).toEncoded());
        CurlHttpTransport transport;
        auto run = startTask<HttpResponse>([&](CancellationToken t) {
            return transport.send(getFrom(QUrl(QStringLiteral("https://127.0.0.1:9/x"))), t);
        });
        QVERIFY(failureOf(run));
        // The test server only ever sees what came through its TLS layer.
        QCOMPARE(proxy.requests.size(), 1);
        QVERIFY2(proxy.requests.first().startsWith("CONNECT 127.0.0.1:9 "),
                 proxy.requests.first().constData());
    }

    void destroyingTheTransportEndsRequestsInFlight()
    {
        TlsTestServer server;
        QVERIFY(startServer(server, {}));
        auto transport = std::make_unique<CurlHttpTransport>();
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
        argc, argv, [] { return std::make_unique<CurlHttpTransport>(); },
        [&](const test::TestCertificates &certificates) {
            TestCurlHttpTransport specific(certificates);
            return QTest::qExec(&specific, argc, argv);
        });
}

#include "tst_curlhttptransport.moc"
