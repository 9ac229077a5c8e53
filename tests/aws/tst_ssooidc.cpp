#include "aws/ssooidc.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::row;

namespace {
const char *pending = R"({"error":"authorization_pending"})";
const char *granted = R"({"accessToken":"at","expiresIn":3600,"refreshToken":"rt"})";

// What each request of the first test sends, keys in botocore's order.
const QList<QByteArray> bodies{
    R"({"clientName":"Tessera","clientType":"public","scopes":["sso:account:access"]})",
    R"({"clientId":"cid","clientSecret":"cs","startUrl":"https://x/start"})",
    R"({"clientId":"cid","clientSecret":"cs","grantType":"refresh_token",)"
    R"("refreshToken":"r\"t"})",
    R"({"clientId":"cid","clientSecret":"cs","grantType":)"
    R"("urn:ietf:params:oauth:grant-type:device_code","deviceCode":"dc"})"};

DeviceAuthResponse authorization(qint64 expiresIn, std::optional<qint64> interval)
{
    return DeviceAuthResponse{QStringLiteral("dc"), QStringLiteral("ABCD-EFGH"),
                              QStringLiteral("https://device.example/"), expiresIn, interval};
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

    TaskHandle<TokenResponse> startPolling(DeviceAuthResponse auth,
                                           const QString &region = QStringLiteral("eu-west-1"))
    {
        return startTask<TokenResponse>([c = client(region), auth](CancellationToken token) {
            return c.pollForToken(auth, QStringLiteral("cid"), QStringLiteral("cs"), token);
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
        for (const char *answer :
             {R"({"clientId":"cid","clientSecret":"cs","clientSecretExpiresAt":1767225600.5})",
              R"({"deviceCode":"dc","userCode":"UC","extra":true,)"
              R"("verificationUriComplete":"v","expiresIn":600})",
              R"({"accessToken":"at","expiresIn":28800})", granted}) {
            transport->enqueue(InMemoryHttpTransport::response(200, answer));
        }
        const auto oidc = client();
        QCOMPARE(test::waitFor(oidc.registerClient()).clientSecretExpiresAt, 1767225600.5);
        const auto device = test::waitFor(oidc.startDeviceAuthorization(
            QStringLiteral("cid"), QStringLiteral("cs"), QStringLiteral("https://x/start")));
        QCOMPARE(device.userCode, QStringLiteral("UC"));
        QVERIFY(!device.interval);
        const auto token = test::waitFor(oidc.redeemRefreshToken(
            QStringLiteral("cid"), QStringLiteral("cs"), QStringLiteral("r\"t")));
        QCOMPARE(token.accessToken, QStringLiteral("at"));
        QVERIFY(!token.refreshToken);
        auto polling = startPolling(authorization(600, 1));
        QVERIFY(test::runToEnd(*clock, polling));
        QCOMPARE(polling.resultNow().refreshToken, std::optional(QStringLiteral("rt")));

        const QList<QByteArray> paths{"client/register", "device_authorization", "token", "token"};
        QCOMPARE(transport->requestCount(), 4);
        for (int i = 0; i < 4; ++i) {
            const HttpRequest &sent = transport->requests()[i];
            QCOMPARE(sent.url.toEncoded(), "https://oidc.eu-west-1.amazonaws.com/" + paths[i]);
            QCOMPARE(sent.method, QByteArray("POST"));
            QCOMPARE(sent.headers, (HttpHeaders{{"Content-Type", "application/json"}}));
            QCOMPARE(sent.body, bodies[i]);
            QCOMPARE(sent.timeout, 60s);
        }
    }

    void unusableRegionFailsBeforeTraffic()
    {
        auto polling = startPolling(authorization(600, 5), QStringLiteral("evil.com/x"));
        QVERIFY(test::runToEnd(*clock, polling));
        const auto error = failureAs<OIDCError>(polling);
        QVERIFY(error);
        QCOMPARE(error->code(), QStringLiteral("invalid_region"));
        QCOMPARE(error->description(),
                 QStringLiteral("“evil.com/x” is not a valid AWS region — check Settings."));
        QCOMPARE(transport->requestCount(), 0);
    }

    void pollingOutcomes_data()
    {
        QTest::addColumn<qint64>("lifetime");           // of the device authorization
        QTest::addColumn<qint64>("interval");           // -1: none given, so five seconds
        QTest::addColumn<QList<QByteArray>>("answers"); // status:body, 000:a failed connection
        QTest::addColumn<QList<qint64>>("sleeps");
        QTest::addColumn<QString>("failure"); // its description, empty for a token
        const QByteArray wait = QByteArray("400:") + pending;
        const QByteArray slow = R"(400:{"error":"slow_down"})";
        const QByteArray ok = QByteArray("200:") + granted;
        const char *invalidDuration =
            "AWS returned an invalid sign-in duration. Try signing in again.";
        row("pending until granted", qint64(86400), qint64(-1),
            QList<QByteArray>{wait, R"(400:{"error":"AuthorizationPendingException"})", ok},
            QList<qint64>{5, 5, 5}, "");
        row("slow down", qint64(86400), qint64(5),
            QList<QByteArray>{slow, R"(400:{"error":"SlowDownException"})", slow, ok},
            QList<qint64>{5, 10, 15, 20}, "");
        row("longest interval, slowed down no further", qint64(86400), qint64(300),
            QList<QByteArray>{slow, slow, ok}, QList<qint64>{300, 300, 300}, "");
        row("shortest interval and token lifetime", qint64(86400), qint64(1),
            QList<QByteArray>{R"(200:{"accessToken":"at","expiresIn":1})"}, QList<qint64>{1}, "");
        // Bounds out of range are refused before sleeping or sending anything.
        for (const auto &[lifetime, interval] :
             {std::pair<qint64, qint64>{600, 0}, {600, 301}, {0, 5}, {86401, 5}}) {
            QTest::addRow("lifetime %lld, interval %lld", lifetime, interval)
                << lifetime << interval << QList<QByteArray>{ok} << QList<qint64>{}
                << QString::fromLatin1(invalidDuration);
        }
        // Anything else ends the polling. Of the service's error answers the user sees the
        // description, else the message, else the code, else the status.
        const auto failing = [ok](const char *name, const char *answer, const char *failure) {
            row(name, qint64(86400), qint64(5), QList<QByteArray>{answer, ok}, QList<qint64>{5},
                failure);
        };
        failing("description", R"(400:{"error":"e","error_description":"Gone","message":"m"})",
                "Gone");
        failing("message", R"(400:{"message":"Bad"})", "Bad");
        failing("code", R"(400:{"error":"access_denied","error_description":null})",
                "access_denied");
        failing("pending in another case", R"(400:{"error":"Authorization_Pending"})",
                "Authorization_Pending");
        failing("mistyped error", R"(400:{"error":7})", "http_400");
        failing("not json", "502:<html>Bad Gateway</html>", "http_502");
        failing("token without lifetime", R"(200:{"accessToken":"at","expiresIn":0})",
                invalidDuration);
        failing("token over a day", R"(200:{"accessToken":"at","expiresIn":86401})",
                invalidDuration);
        failing("fractional lifetime", R"(200:{"accessToken":"at","expiresIn":3600.5})",
                "The data couldn’t be read because it isn’t in the correct format. "
                "(Expected an integer for key “expiresIn”.)");
        failing("no connection", "000:offline", "offline");
    }

    void pollingOutcomes()
    {
        QFETCH(qint64, lifetime);
        QFETCH(qint64, interval);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QList<qint64>, sleeps);
        QFETCH(QString, failure);
        for (const QByteArray &answer : answers) {
            const int status = answer.left(3).toInt();
            if (status == 0) {
                transport->enqueueFailure(TransportError(TransportError::Kind::connection,
                                                         QString::fromLatin1(answer.mid(4))));
            } else {
                transport->enqueue(InMemoryHttpTransport::response(status, answer.mid(4)));
            }
        }
        auto run = startPolling(
            authorization(lifetime, interval < 0 ? std::nullopt : std::optional(interval)));
        if (!sleeps.isEmpty()) { // the first request waits for the first interval
            clock->advance(std::chrono::seconds(sleeps.first()) - 1ms);
            QCOMPARE(transport->requestCount(), 0);
        }
        QVERIFY(test::runToEnd(*clock, run));
        QCOMPARE(test::slept(*clock), sleeps);
        QCOMPARE(transport->requestCount(), sleeps.size());
        const auto error = failureAs<Error>(run);
        QCOMPARE(error ? error->description() : QString(), failure);
    }

    // Deadline 12 s after start, interval 5 s; time spent on answers counts too.
    void deadlineShortensLastSleepAndStopsPolling_data()
    {
        QTest::addColumn<int>("latencySeconds");
        QTest::addColumn<QList<qint64>>("sleeps");
        row("instant answers", 0, QList<qint64>{5, 5, 2});
        row("one-second answers", 1, QList<qint64>{5, 5});
    }

    void deadlineShortensLastSleepAndStopsPolling()
    {
        QFETCH(int, latencySeconds);
        QFETCH(QList<qint64>, sleeps);
        transport->setHandler(
            [](const HttpRequest &) { return InMemoryHttpTransport::response(400, pending); });
        transport->setLatency(clock, std::chrono::seconds(latencySeconds));
        auto run = startPolling(authorization(12, 5));
        QVERIFY(test::runToEnd(*clock, run));
        const auto error = failureAs<OIDCError>(run);
        QVERIFY(error);
        QCOMPARE(error->code(), QStringLiteral("expired_token"));
        QCOMPARE(error->description(), QStringLiteral("Sign-in timed out — try again."));
        QCOMPARE(transport->requestCount(), 2);
        QList<qint64> pollingSleeps = test::slept(*clock);
        pollingSleeps.removeAll(latencySeconds); // the transport's own waits
        QCOMPARE(pollingSleeps, sleeps);
    }

    void cancellationEndsPollingMidSleep()
    {
        auto sleeping = startPolling(authorization(600, 5));
        clock->advance(2s);
        sleeping.cancel();
        QVERIFY(failureAs<CancelledError>(sleeping));
        QCOMPARE(clock->pendingSleepers(), 0);
        clock->advance(60s);
        QCOMPARE(transport->requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSSOOIDC)
#include "tst_ssooidc.moc"
