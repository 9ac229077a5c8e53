#include "aws/ssooidc.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::jsonReply;

namespace {
const char *pending = R"({"error":"authorization_pending"})";
const char *slowDown = R"({"error":"slow_down"})";
const char *registerBody =
    R"({"clientName":"Tessera","clientType":"public","scopes":["sso:account:access"]})";
const char *deviceAuthorizationBody =
    R"({"clientId":"cid","clientSecret":"cs","startUrl":"https://x.awsapps.com/start"})";
const char *refreshBody =
    R"({"clientId":"cid","clientSecret":"cs","grantType":"refresh_token","refreshToken":"r\"t"})";
const char *deviceTokenBody = R"({"clientId":"cid","clientSecret":"secret",)"
                              R"("grantType":"urn:ietf:params:oauth:grant-type:device_code",)"
                              R"("deviceCode":"dc"})";
const char *granted = R"({"accessToken":"at","expiresIn":3600,"refreshToken":"rt"})";

DeviceAuthResponse authorization(qint64 expiresIn, std::optional<qint64> interval)
{
    return DeviceAuthResponse{QStringLiteral("dc"), QStringLiteral("ABCD-EFGH"),
                              QStringLiteral("https://device.sso.example/?user_code=ABCD-EFGH"),
                              expiresIn, interval};
}

QList<qint64> sleptSeconds(const ManualClock &clock)
{
    QList<qint64> seconds;
    for (auto sleep : clock.requestedSleeps()) {
        seconds << std::chrono::duration_cast<std::chrono::seconds>(sleep).count();
    }
    return seconds;
}
} // namespace

class TestSSOOIDC : public QObject
{
    Q_OBJECT

    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<InMemoryHttpTransport> transport;

    SSOOIDC client(const QString &region = QStringLiteral("eu-west-1"))
    {
        return SSOOIDC(region, transport, OIDCPollingClock::fromClock(clock));
    }

    TaskHandle<TokenResponse> startPolling(DeviceAuthResponse auth)
    {
        return startTask<TokenResponse>([c = client(), auth](CancellationToken token) {
            return c.pollForToken(auth, QStringLiteral("cid"), QStringLiteral("secret"), token);
        });
    }

private Q_SLOTS:
    void init()
    {
        qunsetenv("AWS_ENDPOINT_URL");
        qunsetenv("AWS_ENDPOINT_URL_SSO_OIDC");
        clock = std::make_shared<ManualClock>();
        transport = std::make_shared<InMemoryHttpTransport>();
    }

    void requestsAreJsonPostsWithKeysInOrder()
    {
        transport->enqueue(jsonReply(
            200, R"({"clientId":"cid","clientSecret":"cs","clientSecretExpiresAt":1767225600.5})"));
        transport->enqueue(jsonReply(
            200, R"({"deviceCode":"dc","userCode":"UC","verificationUriComplete":"https://v",)"
                 R"("expiresIn":600,"interval":1,"extra":true})"));
        transport->enqueue(jsonReply(200, R"({"accessToken":"at","expiresIn":28800})"));

        const auto oidc = client();
        const auto registration = test::waitFor(oidc.registerClient());
        QCOMPARE(registration.clientId, QStringLiteral("cid"));
        QCOMPARE(registration.clientSecretExpiresAt, 1767225600.5);
        const auto device = test::waitFor(
            oidc.startDeviceAuthorization(QStringLiteral("cid"), QStringLiteral("cs"),
                                          QStringLiteral("https://x.awsapps.com/start")));
        QCOMPARE(device.userCode, QStringLiteral("UC"));
        QCOMPARE(device.interval, std::optional<qint64>(1));
        const auto token = test::waitFor(oidc.redeemRefreshToken(
            QStringLiteral("cid"), QStringLiteral("cs"), QStringLiteral("r\"t")));
        QCOMPARE(token.accessToken, QStringLiteral("at"));
        QVERIFY(!token.refreshToken);

        const auto &sent = transport->requests();
        QCOMPARE(sent.size(), 3);
        const QStringList urls{sent[0].url.toString(), sent[1].url.toString(),
                               sent[2].url.toString()};
        QCOMPARE(urls,
                 (QStringList{
                     QStringLiteral("https://oidc.eu-west-1.amazonaws.com/client/register"),
                     QStringLiteral("https://oidc.eu-west-1.amazonaws.com/device_authorization"),
                     QStringLiteral("https://oidc.eu-west-1.amazonaws.com/token")}));
        for (const auto &request : sent) {
            QCOMPARE(request.method, QByteArray("POST"));
            QCOMPARE(request.headers, (HttpHeaders{{"Content-Type", "application/json"}}));
            QCOMPARE(request.timeout, 60s);
        }
        QCOMPARE(sent[0].body, QByteArray(registerBody));
        QCOMPARE(sent[1].body, QByteArray(deviceAuthorizationBody));
        QCOMPARE(sent[2].body, QByteArray(refreshBody));
    }

    void errorAnswersMapToCodeAndMessage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message"); // "-" for none
        QTest::addColumn<QString>("description");

        QTest::newRow("error and description")
            << 400
            << QByteArray(
                   R"({"error":"invalid_grant","error_description":"Refresh token is gone"})")
            << "invalid_grant"
            << "Refresh token is gone"
            << "Refresh token is gone";
        QTest::newRow("message only")
            << 400 << QByteArray(R"({"message":"Bad input"})") << "http_400"
            << "Bad input"
            << "Bad input";
        QTest::newRow("not json") << 502 << QByteArray("<html>Bad Gateway</html>") << "http_502"
                                  << "-"
                                  << "http_502";
        QTest::newRow("empty body") << 500 << QByteArray() << "http_500"
                                    << "-"
                                    << "http_500";
        QTest::newRow("description wins over message")
            << 400 << QByteArray(R"({"error_description":"desc","message":"msg"})") << "http_400"
            << "desc"
            << "desc";
        QTest::newRow("error with message")
            << 401 << QByteArray(R"({"error":"unauthorized_client","message":"m"})")
            << "unauthorized_client"
            << "m"
            << "m";
        QTest::newRow("error alone")
            << 400 << QByteArray(R"({"error":"access_denied","error_description":null})")
            << "access_denied"
            << "-"
            << "access_denied";
        QTest::newRow("mistyped field") << 400 << QByteArray(R"({"error":7})") << "http_400"
                                        << "-"
                                        << "http_400";
        QTest::newRow("json array") << 503 << QByteArray("[]") << "http_503"
                                    << "-"
                                    << "http_503";
        QTest::newRow("redirect status") << 302 << QByteArray() << "http_302"
                                         << "-"
                                         << "http_302";
    }

    void errorAnswersMapToCodeAndMessage()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(QString, description);
        transport->enqueue(InMemoryHttpTransport::response(status, body));
        const auto oidc = client();
        auto run = startTask<RegisterResponse>(
            [oidc](CancellationToken t) { return oidc.registerClient(t); });
        const auto error = failureAs<OIDCError>(run);
        QVERIFY(error);
        QCOMPARE(error->code(), code);
        QCOMPARE(error->message().value_or(QStringLiteral("-")), message);
        QCOMPARE(error->description(), description);
    }

    void transportAndDecodingFailuresPassThrough()
    {
        transport->enqueueFailure(
            TransportError(TransportError::Kind::timeout, QStringLiteral("timed out")));
        transport->enqueue(jsonReply(200, R"({"clientId":"cid","clientSecretExpiresAt":1})"));
        transport->enqueue(jsonReply(200, R"({"accessToken":"at","expiresIn":"3600"})"));
        const auto oidc = client();
        try {
            test::waitFor(oidc.registerClient());
            QFAIL("expected a transport failure");
        } catch (const TransportError &error) {
            QCOMPARE(error.kind(), TransportError::Kind::timeout);
        }
        QVERIFY_THROWS_EXCEPTION(DecodingError, test::waitFor(oidc.registerClient()));
        QVERIFY_THROWS_EXCEPTION(
            DecodingError, test::waitFor(oidc.redeemRefreshToken(
                               QStringLiteral("c"), QStringLiteral("s"), QStringLiteral("r"))));
    }

    void unusableRegionFailsEveryCallBeforeTraffic_data()
    {
        QTest::addColumn<QString>("region");
        QTest::newRow("empty") << QString();
        QTest::newRow("space") << QStringLiteral("us east-1");
        QTest::newRow("host injection") << QStringLiteral("evil.com/x");
        QTest::newRow("upper case") << QStringLiteral("US-EAST-1");
        QTest::newRow("leading hyphen") << QStringLiteral("-us-east-1");
    }

    void unusableRegionFailsEveryCallBeforeTraffic()
    {
        QFETCH(QString, region);
        const auto oidc = client(region);
        const QString expected = QStringLiteral("“") + region +
                                 QStringLiteral("” is not a valid AWS region — check Settings.");
        auto check = [&](auto run) {
            const auto error = failureAs<OIDCError>(run);
            QVERIFY(error);
            QCOMPARE(error->code(), QStringLiteral("invalid_region"));
            QCOMPARE(error->description(), expected);
        };
        check(startTask<RegisterResponse>(
            [oidc](CancellationToken t) { return oidc.registerClient(t); }));
        check(startTask<DeviceAuthResponse>([oidc](CancellationToken t) {
            return oidc.startDeviceAuthorization(QStringLiteral("c"), QStringLiteral("s"),
                                                 QStringLiteral("u"), t);
        }));
        check(startTask<TokenResponse>([oidc](CancellationToken t) {
            return oidc.redeemRefreshToken(QStringLiteral("c"), QStringLiteral("s"),
                                           QStringLiteral("r"), t);
        }));
        auto polling = startTask<TokenResponse>([oidc](CancellationToken t) {
            return oidc.pollForToken(authorization(600, 5), QStringLiteral("c"),
                                     QStringLiteral("s"), t);
        });
        QVERIFY(test::runToEnd(*clock, polling));
        check(polling);
        QCOMPARE(transport->requestCount(), 0);
    }

    void pollingIntervalBounds_data()
    {
        QTest::addColumn<qint64>("expiresIn");
        QTest::addColumn<qint64>("interval"); // -1: absent
        QTest::addColumn<qint64>("expected"); // -1: invalid_response

        QTest::newRow("default interval") << qint64(600) << qint64(-1) << qint64(5);
        QTest::newRow("longest accepted") << qint64(86400) << qint64(300) << qint64(300);
        QTest::newRow("shortest accepted") << qint64(1) << qint64(1) << qint64(1);
        QTest::newRow("interval zero") << qint64(600) << qint64(0) << qint64(-1);
        QTest::newRow("interval 301") << qint64(600) << qint64(301) << qint64(-1);
        QTest::newRow("interval negative") << qint64(600) << qint64(-5) << qint64(-1);
        QTest::newRow("expiry zero") << qint64(0) << qint64(5) << qint64(-1);
        QTest::newRow("expiry 86401") << qint64(86401) << qint64(5) << qint64(-1);
    }

    void pollingIntervalBounds()
    {
        QFETCH(qint64, expiresIn);
        QFETCH(qint64, interval);
        QFETCH(qint64, expected);
        const auto auth =
            authorization(expiresIn, interval == -1 ? std::nullopt : std::optional(interval));
        if (expected > 0) {
            QCOMPARE(SSOOIDC::validatedPollingInterval(auth), expected);
            return;
        }
        try {
            SSOOIDC::validatedPollingInterval(auth);
            QFAIL("expected invalid_response");
        } catch (const OIDCError &error) {
            QCOMPARE(error.code(), QStringLiteral("invalid_response"));
            QCOMPARE(
                error.description(),
                QStringLiteral("AWS returned an invalid sign-in duration. Try signing in again."));
        }
        // Polling refuses the same authorization before sleeping or sending anything.
        auto run = startPolling(auth);
        QVERIFY(run.isFinished());
        QCOMPARE(failureAs<OIDCError>(run)->code(), QStringLiteral("invalid_response"));
        QVERIFY(clock->requestedSleeps().empty());
        QCOMPARE(transport->requestCount(), 0);
    }

    void tokenLifetimeBounds_data()
    {
        QTest::addColumn<qint64>("expiresIn");
        QTest::addColumn<bool>("valid");
        QTest::newRow("zero") << qint64(0) << false;
        QTest::newRow("one") << qint64(1) << true;
        QTest::newRow("a day") << qint64(86400) << true;
        QTest::newRow("over a day") << qint64(86401) << false;
        QTest::newRow("negative") << qint64(-1) << false;
    }

    void tokenLifetimeBounds()
    {
        QFETCH(qint64, expiresIn);
        QFETCH(bool, valid);
        const TokenResponse token{QStringLiteral("at"), expiresIn, std::nullopt};
        if (valid) {
            QCOMPARE(SSOOIDC::validatedToken(token).expiresIn, expiresIn);
        } else {
            QVERIFY_THROWS_EXCEPTION(OIDCError, SSOOIDC::validatedToken(token));
        }
    }

    void pollsAfterEachIntervalUntilGranted()
    {
        transport->enqueue(jsonReply(400, pending));
        transport->enqueue(jsonReply(400, R"({"error":"AuthorizationPendingException"})"));
        transport->enqueue(jsonReply(200, granted));
        auto run = startPolling(authorization(600, std::nullopt));
        // The first request waits for the first interval.
        QCOMPARE(transport->requestCount(), 0);
        clock->advance(4999ms);
        QCOMPARE(transport->requestCount(), 0);
        clock->advance(1ms);
        QCOMPARE(transport->requestCount(), 1);
        QVERIFY(test::runToEnd(*clock, run));
        QCOMPARE(run.resultNow().refreshToken, std::optional(QStringLiteral("rt")));
        QCOMPARE(sleptSeconds(*clock), (QList<qint64>{5, 5, 5}));
        QCOMPARE(transport->requests().last().body, QByteArray(deviceTokenBody));
    }

    void slowDownLengthensIntervalUpToCap_data()
    {
        QTest::addColumn<qint64>("interval");
        QTest::addColumn<QList<qint64>>("sleeps");
        QTest::newRow("from 5") << qint64(5) << QList<qint64>{5, 10, 15, 20};
        QTest::newRow("from 298") << qint64(298) << QList<qint64>{298, 300, 300, 300};
    }

    void slowDownLengthensIntervalUpToCap()
    {
        QFETCH(qint64, interval);
        QFETCH(QList<qint64>, sleeps);
        transport->enqueue(jsonReply(400, slowDown));
        transport->enqueue(jsonReply(400, R"({"error":"SlowDownException"})"));
        transport->enqueue(jsonReply(400, slowDown));
        transport->enqueue(jsonReply(200, granted));
        auto run = startPolling(authorization(86400, interval));
        QVERIFY(test::runToEnd(*clock, run));
        QCOMPARE(run.resultNow().accessToken, QStringLiteral("at"));
        QCOMPARE(sleptSeconds(*clock), sleeps);
    }

    void deadlineShortensLastSleepAndStopsPolling_data()
    {
        QTest::addColumn<int>("latencySeconds");
        QTest::addColumn<QList<qint64>>("sleeps");
        QTest::addColumn<int>("requests");
        // Deadline 12 s after start, interval 5 s.
        QTest::newRow("instant answers") << 0 << QList<qint64>{5, 5, 2} << 2;
        // Time spent waiting for answers counts against the deadline too.
        QTest::newRow("one-second answers") << 1 << QList<qint64>{5, 5} << 2;
    }

    void deadlineShortensLastSleepAndStopsPolling()
    {
        QFETCH(int, latencySeconds);
        QFETCH(QList<qint64>, sleeps);
        QFETCH(int, requests);
        transport->setHandler([](const HttpRequest &) { return jsonReply(400, pending); });
        transport->setLatency(clock, std::chrono::seconds(latencySeconds));
        auto run = startPolling(authorization(12, 5));
        QVERIFY(test::runToEnd(*clock, run));
        const auto error = failureAs<OIDCError>(run);
        QVERIFY(error);
        QCOMPARE(error->code(), QStringLiteral("expired_token"));
        QCOMPARE(error->description(), QStringLiteral("Sign-in timed out — try again."));
        QCOMPARE(transport->requestCount(), requests);
        QList<qint64> pollingSleeps = sleptSeconds(*clock);
        pollingSleeps.removeAll(latencySeconds); // the transport's own waits
        QCOMPARE(pollingSleeps, sleeps);
    }

    void otherFailuresEndPollingUnchanged_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::newRow("token with zero lifetime")
            << QByteArray(R"({"accessToken":"at","expiresIn":0})") << 200 << "invalid_response";
        QTest::newRow("denied") << QByteArray(R"({"error":"access_denied"})") << 400
                                << "access_denied";
        QTest::newRow("expired device code")
            << QByteArray(R"({"error":"expired_token"})") << 400 << "expired_token";
        QTest::newRow("pending in other case")
            << QByteArray(R"({"error":"Authorization_Pending"})") << 400 << "Authorization_Pending";
        QTest::newRow("server error") << QByteArray() << 500 << "http_500";
    }

    void otherFailuresEndPollingUnchanged()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, code);
        transport->enqueue(jsonReply(400, pending));
        transport->enqueue(InMemoryHttpTransport::response(status, body));
        transport->enqueue(jsonReply(200, granted));
        auto run = startPolling(authorization(600, 5));
        QVERIFY(test::runToEnd(*clock, run));
        const auto error = failureAs<OIDCError>(run);
        QVERIFY(error);
        QCOMPARE(error->code(), code);
        QCOMPARE(transport->requestCount(), 2);
    }

    void transportFailureEndsPolling()
    {
        transport->enqueueFailure(
            TransportError(TransportError::Kind::connection, QStringLiteral("offline")));
        auto run = startPolling(authorization(600, 5));
        QVERIFY(test::runToEnd(*clock, run));
        QVERIFY(failureAs<TransportError>(run));
        QCOMPARE(transport->requestCount(), 1);
    }

    void cancellationEndsPollingMidSleepAndMidRequest()
    {
        // Mid-sleep: no request is ever sent.
        auto sleeping = startPolling(authorization(600, 5));
        clock->advance(2s);
        sleeping.cancel();
        QVERIFY(sleeping.isFinished());
        QVERIFY(failureAs<CancelledError>(sleeping));
        QCOMPARE(transport->requestCount(), 0);
        QCOMPARE(clock->pendingSleepers(), 0);

        // Mid-request: the request in flight is abandoned and polling stops.
        transport->setHandler([](const HttpRequest &) { return jsonReply(400, pending); });
        transport->setLatency(clock, 10s);
        auto requesting = startPolling(authorization(600, 5));
        clock->advance(6s);
        QCOMPARE(transport->inFlight(), 1);
        requesting.cancel();
        QVERIFY(requesting.isFinished());
        QVERIFY(failureAs<CancelledError>(requesting));
        QCOMPARE(transport->inFlight(), 0);
        clock->advance(60s);
        QCOMPARE(transport->requestCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSSOOIDC)
#include "tst_ssooidc.moc"
