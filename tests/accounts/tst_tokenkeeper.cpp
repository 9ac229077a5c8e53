#include "accounts/tokenkeeper.h"
#include "aws/clienttestsupport.h"
#include "storeharness.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace tessera;
using namespace tessera::test;
using namespace std::chrono_literals;

namespace {
// A keeper on the harness's fakes, holding `token` and a valid registration.
struct KeeperHarness : StoreHarness
{
    std::unique_ptr<TokenKeeper> keeper;

    TokenKeeper &make(const SSOToken &token)
    {
        keeper = std::make_unique<TokenKeeper>(TokenKeeper::Options{
            Keychain(keychainStore.operations()), service, clock, scheduler(), {}});
        keeper->setRegistration(registration());
        keeper->apply(token);
        return *keeper;
    }
};
} // namespace

class TestTokenKeeper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A refresh that keeps failing is retried twice while the token has time left, and
    // the token expires at its expiry, not before and not after.
    void failedRefreshesAreRetriedThenTheTokenExpires_data()
    {
        QTest::addColumn<double>("expiresIn");
        QTest::addColumn<QList<qint64>>("sleeps");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<qint64>("expiredAfter");
        row("one hour", 3600.0, QList<qint64>{3300, 120, 120, 60}, 3, qint64(3600));
        row("too close to retry", 20.0, QList<qint64>{15, 5}, 1, qint64(20));
        row("already expired", -1.0, QList<qint64>{15}, 1, qint64(15));
    }

    void failedRefreshesAreRetriedThenTheTokenExpires()
    {
        QFETCH(double, expiresIn);
        QFETCH(QList<qint64>, sleeps);
        QFETCH(int, refreshes);
        QFETCH(qint64, expiredAfter);
        KeeperHarness h;
        h.service->refreshFailureStatus = 400;
        TokenKeeper &keeper = h.make(h.tokenExpiringIn(expiresIn));
        QSignalSpy expired(&keeper, &TokenKeeper::expired);
        const QDateTime start = h.clock->currentDateTime();

        // Not shown to the user, so logged.
        QTest::ignoreMessage(QtWarningMsg, "Token refresh failed: invalid_grant");
        while (expired.isEmpty() && h.clock->advanceToNextDeadline()) {
        }
        QCOMPARE(expired.size(), 1);
        QCOMPARE(start.secsTo(h.clock->currentDateTime()), expiredAfter);
        QCOMPARE(slept(*h.clock), sleeps);
        QCOMPARE(h.service->refreshes, refreshes);
    }

    // Two callers share one request; an answer without a refresh token keeps the old one,
    // is saved, taken as a new generation and plans the next refresh.
    void concurrentCallersShareOneRefresh()
    {
        KeeperHarness h;
        h.service->refreshLatency = 2s;
        h.service->issueRefreshToken = false;
        TokenKeeper &keeper = h.make(h.tokenExpiringIn(3600));
        const int generation = keeper.generation();

        auto first = startTask<bool>([&](CancellationToken) { return keeper.refresh(); });
        auto second = startTask<bool>([&](CancellationToken) { return keeper.refresh(); });
        h.clock->advance(2s);
        QVERIFY(test::waitFor(first.result()));
        QVERIFY(test::waitFor(second.result()));
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(keeper.token()->accessToken, QStringLiteral("access-1"));
        QCOMPARE(keeper.token()->refreshToken, QStringLiteral("held-refresh"));
        QCOMPARE(keeper.token()->expiresAt, h.clock->currentDateTime().addSecs(3600));
        QCOMPARE(h.storedToken(), keeper.token());
        QCOMPARE(keeper.generation(), generation + 1);
        QCOMPARE(keeper.plannedStep(), TokenRefreshPolicy::Action::refresh(3300));

        // That refresh is over: the next caller sends a new request.
        auto third = startTask<bool>([&](CancellationToken) { return keeper.refresh(); });
        h.clock->advance(2s);
        QVERIFY(test::waitFor(third.result()));
        QCOMPARE(h.service->refreshes, 2);
    }

    // An answer that arrives once the token it renews was replaced must not bring it back.
    void lateRefreshAnswerIsDiscarded()
    {
        KeeperHarness h;
        h.service->refreshLatency = 30s;
        h.service->refreshHonoursCancellation = false;
        TokenKeeper &keeper = h.make(h.tokenExpiringIn(3600));
        auto refresh = startTask<bool>([&](CancellationToken) { return keeper.refresh(); });

        SSOToken successor = h.tokenExpiringIn(7200);
        successor.accessToken = QStringLiteral("successor");
        keeper.apply(successor); // a new sign-in
        h.clock->advance(30s);
        QVERIFY(!test::waitFor(refresh.result()));
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(keeper.token(), successor);
        QCOMPARE(h.storedToken(), std::nullopt);
    }

    // Timers stand still while the machine is suspended (here: the wall clock moves, the
    // scheduler's clock does not). On resume the step is re-planned by the wall clock, so
    // a refresh that fell due during the suspend runs at once.
    void resumeReplansTheStepByTheWallClock_data()
    {
        QTest::addColumn<int>("suspendedSeconds");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<double>("nextWait");
        QTest::newRow("past the refresh") << 3400 << 1 << 3300.0; // the new token's
        QTest::newRow("before the refresh") << 3000 << 0 << 300.0;
    }

    void resumeReplansTheStepByTheWallClock()
    {
        QFETCH(int, suspendedSeconds);
        QFETCH(int, refreshes);
        QFETCH(double, nextWait);
        KeeperHarness h;
        h.schedulerClock = std::make_shared<ManualClock>();
        TokenKeeper &keeper = h.make(h.tokenExpiringIn(3600));

        h.clock->advance(std::chrono::seconds(suspendedSeconds));
        keeper.recheckSchedule();
        h.schedulerClock->advance(0ms); // what is due now, as the event loop would run it
        QCOMPARE(h.service->refreshes, refreshes);
        QCOMPARE(keeper.plannedStep(), TokenRefreshPolicy::Action::refresh(nextWait));
        QCOMPARE(h.schedulerClock->requestedSleeps().back(),
                 std::chrono::milliseconds(qint64(nextWait * 1000)));
    }
};

QTEST_GUILESS_MAIN(TestTokenKeeper)
#include "tst_tokenkeeper.moc"
