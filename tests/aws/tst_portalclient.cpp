#include "aws/adaptiveratelimiter.h"
#include "aws/portalclient.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::row;

namespace {
// A page of `count` accounts numbered from `first`, with `nextToken` unless it is null.
QByteArray accountsPage(int count, const char *nextToken = nullptr, int first = 1)
{
    QByteArrayList entries;
    for (int i = first; i < first + count; ++i) {
        entries << R"({"accountId":")" + QByteArray::number(i) + R"(","accountName":"a"})";
    }
    return R"({"accountList":[)" + entries.join(',') + ']' +
           (nextToken ? QByteArray(R"(,"nextToken":")") + nextToken + "\"}" : QByteArray("}"));
}
} // namespace

class TestPortalClient : public QObject
{
    Q_OBJECT

    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<InMemoryHttpTransport> transport;

    PortalClient client(
        int maximumPageCount = 1000, std::function<double()> random = [] { return 0.5; }) const
    {
        return PortalClient(QStringLiteral("us-east-2"), QStringLiteral("token-1"), transport,
                            maximumPageCount, PortalRetryOptions{clock, std::move(random)});
    }

    TaskHandle<QList<AccountEntry>> startListing(const PortalClient &portal) const
    {
        return startTask<QList<AccountEntry>>(
            [portal](CancellationToken t) { return portal.listAccounts(t); });
    }

    void enqueue(int status, const QByteArray &body, HttpHeaders headers = {})
    {
        transport->enqueue(InMemoryHttpTransport::response(status, body, std::move(headers)));
    }

private Q_SLOTS:
    void init()
    {
        qunsetenv("AWS_ENDPOINT_URL");
        qunsetenv("AWS_ENDPOINT_URL_SSO");
        clock = std::make_shared<ManualClock>();
        transport = std::make_shared<InMemoryHttpTransport>();
    }

    void followsPagesInOrderWithTheirTokens()
    {
        enqueue(200, accountsPage(2, "T1+/=", 3));
        enqueue(200, accountsPage(1, "", 2));
        enqueue(200, accountsPage(1));
        const auto accounts = test::waitFor(client().listAccounts());
        // Neither sorted nor de-duplicated.
        QCOMPARE(test::listed(accounts, &AccountEntry::accountId), test::words("3 4 2 1"));
        enqueue(200, R"({"roleList":[{"roleName":"Zeta","accountId":"1"},{"roleName":"Admin"}]})");
        const auto roles = test::waitFor(client().listRoles(QStringLiteral("123456789012")));
        QCOMPARE(roles, test::words("Zeta Admin"));

        const QByteArray base = "https://portal.sso.us-east-2.amazonaws.com/assignment/";
        // Tokens are percent-encoded in full, "+" included; an empty token is still a token.
        const QByteArrayList urls{
            "accounts?max_result=100", "accounts?max_result=100&next_token=T1%2B%2F%3D",
            "accounts?max_result=100&next_token=", "roles?account_id=123456789012&max_result=100"};
        QCOMPARE(transport->requestCount(), 4);
        for (int i = 0; i < 4; ++i) {
            const HttpRequest &sent = transport->requests()[i];
            QCOMPARE(sent.url.toEncoded(), base + urls[i]);
            QCOMPARE(sent.method, QByteArray("GET"));
            QCOMPARE(sent.headers, (HttpHeaders{{"x-amz-sso_bearer_token", "token-1"}}));
            QCOMPARE(sent.timeout, 60s);
        }
    }

    void listingsEndOnlyWhenSound_data()
    {
        QTest::addColumn<int>("maximumPageCount");
        QTest::addColumn<QByteArrayList>("pages"); // a bare number: that status, no body
        QTest::addColumn<QString>("failure");      // the description, empty for success
        QTest::addColumn<int>("requests");
        const QByteArray withA = accountsPage(1, "A");
        const QByteArray withB = accountsPage(1, "B");
        const QByteArray last = accountsPage(1);
        const char *repeated = "AWS access portal repeated a pagination token.";
        const char *tooMany = "AWS access portal returned too many pages.";
        row("repeated token", 1000, QByteArrayList{withA, withB, withA, last}, repeated, 3);
        row("limit reached with a new token", 2, QByteArrayList{withA, withB, last}, tooMany, 2);
        row("limit reached on the last page", 2, QByteArrayList{withA, last}, "", 2);
        row("limit zero", 0, QByteArrayList{last}, tooMany, 0);
        row("accounts at the cap", 1000,
            QByteArrayList{accountsPage(60000, "A"), accountsPage(40000)}, "", 2);
        row("accounts over the cap", 1000,
            QByteArrayList{accountsPage(60000, "A"), accountsPage(40001, "B"), last},
            "AWS access portal listed too many accounts.", 2);
        row("not json", 1000, QByteArrayList{"<html/>", last}, "not valid JSON", 1);
        row("entry without name", 1000, QByteArrayList{R"({"accountList":[{"accountId":"1"}]})"},
            "No value associated with key “accountName”.", 1);
        row("numeric token", 1000, QByteArrayList{R"({"accountList":[],"nextToken":5})", last},
            "Expected a string for key “nextToken”.", 1);
        for (int status : {429, 500, 502, 503, 504}) {
            QTest::addRow("%d retried", status)
                << 1000 << QByteArrayList{QByteArray::number(status), last} << QString() << 2;
        }
        for (int status : {301, 400, 404, 501, 505}) {
            QTest::addRow("%d", status) << 1000 << QByteArrayList{QByteArray::number(status)}
                                        << QStringLiteral("returned HTTP %1.").arg(status) << 1;
        }
        row("401", 1000, QByteArrayList{"401"}, "Session expired — sign in again.", 1);
        row("403", 1000, QByteArrayList{"403"}, "Session expired — sign in again.", 1);
        row("not http", 1000, QByteArrayList{"0"}, "portal returned an invalid response.", 1);
    }

    void listingsEndOnlyWhenSound()
    {
        QFETCH(int, maximumPageCount);
        QFETCH(QByteArrayList, pages);
        QFETCH(QString, failure);
        QFETCH(int, requests);
        for (const auto &page : pages) {
            bool isStatus = false;
            const int status = page.toInt(&isStatus);
            enqueue(isStatus ? status : 200, isStatus ? QByteArray() : page);
        }
        auto run = startListing(client(maximumPageCount));
        QVERIFY(test::runToEnd(*clock, run));
        try {
            run.resultNow();
            QVERIFY2(failure.isEmpty(), "the listing was accepted");
        } catch (const Error &error) {
            QVERIFY2(!failure.isEmpty() && error.description().contains(failure),
                     qPrintable(error.description()));
        }
        QCOMPARE(transport->requestCount(), requests);
    }

    void unusableRegionSendsNothing()
    {
        const PortalClient portal(QStringLiteral("us-east-1/.."), QStringLiteral("t"), transport,
                                  9);
        const auto error = failureAs<PortalError>(startListing(portal));
        QVERIFY(error);
        QCOMPARE(error->description(),
                 QStringLiteral("“us-east-1/..” is not a valid AWS region — check Settings."));
        QCOMPARE(transport->requestCount(), 0);
    }

    void cancellationEndsABackoff()
    {
        transport->setHandler(
            [](const HttpRequest &) { return InMemoryHttpTransport::response(502); });
        auto run = startListing(client());
        QCOMPARE(clock->pendingSleepers(), 1);
        run.cancel();
        QVERIFY(failureAs<CancelledError>(run));
        QCOMPARE(clock->pendingSleepers(), 0);
        clock->advance(60s);
        QCOMPARE(transport->requestCount(), 1);
    }

    // Server errors back off with full jitter, from one second up; Retry-After sets the
    // shortest wait, and one beyond a minute ends the retries.
    void backoffs_data()
    {
        QTest::addColumn<double>("random");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<QList<qint64>>("sleeps");
        row("half", 0.5, QByteArray(), QList<qint64>{500, 1000, 2000, 4000});
        row("retry-after seconds", 0.5, QByteArray("7"), QList<qint64>{7000, 7000, 7000, 7000});
        row("retry-after shorter", 0.5, QByteArray("0"), QList<qint64>{500, 1000, 2000, 4000});
        row("retry-after date", 0.0, QByteArray("Thu, 01 Jan 2026 12:00:03 GMT"),
            QList<qint64>{3000, 0, 0, 0});
        row("retry-after unreadable", 0.0, QByteArray("soon"), QList<qint64>{0, 0, 0, 0});
        row("retry-after of an hour", 0.5, QByteArray("3600"), QList<qint64>{});
    }

    void backoffs()
    {
        QFETCH(double, random);
        QFETCH(QByteArray, retryAfter);
        QFETCH(QList<qint64>, sleeps);
        transport->setHandler([&](const HttpRequest &) {
            return InMemoryHttpTransport::response(503, {}, {{"Retry-After", retryAfter}});
        });
        auto run = startListing(client(1000, [random] { return random; }));
        QVERIFY(test::runToEnd(*clock, run));
        QVERIFY(failureAs<PortalError>(run));
        QCOMPARE(test::slept<std::chrono::milliseconds>(*clock), sleeps);
        QCOMPARE(transport->requestCount(), int(sleeps.size()) + 1);
    }

    void backoffBaseAndCeiling()
    {
        PortalThrottle throttle(PortalRetryOptions{clock, [] { return 0.9999; }, 8});
        QCOMPARE(throttle.backoff(1, 429).count(), 49);
        QCOMPARE(throttle.backoff(4, 429).count(), 399);
        QCOMPARE(throttle.backoff(5, 500).count(), 15998);
        QCOMPARE(throttle.backoff(6, 500).count(), 19998);
        QCOMPARE(throttle.backoff(40, 500).count(), 19998);
    }

    void limiterLowersItsRateWhenThrottledAndRaisesItOnSuccess()
    {
        AdaptiveRateLimiter limiter(clock);
        const auto acquire = [&] {
            return startTask<void>([&](CancellationToken t) { return limiter.acquire(t); });
        };
        // Unthrottled, requests pass at once.
        for (int i = 0; i < 80; ++i) {
            QVERIFY(acquire().isFinished());
            limiter.recordResponse(false, clock->now());
            clock->advance(25ms);
        }
        QVERIFY(!limiter.isEnabled());
        const double sending = limiter.measuredRate();
        QVERIFY2(sending > 30 && sending < 50, qPrintable(QString::number(sending)));

        const auto sentBeforeTheCut = clock->now();
        limiter.recordResponse(true, sentBeforeTheCut);
        const double afterThrottle = limiter.fillRate();
        QVERIFY2(afterThrottle < sending && afterThrottle > sending / 2,
                 qPrintable(QString::number(afterThrottle)));
        // The other answers throttled in the same episode do not cut it again.
        clock->advance(10ms);
        limiter.recordResponse(true, sentBeforeTheCut);
        QCOMPARE(limiter.fillRate(), afterThrottle);

        // Requests beyond the bucket now wait their turn, in order.
        std::vector<TaskHandle<void>> waiting;
        for (int i = 0; i < 3; ++i) {
            waiting.push_back(acquire());
        }
        QVERIFY(!waiting.back().isFinished());
        QVERIFY(test::runToEnd(*clock, waiting.back()));
        QVERIFY(waiting.front().isFinished());

        // Successes at the same pace over the following seconds raise the rate again.
        for (int i = 0; i < 160; ++i) {
            clock->advance(25ms);
            limiter.recordResponse(false, clock->now());
        }
        QVERIFY2(limiter.fillRate() > afterThrottle,
                 qPrintable(QString::number(limiter.fillRate())));
    }
};

QTEST_GUILESS_MAIN(TestPortalClient)
#include "tst_portalclient.moc"
