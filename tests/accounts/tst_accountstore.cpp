#include "aws/clienttestsupport.h"
#include "aws/endpoints.h"
#include "storage/supportfiles.h"
#include "storeharness.h"
#include "support/testsupport.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace tessera;
using namespace tessera::test;
using namespace std::chrono_literals;

namespace {
const QString sessionEnded =
    QStringLiteral("SSO session ended — sign in again to sync. Session length is set by your org.");
const QString settingsChanged = QStringLiteral("Start URL or region changed — sign in again.");

// Lets a sign-in that was approved finish, with the sync that ends it.
void finishSignIn(StoreHarness &h)
{
    h.service->approved = true;
    h.clock->advance(5s);
    QVERIFY(
        processEventsUntil([&] { return h.store->session().isSignedIn() && !h.store->syncing(); }));
}
} // namespace

class TestAccountStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signInRegistersPollsSavesAndSyncs()
    {
        StoreHarness h;
        h.service->accounts = {{QStringLiteral("111111111111"), QStringLiteral("Dev")}};
        AccountStore &store = h.makeStore();
        QSignalSpy sessionChanges(&store, &AccountStore::sessionChanged);

        store.signIn();
        QCOMPARE(store.session(), AccountStoreSession::signingIn(QStringLiteral("WXYZ-1234")));
        QCOMPARE(h.openedURLs, QList<QUrl>{QUrl(h.service->verificationUri)});
        h.clock->advance(5s);
        QCOMPARE(h.service->tokenPolls, 1); // pending, after one interval
        finishSignIn(h);

        QCOMPARE(sessionChanges.count(), 2);
        const SSOToken expected{QStringLiteral("access-1"), QStringLiteral("refresh-1"),
                                h.clock->currentDateTime().addSecs(3600),
                                QLatin1String(harnessRegion), QLatin1String(harnessStartURL)};
        QCOMPARE(store.tokenKeeper().token(), expected);
        QCOMPARE(h.storedToken(), expected);
        QCOMPARE(store.tokenExpiresAt(), expected.expiresAt);
        QCOMPARE(store.accounts().size(), 1);
        QCOMPARE(h.service->bearerTokens, QStringList{QStringLiteral("access-1")});
        QVERIFY(!store.errorMessage());
    }

    // A saved registration is reused only while valid and for the configured region. One
    // AWS answers with is checked before it is saved, so that it reads back next start.
    void registrationIsReusedOrRenewed_data()
    {
        QTest::addColumn<QString>("heldRegion"); // empty: none held
        QTest::addColumn<double>("issuedExpiresAt");
        QTest::addColumn<QString>("clientId"); // empty: refused
        row("valid, same region", harnessRegion, 0.0, "held-client");
        row("other region", "eu-west-1", 4102444800.0, "client-1");
        row("issued 1e13", "", 1e13, "client-1");
        row("issued 1e14", "", 1e14, "");
        row("issued before 1970", "", -1.0, "");
    }

    void registrationIsReusedOrRenewed()
    {
        QFETCH(QString, heldRegion);
        QFETCH(double, issuedExpiresAt);
        QFETCH(QString, clientId);
        StoreHarness h;
        if (!heldRegion.isEmpty()) {
            h.storeRegistration(h.registration(heldRegion));
        }
        h.service->clientSecretExpiresAt = issuedExpiresAt;
        AccountStore &store = h.makeStore();
        store.signIn();
        if (clientId.isEmpty()) {
            QVERIFY(processEventsUntil([&] { return store.session().isSignedOut(); }));
            QCOMPARE(
                store.errorMessage(),
                QStringLiteral("AWS returned an invalid sign-in duration. Try signing in again."));
            QVERIFY(!h.storedRegistration());
            QCOMPARE(h.service->deviceAuthorizations, 0);
            return;
        }
        QVERIFY(store.session().isSigningIn());
        QCOMPARE(h.storedRegistration()->clientId, clientId);
        QCOMPARE(store.tokenKeeper().registration(), h.storedRegistration());
        QCOMPARE(h.storedRegistration()->region, QLatin1String(harnessRegion));
    }

    void changedSettingsInvalidateTheToken_data()
    {
        QTest::addColumn<QString>("settingKey");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("invalidates");
        row("region", key(settingskey::ssoRegion), "eu-west-1", true);
        row("same after normalizing", key(settingskey::startUrl),
            "  https://example.awsapps.com/start/#/ ", false);
    }

    void changedSettingsInvalidateTheToken()
    {
        QFETCH(QString, settingKey);
        QFETCH(QString, value);
        QFETCH(bool, invalidates);
        StoreHarness h;
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")}};
        h.storeSignIn(3600);
        AccountStore &store = h.makeStore();
        test::waitFor(store.sync());
        h.settings->setString(settingKey, value);
        test::waitFor(store.sync());
        QCOMPARE(h.service->accountListings, invalidates ? 1 : 2);
        QCOMPARE(store.session().isSignedOut(), invalidates);
        QCOMPARE(!h.storedToken(), invalidates);
        QCOMPARE(store.errorMessage(), invalidates ? std::optional(settingsChanged) : std::nullopt);
        QCOMPARE(store.accounts().size(), 1);
    }

    // A token that has run out is renewed, or ends the session and leaves the secure store.
    void expiredTokenAtItsNextUse_data()
    {
        QTest::addColumn<bool>("renewable");
        QTest::addColumn<QString>("message"); // empty: still signed in
        QTest::newRow("renewed") << true << QString();
        QTest::newRow("ended") << false << sessionEnded;
    }

    void expiredTokenAtItsNextUse()
    {
        QFETCH(bool, renewable);
        QFETCH(QString, message);
        StoreHarness h;
        h.storeSignIn(60, renewable);
        AccountStore &store = h.makeStore();
        h.clock->advance(61s);
        test::waitFor(store.sync());
        QCOMPARE(store.session().isSignedIn(), message.isEmpty());
        QCOMPARE(store.errorMessage(), message.isEmpty() ? std::nullopt : std::optional(message));
        QCOMPARE(h.storedToken().has_value(), renewable);
        QCOMPARE(h.service->refreshes, renewable ? 1 : 0);
        QCOMPARE(h.service->bearerTokens,
                 renewable ? QStringList{QStringLiteral("access-1")} : QStringList());
    }

    // A sign-in completes while a sync with the previous token is out. That sync's late
    // rejection must not end the new session, and the new session lists with its own token.
    void signInAbandonsTheSyncOfThePreviousToken()
    {
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")}};
        h.service->rejectedBearerTokens = {QStringLiteral("held-access")};
        h.service->portalLatency = 10s;
        AccountStore &store = h.makeStore();
        auto staleSync = startTask<void>([&](CancellationToken) { return store.sync(); });
        store.signIn();
        h.service->approved = true;
        h.clock->advance(5s);
        QCOMPARE(store.tokenKeeper().token()->accessToken, QStringLiteral("access-1"));
        h.clock->advance(30s);
        QVERIFY(processEventsUntil([&] { return staleSync.isFinished() && !store.syncing(); }));
        QVERIFY(store.session().isSignedIn());
        QCOMPARE(h.service->bearerTokens,
                 (QStringList{QStringLiteral("held-access"), QStringLiteral("access-1")}));
        QCOMPARE(store.accounts().size(), 1);
        QVERIFY(!store.errorMessage());
    }

    // A failure raised before any request (here a refused endpoint override) ends the sync
    // like any other: reported, never thrown, and the next sync tries again.
    void failureBeforeAnyRequestEndsTheSync_data()
    {
        QTest::addColumn<bool>("throughSignIn");
        QTest::newRow("sync") << false;
        QTest::newRow("sign-in") << true;
    }

    void failureBeforeAnyRequestEndsTheSync()
    {
        QFETCH(bool, throughSignIn);
        const QString endpoint = QStringLiteral("http://portal.example.test");
        qputenv("AWS_ENDPOINT_URL_SSO", endpoint.toLatin1());
        const auto unset = qScopeGuard([] { qunsetenv("AWS_ENDPOINT_URL_SSO"); });
        const QString message =
            EndpointOverrideError(QStringLiteral("AWS_ENDPOINT_URL_SSO"), endpoint).description();
        StoreHarness h;
        if (!throughSignIn) {
            h.storeSignIn(3600);
        }
        AccountStore &store = h.makeStore();
        if (throughSignIn) {
            store.signIn();
            finishSignIn(h);
        } else {
            test::waitFor(store.sync());
        }
        QVERIFY(!store.syncing());
        QCOMPARE(store.errorMessage(), message);

        store.setErrorMessage(std::nullopt);
        test::waitFor(store.sync());
        QCOMPARE(store.errorMessage(), message);
        QCOMPARE(h.service->accountListings + h.service->roleRequests, 0);
    }

    void savedStateIsLoaded_data()
    {
        QTest::addColumn<double>("expiresIn");
        QTest::addColumn<bool>("withRefreshToken");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("valid") << 60.0 << false << true;
        QTest::newRow("expired, no refresh token") << -60.0 << false << false;
        QTest::newRow("expired, refresh token") << -86400.0 << true << true;
    }

    void savedStateIsLoaded()
    {
        QFETCH(double, expiresIn);
        QFETCH(bool, withRefreshToken);
        QFETCH(bool, signedIn);
        StoreHarness h;
        const AccountCache cache{{AWSAccount{QStringLiteral("1"), QStringLiteral("One"), {}}},
                                 h.clock->currentDateTime().addSecs(-60)};
        saveAccountCache(cache);
        Organization organization;
        organization.pinnedAccountIds = {QStringLiteral("1")};
        saveOrganization(organization);
        h.storeSignIn(expiresIn, withRefreshToken);
        h.settings->setInteger(key(settingskey::syncMinutes), 15);

        AccountStore &store = h.makeStore();
        QCOMPARE(store.session().isSignedIn(), signedIn);
        QCOMPARE(store.tokenKeeper().token(), h.tokenExpiringIn(expiresIn, withRefreshToken));
        QCOMPARE(store.tokenKeeper().registration(), h.registration());
        QCOMPARE(store.hasRefreshToken(), withRefreshToken);
        QCOMPARE(store.accounts(), cache.accounts);
        QCOMPARE(store.lastSync(), cache.lastSync);
        QCOMPARE(store.organization().pinnedAccountIds, QStringList{QStringLiteral("1")});
        QCOMPARE(store.errorMessage(), std::nullopt);
        QVERIFY(store.accountSync().timerInterval());
    }
};

QTEST_GUILESS_MAIN(TestAccountStore)
#include "tst_accountstore.moc"
