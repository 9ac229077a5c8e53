#include "aws/adaptiveratelimiter.h"
#include "aws/portalclient.h"
#include "clienttestsupport.h"
#include "foundation/boundedconcurrency.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;

namespace {
const QByteArray lastRolesPage = R"({"roleList":[{"roleName":"Admin"}]})";

std::vector<qint64> sleptMs(const ManualClock &clock)
{
    std::vector<qint64> out;
    for (auto sleep : clock.requestedSleeps()) {
        out.push_back(sleep.count());
    }
    return out;
}

// A deterministic uniform source for the jitter.
std::function<double()> lcg(std::uint64_t seed)
{
    auto state = std::make_shared<std::uint64_t>(seed);
    return [state] {
        *state = *state * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(*state >> 11) / double(1ULL << 53);
    };
}

// The service side of throttling: a token bucket refilled at `rate` per second.
struct ServiceRateLimit
{
    std::shared_ptr<ManualClock> clock;
    double rate;
    double tokens;
    Clock::time_point last;

    bool admit()
    {
        const auto now = clock->now();
        tokens = std::min(rate, tokens + std::chrono::duration<double>(now - last).count() * rate);
        last = now;
        if (tokens < 1) {
            return false;
        }
        tokens -= 1;
        return true;
    }
};
} // namespace

class TestPortalRetry : public QObject
{
    Q_OBJECT

    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<InMemoryHttpTransport> transport;

    PortalClient client(
        std::function<double()> random = [] { return 0.5; }, int maxAttempts = 5)
    {
        return PortalClient(QStringLiteral("us-east-1"), QStringLiteral("tok"), transport, 1000,
                            PortalRetryOptions{clock, std::move(random), maxAttempts});
    }

    TaskHandle<QStringList> startRoles(const PortalClient &portal)
    {
        return startTask<QStringList>(
            [portal](CancellationToken t) { return portal.listRoles(QStringLiteral("111"), t); });
    }

private Q_SLOTS:
    void init()
    {
        qunsetenv("AWS_ENDPOINT_URL");
        qunsetenv("AWS_ENDPOINT_URL_SSO");
        clock = std::make_shared<ManualClock>();
        transport = std::make_shared<InMemoryHttpTransport>();
    }

    void retriesOnlyTransientAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("retried");
        for (int status : {429, 500, 502, 503, 504}) {
            QTest::addRow("%d", status) << status << true;
        }
        for (int status : {400, 401, 403, 404, 501, 505}) {
            QTest::addRow("%d", status) << status << false;
        }
    }

    void retriesOnlyTransientAnswers()
    {
        QFETCH(int, status);
        QFETCH(bool, retried);
        transport->enqueue(InMemoryHttpTransport::response(status, R"({"message":"x"})"));
        transport->enqueue(InMemoryHttpTransport::response(200, lastRolesPage));
        auto run = startRoles(client());
        QVERIFY(test::runToEnd(*clock, run));
        if (retried) {
            QCOMPARE(run.resultNow(), QStringList{QStringLiteral("Admin")});
            QCOMPARE(transport->requestCount(), 2);
            // The retry repeats the same request.
            QCOMPARE(transport->requests()[1].url, transport->requests()[0].url);
            QCOMPARE(transport->requests()[1].headers, transport->requests()[0].headers);
        } else {
            QVERIFY(failureAs<PortalError>(run));
            QCOMPARE(transport->requestCount(), 1);
            QVERIFY(clock->requestedSleeps().empty());
        }
    }

    void givesUpAfterFiveAttemptsWithGrowingBackoff()
    {
        transport->setHandler(
            [](const HttpRequest &) { return InMemoryHttpTransport::response(503); });
        auto run = startRoles(client());
        QVERIFY(test::runToEnd(*clock, run));
        const auto error = failureAs<PortalError>(run);
        QVERIFY(error);
        QVERIFY(*error == PortalError::http(503));
        QCOMPARE(transport->requestCount(), 5);
        // Half of 1, 2, 4 and 8 seconds with the random source fixed at 0.5.
        QCOMPARE(sleptMs(*clock), (std::vector<qint64>{500, 1000, 2000, 4000}));
    }

    void backoffStaysWithinFullJitterBounds_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<double>("random");
        QTest::addColumn<std::vector<qint64>>("backoffs");
        QTest::newRow("server error, lowest") << 500 << 0.0 << std::vector<qint64>{0, 0, 0, 0};
        // Just under the ceiling, which stops doubling at 20 seconds.
        QTest::newRow("server error, highest")
            << 500 << 0.9999 << std::vector<qint64>{999, 1999, 3999, 7999, 15998, 19998, 19998};
        // A throttle leaves the spacing to the limiter and waits only a few token intervals.
        QTest::newRow("throttle, highest")
            << 429 << 0.9999 << std::vector<qint64>{49, 99, 199, 399, 799, 1599, 3199};
    }

    void backoffStaysWithinFullJitterBounds()
    {
        QFETCH(int, status);
        QFETCH(double, random);
        QFETCH(std::vector<qint64>, backoffs);
        PortalThrottle throttle(PortalRetryOptions{clock, [random] { return random; }, 8});
        std::vector<qint64> actual;
        for (int retry = 1; retry <= int(backoffs.size()); ++retry) {
            actual.push_back(throttle.backoff(retry, status).count());
        }
        QCOMPARE(actual, backoffs);
    }

    void retryAfterSetsTheShortestWait_data()
    {
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<std::vector<qint64>>("sleeps");
        QTest::addColumn<int>("requests");
        QTest::newRow("seconds") << QByteArray("7") << std::vector<qint64>{7000} << 2;
        QTest::newRow("shorter than backoff") << QByteArray("0") << std::vector<qint64>{500} << 2;
        QTest::newRow("http date")
            << QByteArray("Thu, 01 Jan 2026 12:00:03 GMT") << std::vector<qint64>{3000} << 2;
        QTest::newRow("unreadable") << QByteArray("soon") << std::vector<qint64>{500} << 2;
        QTest::newRow("longer than a minute") << QByteArray("3600") << std::vector<qint64>{} << 1;
    }

    void retryAfterSetsTheShortestWait()
    {
        QFETCH(QByteArray, retryAfter);
        QFETCH(std::vector<qint64>, sleeps);
        QFETCH(int, requests);
        transport->enqueue(InMemoryHttpTransport::response(503, {}, {{"Retry-After", retryAfter}}));
        transport->enqueue(InMemoryHttpTransport::response(200, lastRolesPage));
        auto run = startRoles(client());
        QVERIFY(test::runToEnd(*clock, run));
        QCOMPARE(transport->requestCount(), requests);
        QCOMPARE(sleptMs(*clock), sleeps);
    }

    void cancellationEndsABackoff()
    {
        transport->setHandler(
            [](const HttpRequest &) { return InMemoryHttpTransport::response(502); });
        auto run = startRoles(client());
        QCOMPARE(clock->pendingSleepers(), 1);
        run.cancel();
        QVERIFY(failureAs<CancelledError>(run));
        QCOMPARE(clock->pendingSleepers(), 0);
        clock->advance(60s);
        QCOMPARE(transport->requestCount(), 1);
    }

    void limiterLowersItsRateWhenThrottledAndRaisesItOnSuccess()
    {
        AdaptiveRateLimiter limiter(clock);
        // Unthrottled, requests pass at once.
        for (int i = 0; i < 80; ++i) {
            auto pass = startTask<void>([&](CancellationToken t) { return limiter.acquire(t); });
            QVERIFY(pass.isFinished());
            limiter.recordResponse(false, clock->now());
            clock->advance(25ms);
        }
        QVERIFY(!limiter.isEnabled());
        const double sending = limiter.measuredRate();
        QVERIFY2(sending > 30 && sending < 50, qPrintable(QString::number(sending)));

        const auto sentBeforeTheCut = clock->now();
        limiter.recordResponse(true, sentBeforeTheCut);
        QVERIFY(limiter.isEnabled());
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
            waiting.push_back(
                startTask<void>([&](CancellationToken t) { return limiter.acquire(t); }));
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

    void cancellingAWaitingAcquireWakesIt()
    {
        AdaptiveRateLimiter limiter(clock);
        limiter.recordResponse(true, clock->now());
        auto first = startTask<void>([&](CancellationToken t) { return limiter.acquire(t); });
        auto second = startTask<void>([&](CancellationToken t) { return limiter.acquire(t); });
        auto third = startTask<void>([&](CancellationToken t) { return limiter.acquire(t); });
        QVERIFY(!second.isFinished());
        const auto thirdWait = clock->requestedSleeps().back();
        second.cancel();
        QVERIFY(failureAs<CancelledError>(second));
        // The cancelled caller's turn goes to the next one in line.
        auto fourth = startTask<void>([&](CancellationToken t) { return limiter.acquire(t); });
        QCOMPARE(clock->requestedSleeps().back(), thirdWait);
        first.cancel();
        third.cancel();
        fourth.cancel();
    }

    // Six listings at a time against a service that admits 20 requests a second (as IAM
    // Identity Center does) or more after a burst of one second's worth: the shared limiter keeps
    // throttling rare, no request runs out of attempts, and the listing ends close to the
    // time the service's rate allows, also when it is short.
    void listingEndsNearTheServiceRate_data()
    {
        QTest::addColumn<int>("accounts");
        QTest::addColumn<int>("pagesPerAccount");
        QTest::addColumn<double>("serviceRate");
        QTest::newRow("34 accounts") << 34 << 1 << 20.0;
        QTest::newRow("100 accounts") << 100 << 1 << 20.0;
        QTest::newRow("300 accounts, two pages each") << 300 << 2 << 20.0;
        QTest::newRow("1000 accounts at 100 a second") << 1000 << 1 << 100.0;
    }

    void listingEndsNearTheServiceRate()
    {
        QFETCH(int, accounts);
        QFETCH(int, pagesPerAccount);
        QFETCH(double, serviceRate);
        ServiceRateLimit service{clock, serviceRate, serviceRate, clock->now()};
        int throttled = 0;
        transport->setLatency(clock, 30ms);
        transport->setHandler([&](const HttpRequest &request) {
            if (!service.admit()) {
                ++throttled;
                return InMemoryHttpTransport::response(429, R"({"message":"Rate exceeded"})");
            }
            const bool last =
                pagesPerAccount == 1 || request.url.query().contains(QLatin1String("next_token"));
            return InMemoryHttpTransport::response(
                200, last ? R"({"roleList":[{"roleName":"B"}]})"
                          : R"({"roleList":[{"roleName":"A"}],"nextToken":"n"})");
        });
        const PortalClient portal = client(lcg(42));
        const auto start = clock->now();
        auto run = startTask<std::vector<QStringList>>([portal, accounts](CancellationToken t) {
            return runWithConcurrencyLimit<QStringList>(
                accounts, 6,
                [portal](std::size_t index, CancellationToken child) {
                    return portal.listRoles(QString::number(index), child);
                },
                t);
        });
        QVERIFY(test::runToEnd(*clock, run));
        QCOMPARE(run.resultNow().size(), std::size_t(accounts));
        const int answered = transport->requestCount() - throttled;
        QCOMPARE(answered, accounts * pagesPerAccount);
        const double elapsed = std::chrono::duration<double>(clock->now() - start).count();
        const double bound = answered / serviceRate;
        qInfo("%d requests, %d throttled, %.2f s for a bound of %.2f s", transport->requestCount(),
              throttled, elapsed, bound);
        QVERIFY2(throttled < std::max(10, answered / 5), qPrintable(QString::number(throttled)));
        QVERIFY2(elapsed <= 1.25 * bound, qPrintable(QString::number(elapsed)));
    }
};

QTEST_GUILESS_MAIN(TestPortalRetry)
#include "tst_portalretry.moc"
