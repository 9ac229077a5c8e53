#include "transportcontracttests.h"

#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace std::chrono_literals;

namespace tessera::test {

void TransportContractTests::init()
{
    clearTransportEnvironment();
}

bool TransportContractTests::startServer(TlsTestServer &server)
{
    return server.start(m_certificates.trustedCertificate(), m_certificates.trustedKey());
}

void TransportContractTests::refusesAnUntrustedCertificate()
{
    TlsTestServer server;
    QVERIFY(startServer(server));
    server.reply = httpReply(200, "OK", "{}");
    const auto transport = m_make();
    try {
        test::waitFor(transport->send(postTo(server.url()), {}));
        QFAIL("an untrusted certificate was accepted");
    } catch (const TransportError &error) {
        QCOMPARE(error.kind(), TransportError::Kind::tls);
    }
    QVERIFY(server.requests.isEmpty());
}

void TransportContractTests::acceptsItWithTheCaBundleAndReturnsEveryStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("200") << 200 << QByteArray(R"({"accessToken":"a"})");
    QTest::newRow("204") << 204 << QByteArray();
    QTest::newRow("400") << 400 << QByteArray(R"({"error":"authorization_pending"})");
    QTest::newRow("429") << 429 << QByteArray(R"({"message":"slow"})");
    QTest::newRow("500") << 500 << QByteArray(R"({"message":"broken"})");
}

void TransportContractTests::acceptsItWithTheCaBundleAndReturnsEveryStatus()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    qputenv("AWS_CA_BUNDLE", m_certificates.trustedCertificate().toUtf8());
    TlsTestServer server;
    QVERIFY(startServer(server));
    server.reply = httpReply(status, "Some Reason", body, "Retry-After: 3\r\n");
    const auto transport = m_make();
    const HttpResponse response = test::waitFor(transport->send(postTo(server.url()), {}));
    QCOMPARE(response.status, status);
    QCOMPARE(response.body, body);
    QCOMPARE(response.header("retry-after"), QByteArray("3"));

    QCOMPARE(server.requests.size(), 1);
    const QByteArray sent = server.requests.first();
    QVERIFY2(sent.startsWith("POST /client/register HTTP/1.1\r\n"), sent.constData());
    QVERIFY(sent.contains("\r\nx-amz-sso_bearer_token: tok\r\n"));
    QVERIFY(sent.contains("\r\nContent-Length: 24\r\n"));
    QVERIFY(sent.endsWith("\r\n\r\n{\"clientName\":\"Tessera\"}"));
}

void TransportContractTests::doesNotFollowRedirects()
{
    qputenv("AWS_CA_BUNDLE", m_certificates.trustedCertificate().toUtf8());
    TlsTestServer server;
    QVERIFY(startServer(server));
    server.reply = httpReply(302, "Found", "", "Location: https://127.0.0.1:1/elsewhere\r\n");
    const auto transport = m_make();
    const HttpResponse response = test::waitFor(transport->send(postTo(server.url()), {}));
    QCOMPARE(response.status, 302);
    QCOMPARE(response.header("Location"), QByteArray("https://127.0.0.1:1/elsewhere"));
    QCOMPARE(server.requests.size(), 1);
}

void TransportContractTests::refusesACertificateForAnotherName()
{
    qputenv("AWS_CA_BUNDLE", m_certificates.misnamedCertificate().toUtf8());
    TlsTestServer server;
    QVERIFY(server.start(m_certificates.misnamedCertificate(), m_certificates.misnamedKey()));
    server.reply = httpReply(200, "OK", "{}");
    const auto transport = m_make();
    auto run = startTask<HttpResponse>(
        [&](CancellationToken t) { return transport->send(postTo(server.url()), t); });
    QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
    const auto error = failureAs<TransportError>(run);
    QVERIFY(error);
    QCOMPARE(error->kind(), TransportError::Kind::tls);
    QVERIFY(server.requests.isEmpty());
}

void TransportContractTests::unreadableCaBundleFailsEveryRequest()
{
    qputenv("AWS_CA_BUNDLE", m_certificates.missingFile().toUtf8());
    TlsTestServer server;
    QVERIFY(startServer(server));
    server.reply = httpReply(200, "OK", "{}");
    const auto transport = m_make();
    for (int i = 0; i < 2; ++i) {
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport->send(postTo(server.url()), t); });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        const auto error = failureAs<TransportError>(run);
        QVERIFY(error);
        QCOMPARE(error->kind(), TransportError::Kind::tls);
        QVERIFY(error->description().contains(QStringLiteral("AWS_CA_BUNDLE")));
    }
    QCOMPARE(server.acceptedConnections, 0);
}

void TransportContractTests::stalledTransferTimesOut()
{
    qputenv("AWS_CA_BUNDLE", m_certificates.trustedCertificate().toUtf8());
    TlsTestServer server;
    QVERIFY(startServer(server));
    const auto transport = m_make();
    HttpRequest request = postTo(server.url());
    request.timeout = 300ms;
    auto run =
        startTask<HttpResponse>([&](CancellationToken t) { return transport->send(request, t); });
    QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }, 20000));
    const auto error = failureAs<TransportError>(run);
    QVERIFY(error);
    QCOMPARE(error->kind(), TransportError::Kind::timeout);
    QCOMPARE(error->description(), QStringLiteral("The request timed out."));
    QCOMPARE(server.requests.size(), 1);
}

void TransportContractTests::cancellationAbortsTheRequestInFlight()
{
    qputenv("AWS_CA_BUNDLE", m_certificates.trustedCertificate().toUtf8());
    TlsTestServer server;
    QVERIFY(startServer(server));
    const auto transport = m_make();
    auto run = startTask<HttpResponse>(
        [&](CancellationToken t) { return transport->send(postTo(server.url()), t); });
    QVERIFY(test::processEventsUntil([&] { return !server.requests.isEmpty(); }));
    QVERIFY(!run.isFinished());
    run.cancel();
    QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
    QVERIFY(failureAs<CancelledError>(run));
    // The connection is closed, not left open.
    QVERIFY(test::processEventsUntil([&] { return server.closedConnections == 1; }));
}

void TransportContractTests::refusedConnectionIsATransportError()
{
    QTcpServer placeholder;
    QVERIFY(placeholder.listen(QHostAddress::LocalHost));
    const quint16 port = placeholder.serverPort();
    placeholder.close();
    const auto transport = m_make();
    auto run = startTask<HttpResponse>([&](CancellationToken t) {
        return transport->send(postTo(QUrl(QStringLiteral("https://127.0.0.1:%1/x").arg(port))), t);
    });
    QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
    const auto error = failureAs<TransportError>(run);
    QVERIFY(error);
    QCOMPARE(error->kind(), TransportError::Kind::connection);
}

void TransportContractTests::httpsProxyFromTheEnvironmentIsUsedUnlessBypassed()
{
    qputenv("AWS_CA_BUNDLE", m_certificates.trustedCertificate().toUtf8());
    TlsTestServer server;
    QVERIFY(startServer(server));
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
        const auto transport = m_make();
        auto run = startTask<HttpResponse>(
            [&](CancellationToken t) { return transport->send(postTo(server.url()), t); });
        QVERIFY(test::processEventsUntil([&] { return run.isFinished(); }));
        QVERIFY(failureAs<TransportError>(run));
        QVERIFY2(proxied.startsWith(
                     QByteArray("CONNECT 127.0.0.1:" + QByteArray::number(server.port()))),
                 proxied.constData());
        QVERIFY(server.requests.isEmpty());
    }
    qputenv("NO_PROXY", "localhost,127.0.0.1");
    const auto direct = m_make();
    QCOMPARE(test::waitFor(direct->send(postTo(server.url()), {})).status, 200);
    QCOMPARE(server.requests.size(), 1);
}

int runTransportTests(int argc, char **argv, TransportContractTests::Factory factory,
                      const std::function<int(const TestCertificates &)> &more)
{
    QCoreApplication app(argc, argv);
    TestCertificates certificates;
    if (!certificates.create()) {
        qCritical("Could not make the test certificates with openssl");
        return 1;
    }
    TransportContractTests contract(std::move(factory), certificates);
    const int contractFailures = QTest::qExec(&contract, argc, argv);
    return contractFailures + more(certificates);
}

} // namespace tessera::test
