#include "storeharness.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace tessera::test;
using namespace std::chrono_literals;

namespace {
const QString sessionEnded =
    QStringLiteral("SSO session ended — sign in again to sync. Session length is set by your org.");

std::vector<std::chrono::milliseconds> msList(std::initializer_list<qint64> seconds)
{
    std::vector<std::chrono::milliseconds> list;
    for (qint64 s : seconds) {
        list.push_back(std::chrono::milliseconds(s * 1000));
    }
    return list;
}
} // namespace

class TestAccountStoreRefresh : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstWaitFollowsTheTokensLife_data()
    {
        QTest::addColumn<double>("expiresIn");
        QTest::addColumn<bool>("withRefreshToken");
        QTest::addColumn<qint64>("expectedWaitMs"); // -1: nothing planned
        QTest::newRow("one hour") << 3600.0 << true << qint64(3300000);
        QTest::newRow("within the lead") << 200.0 << true << qint64(15000);
        QTest::newRow("already expired") << -50.0 << true << qint64(15000);
        QTest::newRow("just above the floor") << 316.0 << true << qint64(16000);
        QTest::newRow("no refresh token") << 3600.0 << false << qint64(-1);
    }

    void firstWaitFollowsTheTokensLife()
    {
        QFETCH(double, expiresIn);
        QFETCH(bool, withRefreshToken);
        QFETCH(qint64, expectedWaitMs);
        StoreHarness h;
        h.storeSignIn(expiresIn, withRefreshToken);
        AccountStore &store = h.makeStore();

        QVERIFY(store.session().isSignedIn());
        QCOMPARE(store.hasRefreshToken(), withRefreshToken);
        if (expectedWaitMs < 0) {
            QVERIFY(h.refreshSleeps->empty());
            QCOMPARE(h.clock->pendingSleepers(), 0);
        } else {
            QCOMPARE(*h.refreshSleeps, std::vector{std::chrono::milliseconds(expectedWaitMs)});
        }
    }

    // A refresh that keeps failing is retried twice while the token still has time, and
    // the session ends at the token's expiry, not before, and says so only then.
    void failedRefreshesAreRetriedThenTheSessionEndsAtExpiry()
    {
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->refreshFailureStatus = 400;
        AccountStore &store = h.makeStore();

        // Not shown to the user, so logged.
        QTest::ignoreMessage(QtWarningMsg, "Token refresh failed: invalid_grant");
        h.clock->advance(3300s);
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(store.proactiveRefreshFailureCount(), 1);
        h.clock->advance(120s);
        QCOMPARE(h.service->refreshes, 2);
        h.clock->advance(120s);
        QCOMPARE(h.service->refreshes, 3);
        QCOMPARE(*h.refreshSleeps, msList({3300, 120, 120, 60}));
        QVERIFY(store.session().isSignedIn());
        QVERIFY(!store.errorMessage());
        QVERIFY(h.storedToken());

        h.clock->advance(59s);
        QVERIFY(store.session().isSignedIn());
        h.clock->advance(1s);
        QVERIFY(store.session().isSignedOut());
        QCOMPARE(store.errorMessage(), sessionEnded);
        QVERIFY(!store.token());
        QVERIFY(!h.storedToken());
        QCOMPARE(h.service->refreshes, 3);
    }

    void failureCloseToExpiryPlansOnlyTheExpiry_data()
    {
        QTest::addColumn<double>("expiresIn");
        QTest::addColumn<std::vector<std::chrono::milliseconds>>("sleeps");
        QTest::addColumn<bool>("endedAtFailure");
        // Fires after 15 s with 5 s left: too close for a retry.
        QTest::newRow("20 s left") << 20.0 << msList({15, 5}) << false;
        // Fires after 15 s on a token that had already expired: ends at once.
        QTest::newRow("expired") << -1.0 << msList({15}) << true;
    }

    void failureCloseToExpiryPlansOnlyTheExpiry()
    {
        QFETCH(double, expiresIn);
        QFETCH(std::vector<std::chrono::milliseconds>, sleeps);
        QFETCH(bool, endedAtFailure);
        StoreHarness h;
        h.storeSignIn(expiresIn);
        h.service->refreshFailureStatus = 400;
        AccountStore &store = h.makeStore();

        h.clock->advance(15s);
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(*h.refreshSleeps, sleeps);
        QCOMPARE(store.session().isSignedOut(), endedAtFailure);
        h.clock->advance(5s);
        QVERIFY(store.session().isSignedOut());
        QCOMPARE(store.errorMessage(), sessionEnded);
    }

    void earlyExpiryStepRearmsForOneSecond()
    {
        StoreHarness h;
        h.storeToken(h.tokenExpiringIn(10, false));
        AccountStore &store = h.makeStore();
        QVERIFY(h.refreshSleeps->empty());

        store.scheduleTokenStep(TokenRefreshPolicy::Action::expire(9.7));
        h.clock->advance(9700ms);
        QVERIFY(store.session().isSignedIn());
        QCOMPARE(*h.refreshSleeps, (std::vector{9700ms, 1000ms}));
        h.clock->advance(1s);
        QVERIFY(store.session().isSignedOut());
        QCOMPARE(store.errorMessage(), sessionEnded);
    }

    // A step planned for an older token does nothing once the token has changed.
    void stepOfAnOlderTokenIsIgnored()
    {
        StoreHarness h;
        h.storeToken(h.tokenExpiringIn(10, false));
        AccountStore &store = h.makeStore();
        store.scheduleTokenStep(TokenRefreshPolicy::Action::expire(10));
        const SSOToken replacement = h.tokenExpiringIn(5, false);
        store.applyToken(replacement); // plans nothing: no refresh token
        h.clock->advance(10s);
        QVERIFY(store.session().isSignedIn());
        QCOMPARE(store.token(), replacement);
    }

    // Two callers share one request; the answer without a refresh token keeps the old one,
    // is saved, applied and plans the next refresh.
    void concurrentCallersShareOneRefresh()
    {
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->refreshLatency = 2s;
        h.service->issueRefreshToken = false;
        AccountStore &store = h.makeStore();
        const int generation = store.tokenGeneration();

        auto first = startTask<bool>([&](CancellationToken) { return store.refreshAccessToken(); });
        auto second =
            startTask<bool>([&](CancellationToken) { return store.refreshAccessToken(); });
        h.clock->advance(2s);
        QVERIFY(test::waitFor(first.result()));
        QVERIFY(test::waitFor(second.result()));
        QCOMPARE(h.service->refreshes, 1);

        QVERIFY(store.token());
        QCOMPARE(store.token()->accessToken, QStringLiteral("access-1"));
        QCOMPARE(store.token()->refreshToken, QStringLiteral("held-refresh"));
        QCOMPARE(store.token()->expiresAt, h.clock->currentDateTime().addSecs(3600));
        QCOMPARE(h.storedToken(), store.token());
        QCOMPARE(store.tokenExpiresAt(), store.token()->expiresAt);
        QCOMPARE(store.tokenGeneration(), generation + 1);
        QCOMPARE(h.refreshSleeps->back(), 3300s);

        // The refresh is over: the next caller sends a new request.
        auto third = startTask<bool>([&](CancellationToken) { return store.refreshAccessToken(); });
        h.clock->advance(2s);
        QVERIFY(test::waitFor(third.result()));
        QCOMPARE(h.service->refreshes, 2);
    }

    void refreshNeedsAUsableRegistration_data()
    {
        QTest::addColumn<bool>("haveRegistration");
        QTest::addColumn<double>("registrationLife");
        QTest::newRow("none") << false << 0.0;
        QTest::newRow("expired") << true << -1.0;
    }

    void refreshNeedsAUsableRegistration()
    {
        QFETCH(bool, haveRegistration);
        QFETCH(double, registrationLife);
        StoreHarness h;
        if (haveRegistration) {
            h.storeRegistration(h.registration(QLatin1String(harnessRegion), registrationLife));
        }
        h.storeToken(h.tokenExpiringIn(3600));
        AccountStore &store = h.makeStore();
        QVERIFY(!test::waitFor(store.refreshAccessToken()));
        QCOMPARE(h.service->refreshes, 0);

        // In the scheduled path it counts as a failure and is retried.
        h.clock->advance(3300s);
        QCOMPARE(store.proactiveRefreshFailureCount(), 1);
        QCOMPARE(h.refreshSleeps->back(), 120s);
    }

    // An answer that arrives once the token it renews is gone must not bring it back.
    void lateRefreshAnswerIsDiscarded_data()
    {
        QTest::addColumn<bool>("signInAgain");
        QTest::newRow("after sign-out") << false;
        QTest::newRow("after a new sign-in") << true;
    }

    void lateRefreshAnswerIsDiscarded()
    {
        QFETCH(bool, signInAgain);
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->refreshLatency = 30s;
        h.service->refreshHonoursCancellation = false;
        AccountStore &store = h.makeStore();

        auto refresh =
            startTask<bool>([&](CancellationToken) { return store.refreshAccessToken(); });
        std::optional<SSOToken> expected;
        std::chrono::milliseconds elapsed{0};
        if (signInAgain) {
            h.service->approved = true;
            store.signIn();
            QCOMPARE(store.session(), AccountStoreSession::signingIn(h.service->userCode));
            h.clock->advance(5s);
            elapsed = 5s;
            QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
            QVERIFY(store.session().isSignedIn());
            expected = store.token();
            QCOMPARE(expected->accessToken, QStringLiteral("access-1"));
        } else {
            store.signOut();
        }
        QVERIFY(!refresh.isFinished());
        h.clock->advance(30s - elapsed);
        QVERIFY(!test::waitFor(refresh.result()));
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(store.token(), expected);
        QCOMPARE(h.storedToken(), expected);
        QCOMPARE(store.session().isSignedIn(), signInAgain);
    }

    void refreshThatCannotBeSavedKeepsTheOldToken()
    {
        StoreHarness h;
        h.storeRegistration(h.registration());
        const SSOToken held = h.tokenExpiringIn(3600);
        h.storeToken(held);
        AccountStore &store = h.makeStore();
        h.keychainStore.state().updateStatus = -25299;
        h.keychainStore.state().addStatus = -25299;

        QVERIFY(!test::waitFor(store.refreshAccessToken()));
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(store.token(), held);
        QCOMPARE(store.errorMessage(),
                 QStringLiteral("Tessera could not access its secure store. (status -25299)"));
    }

    // Timers stand still while the machine is suspended (here: the wall clock moves, the
    // scheduler's clock does not). On resume the planned step is re-planned by the wall
    // clock, so a refresh that fell due during the suspend runs at once.
    void resumeReplansTheStepByTheWallClock_data()
    {
        QTest::addColumn<int>("suspendedSeconds");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<qint64>("nextWaitSeconds");
        QTest::newRow("past the refresh") << 3400 << 1 << qint64(3300); // the new token's
        QTest::newRow("before the refresh") << 3000 << 0 << qint64(300);
    }

    void resumeReplansTheStepByTheWallClock()
    {
        QFETCH(int, suspendedSeconds);
        QFETCH(int, refreshes);
        QFETCH(qint64, nextWaitSeconds);
        StoreHarness h;
        h.schedulerClock = std::make_shared<ManualClock>();
        h.storeSignIn(3600);
        AccountStore &store = h.makeStore();
        QCOMPARE(h.refreshSleeps->back(), 3300s);

        h.clock->advance(std::chrono::seconds(suspendedSeconds));
        store.recheckTokenSchedule();
        h.schedulerClock->advance(0ms); // what is due now, as the event loop would run it
        QCOMPARE(h.service->refreshes, refreshes);
        QCOMPARE(h.refreshSleeps->back(), std::chrono::seconds(nextWaitSeconds));
        QVERIFY(store.session().isSignedIn());
    }
};

QTEST_GUILESS_MAIN(TestAccountStoreRefresh)
#include "tst_accountstore_refresh.moc"
