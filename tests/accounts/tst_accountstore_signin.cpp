#include "storeharness.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace tessera;
using namespace tessera::test;
using namespace std::chrono_literals;

namespace {
const QString browserFailed = QStringLiteral(
    "Tessera could not open the AWS verification page. Use the link below to continue.");
const QString sessionEnded =
    QStringLiteral("SSO session ended — sign in again to sync. Session length is set by your org.");
const QString settingsChanged = QStringLiteral("Start URL or region changed — sign in again.");
} // namespace

// Signed in, with one account listed and cached.
static AccountStore &syncedStoreWithOneAccount(StoreHarness &h)
{
    h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")}};
    h.storeSignIn(3600);
    AccountStore &store = h.makeStore();
    test::waitFor(store.sync());
    return store;
}

class TestAccountStoreSignIn : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signInRegistersPollsSavesAndSyncs()
    {
        StoreHarness h;
        h.service->accounts = {{QStringLiteral("111111111111"), QStringLiteral("Dev")}};
        h.service->roles[QStringLiteral("111111111111")] = {QStringLiteral("Admin")};
        AccountStore &store = h.makeStore();
        QSignalSpy sessionChanges(&store, &AccountStore::sessionChanged);

        store.signIn();
        QVERIFY(store.isSignInRunning());
        QCOMPARE(store.session(), AccountStoreSession::signingIn(QStringLiteral("WXYZ-1234")));
        QCOMPARE(h.openedURLs, QList<QUrl>{QUrl(h.service->verificationUri)});
        QCOMPARE(h.service->registrations, 1);
        QCOMPARE(h.service->tokenPolls, 0); // the first poll waits one interval

        h.clock->advance(5s);
        QCOMPARE(h.service->tokenPolls, 1);
        QVERIFY(store.session().isSigningIn());
        h.service->approved = true;
        h.clock->advance(5s);
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));

        QVERIFY(store.session().isSignedIn());
        QCOMPARE(sessionChanges.count(), 2);
        const auto registration = h.storedRegistration();
        QVERIFY(registration);
        QCOMPARE(store.clientRegistration(), registration);
        QCOMPARE(registration->region, QLatin1String(harnessRegion));
        QCOMPARE(registration->expiresAt,
                 QDateTime::fromSecsSinceEpoch(qint64(h.service->clientSecretExpiresAt), Qt::UTC));
        const SSOToken expected{QStringLiteral("access-1"), QStringLiteral("refresh-1"),
                                h.clock->currentDateTime().addSecs(3600),
                                QLatin1String(harnessRegion), QLatin1String(harnessStartURL)};
        QVERIFY(store.token());
        QCOMPARE(store.token(), expected);
        QCOMPARE(h.storedToken(), expected);
        QCOMPARE(store.tokenExpiresAt(), expected.expiresAt);
        QVERIFY(store.hasRefreshToken());
        QCOMPARE(store.accounts().size(), 1);
        QCOMPARE(h.service->bearerTokens, QStringList{QStringLiteral("access-1")});
        QVERIFY(store.lastSync());
        QVERIFY(!store.errorMessage());
    }

    void registrationIsReusedOnlyWhenValidForTheRegion_data()
    {
        QTest::addColumn<QString>("region");
        QTest::addColumn<double>("life");
        QTest::addColumn<int>("registrations");
        QTest::newRow("valid, same region") << QString::fromLatin1(harnessRegion) << 3600.0 << 0;
        QTest::newRow("other region") << QStringLiteral("eu-west-1") << 3600.0 << 1;
        QTest::newRow("expired") << QString::fromLatin1(harnessRegion) << -1.0 << 1;
    }

    void registrationIsReusedOnlyWhenValidForTheRegion()
    {
        QFETCH(QString, region);
        QFETCH(double, life);
        QFETCH(int, registrations);
        StoreHarness h;
        h.storeRegistration(h.registration(region, life));
        AccountStore &store = h.makeStore();
        store.signIn();
        QVERIFY(store.session().isSigningIn());
        QCOMPARE(h.service->registrations, registrations);
        const QString expectedId =
            registrations ? QStringLiteral("client-1") : QStringLiteral("held-client");
        QCOMPARE(store.clientRegistration()->clientId, expectedId);
        QCOMPARE(h.storedRegistration()->clientId, expectedId);
        QCOMPARE(store.clientRegistration()->region, QLatin1String(harnessRegion));
        store.cancelSignIn();
    }

    // The registration's expiry is checked before anything is saved, so that what is
    // saved can always be read back at the next start.
    void registrationExpiryMustBeStorable_data()
    {
        QTest::addColumn<double>("expiresAt");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("year 2100") << 4102444800.0 << true;
        QTest::newRow("1e13") << 1e13 << true;
        QTest::newRow("1e14") << 1e14 << false;
        QTest::newRow("1e17") << 1e17 << false;
        QTest::newRow("1e300") << 1e300 << false;
        QTest::newRow("-1e300") << -1e300 << false;
        QTest::newRow("before 1970") << -1.0 << false;
    }

    void registrationExpiryMustBeStorable()
    {
        QFETCH(double, expiresAt);
        QFETCH(bool, accepted);
        StoreHarness h;
        h.service->clientSecretExpiresAt = expiresAt;
        AccountStore &store = h.makeStore();
        store.signIn();
        if (accepted) {
            QVERIFY(store.session().isSigningIn());
            QVERIFY(h.storedRegistration());
            QCOMPARE(h.storedRegistration(), store.clientRegistration());
            store.cancelSignIn();
            return;
        }
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
        QCOMPARE(store.errorMessage(),
                 QStringLiteral("AWS returned an invalid sign-in duration. Try signing in again."));
        QVERIFY(!h.storedRegistration());
        QVERIFY(!store.clientRegistration());
        QCOMPARE(h.service->deviceAuthorizations, 0);
    }

    void startURLMustBeHTTPS_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::newRow("empty") << QString();
        QTest::newRow("plain http") << QStringLiteral("http://example.awsapps.com/start");
        QTest::newRow("capital scheme") << QStringLiteral("HTTPS://example.awsapps.com/start");
    }

    void startURLMustBeHTTPS()
    {
        QFETCH(QString, startUrl);
        StoreHarness h;
        h.settings->setString(key(settingskey::startUrl), startUrl);
        AccountStore &store = h.makeStore();
        store.signIn();
        QVERIFY(!store.isSignInRunning());
        QVERIFY(store.session().isSignedOut());
        QCOMPARE(store.errorMessage(),
                 QStringLiteral("Set your access portal URL in Settings first."));
        QCOMPARE(h.service->registrations + h.service->deviceAuthorizations, 0);
    }

    // The user can still finish through the link when the browser does not open.
    void browserThatCannotOpenLeavesALink()
    {
        StoreHarness h;
        h.browserOpens = false;
        AccountStore &store = h.makeStore();
        store.signIn();
        QCOMPARE(store.browserFallbackURL(), QUrl(h.service->verificationUri));
        QCOMPARE(store.errorMessage(), browserFailed);
        QVERIFY(store.session().isSigningIn());

        h.service->approved = true;
        h.clock->advance(5s);
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
        QVERIFY(store.session().isSignedIn());
        QVERIFY(!store.browserFallbackURL());
    }

    void verificationURLMustBeHTTPS()
    {
        StoreHarness h;
        h.service->verificationUri = QStringLiteral("http://device.sso.example/");
        AccountStore &store = h.makeStore();
        store.signIn();
        QVERIFY(h.openedURLs.isEmpty());
        QVERIFY(!store.browserFallbackURL());
        QCOMPARE(store.errorMessage(), QStringLiteral("AWS returned an invalid verification URL."));
        QVERIFY(store.session().isSigningIn()); // polling goes on
        store.cancelSignIn();
    }

    // How a sign-in ends depends on the held token and on whether it was cancelled
    // (message kept) or failed (message shown).
    void endingOfAnUnfinishedSignIn_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("heldTokenLife"); // 0: no token held
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("cancelled, no token") << true << 0 << false;
        QTest::newRow("cancelled, expired token") << true << -60 << true;
        QTest::newRow("failed, expired token") << false << -60 << false;
        QTest::newRow("failed, valid token") << false << 600 << true;
    }

    void endingOfAnUnfinishedSignIn()
    {
        QFETCH(bool, cancel);
        QFETCH(int, heldTokenLife);
        QFETCH(bool, signedIn);
        StoreHarness h;
        h.storeRegistration(h.registration());
        std::optional<SSOToken> held;
        if (heldTokenLife != 0) {
            held = h.tokenExpiringIn(heldTokenLife, false);
            h.storeToken(*held);
        }
        h.browserOpens = false;
        if (!cancel) {
            h.service->deviceAuthorizationFailureStatus = 400;
        }
        AccountStore &store = h.makeStore();
        store.signIn();
        if (cancel) {
            QVERIFY(store.session().isSigningIn());
            h.clock->advance(5s); // one pending poll, then waiting for the next
            store.cancelSignIn();
        }
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));

        QCOMPARE(store.session().isSignedIn(), signedIn);
        QCOMPARE(store.session().isSignedOut(), !signedIn);
        QVERIFY(!store.browserFallbackURL());
        QCOMPARE(store.errorMessage(),
                 cancel ? browserFailed : QStringLiteral("Start URL is not known."));
        QCOMPARE(store.token(), held);
        QCOMPARE(h.storedToken(), held);
        QCOMPARE(store.clientRegistration()->clientId, QStringLiteral("held-client"));
    }

    // The replaced sign-in ends late; what its successor set must survive that.
    void newSignInReplacesTheRunningOne()
    {
        StoreHarness h;
        h.browserOpens = false;
        AccountStore &store = h.makeStore();
        store.signIn();
        h.clock->advance(5s);
        QCOMPARE(h.service->tokenPolls, 1);

        h.browserOpens = true;
        h.service->userCode = QStringLiteral("NEXT-CODE");
        store.signIn();
        QCOMPARE(store.session(), AccountStoreSession::signingIn(QStringLiteral("NEXT-CODE")));
        QVERIFY(!store.errorMessage());
        QVERIFY(store.isSignInRunning());
        QCOMPARE(h.service->registrations, 1);

        h.service->approved = true;
        h.clock->advance(5s);
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
        QVERIFY(store.session().isSignedIn());
        QCOMPARE(h.service->tokenPolls, 2);
    }

    void registrationThatCannotBeSavedIsNotKept()
    {
        StoreHarness h;
        AccountStore &store = h.makeStore();
        h.keychainStore.state().addStatus = -25308;
        store.signIn();
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
        QCOMPARE(store.errorMessage(),
                 QStringLiteral("Tessera could not access its secure store. (status -25308)"));
        QVERIFY(!store.clientRegistration());
        QVERIFY(store.session().isSignedOut());
        QCOMPARE(h.service->deviceAuthorizations, 0);
    }

    // Sign-out ends the session but keeps the registration, the accounts and the message.
    void signOutKeepsRegistrationAndAccounts()
    {
        StoreHarness h;
        AccountStore &store = syncedStoreWithOneAccount(h);
        QCOMPARE(store.accounts().size(), 1);
        store.setErrorMessage(QStringLiteral("kept"));

        store.signOut();
        QVERIFY(store.session().isSignedOut());
        QVERIFY(!store.token());
        QVERIFY(!h.storedToken());
        QVERIFY(!store.tokenExpiresAt());
        QVERIFY(!store.hasRefreshToken());
        QVERIFY(h.storedRegistration());
        QVERIFY(store.clientRegistration());
        QCOMPARE(store.accounts().size(), 1);
        QCOMPARE(store.errorMessage(), QStringLiteral("kept"));
    }

    void changedSettingsInvalidateTheToken_data()
    {
        QTest::addColumn<QString>("settingKey");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("invalidates");
        QTest::newRow("region") << key(settingskey::ssoRegion) << QStringLiteral("eu-west-1")
                                << true;
        QTest::newRow("start URL") << key(settingskey::startUrl)
                                   << QStringLiteral("https://other.awsapps.com/start") << true;
        QTest::newRow("same after normalizing")
            << key(settingskey::startUrl)
            << QStringLiteral("  https://example.awsapps.com/start/#/ ") << false;
        QTest::newRow("region in capitals")
            << key(settingskey::ssoRegion) << QStringLiteral(" US-EAST-1\n") << false;
    }

    void changedSettingsInvalidateTheToken()
    {
        QFETCH(QString, settingKey);
        QFETCH(QString, value);
        QFETCH(bool, invalidates);
        StoreHarness h;
        AccountStore &store = syncedStoreWithOneAccount(h);
        QCOMPARE(h.service->accountListings, 1);

        h.settings->setString(settingKey, value);
        test::waitFor(store.sync());
        QCOMPARE(h.service->accountListings, invalidates ? 1 : 2);
        QCOMPARE(store.session().isSignedOut(), invalidates);
        QCOMPARE(!h.storedToken(), invalidates);
        QCOMPARE(store.errorMessage(), invalidates ? std::optional(settingsChanged) : std::nullopt);
        QCOMPARE(store.accounts().size(), 1);
        QVERIFY(store.clientRegistration());
    }

    // An expired token without a refresh token ends the session at its next use; when
    // the secure store refuses the delete, its message is shown instead.
    void expiredTokenEndsTheSessionAtNextUse_data()
    {
        QTest::addColumn<std::optional<int>>("removeStatus");
        QTest::addColumn<QString>("message");
        QTest::newRow("deleted") << std::optional<int>() << sessionEnded;
        QTest::newRow("not found")
            << std::optional<int>(keychainStatusItemNotFound) << sessionEnded;
        QTest::newRow("delete fails")
            << std::optional<int>(-25293)
            << QStringLiteral("Tessera could not access its secure store. (status -25293)");
    }

    void expiredTokenEndsTheSessionAtNextUse()
    {
        QFETCH(std::optional<int>, removeStatus);
        QFETCH(QString, message);
        StoreHarness h;
        h.storeSignIn(60, false);
        AccountStore &store = h.makeStore();
        QVERIFY(store.session().isSignedIn());
        h.keychainStore.state().removeStatus = removeStatus;

        h.clock->advance(61s);
        test::waitFor(store.sync());
        QVERIFY(store.session().isSignedOut());
        QVERIFY(!store.token());
        QCOMPARE(store.errorMessage(), message);
        QCOMPARE(h.service->portalRequests(), 0);
        QCOMPARE(h.service->refreshes, 0);
    }

    void expiredTokenIsRefreshedAtNextUse()
    {
        StoreHarness h;
        h.storeSignIn(-10);
        AccountStore &store = h.makeStore();
        test::waitFor(store.sync());
        QCOMPARE(h.service->refreshes, 1);
        QCOMPARE(h.service->bearerTokens, QStringList{QStringLiteral("access-1")});
        QVERIFY(store.session().isSignedIn());
        QVERIFY(store.lastSync());
    }
};

QTEST_GUILESS_MAIN(TestAccountStoreSignIn)
#include "tst_accountstore_signin.moc"
