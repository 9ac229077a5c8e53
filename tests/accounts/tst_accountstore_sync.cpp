#include "aws/endpoints.h"
#include "storage/supportfiles.h"
#include "storeharness.h"
#include "support/testsupport.h"

#include <QScopeGuard>
#include <QTest>
#include <QTimer>

using namespace tessera;
using namespace tessera::test;
using namespace std::chrono_literals;

namespace {
QStringList names(const QList<AWSAccount> &accounts)
{
    QStringList list;
    for (const AWSAccount &account : accounts) {
        list << account.accountName;
    }
    return list;
}

std::optional<QByteArray> cacheFile()
{
    return readFileIfPresent(supportFolderFileURL(QLatin1String(accountCacheFileName)));
}

void fireSyncTimer(AccountStore &store)
{
    auto *timer = store.findChild<QTimer *>(QStringLiteral("syncTimer"));
    QVERIFY(timer);
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
}
} // namespace

class TestAccountStoreSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void overlappingSyncsShareOneListing()
    {
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")}};
        h.service->portalLatency = 1s;
        AccountStore &store = h.makeStore();

        auto first = startTask<void>([&](CancellationToken) { return store.sync(); });
        auto second = startTask<void>([&](CancellationToken) { return store.sync(); });
        QVERIFY(store.syncing());
        h.clock->advance(1s);
        QVERIFY(!first.isFinished());
        h.clock->advance(1s);
        test::waitFor(first.result());
        test::waitFor(second.result());
        QCOMPARE(h.service->accountListings, 1);
        QCOMPARE(h.service->roleListings, 1);
        QVERIFY(!store.syncing());

        h.service->portalLatency = 0s;
        test::waitFor(store.sync()); // the next one is a new run
        QCOMPARE(h.service->accountListings, 2);
    }

    // 20 accounts with slow role listings: never more than six in flight, roles ordered
    // by code point, accounts by name without regard to case (equal names keep the order
    // their listings finished in), and the result published and cached.
    void rolesAreListedSixAtATimeAndResultsSorted()
    {
        StoreHarness h;
        h.storeSignIn(3600);
        QStringList expectedOrder;
        for (int i = 0; i < 16; ++i) {
            const QString id = QStringLiteral("%1").arg(100 + i);
            const QString name = (i % 2 ? QStringLiteral("acct-%1") : QStringLiteral("Acct-%1"))
                                     .arg(QChar(u'a' + i));
            h.service->accounts << AccountEntry{id, name};
        }
        h.service->accounts << AccountEntry{QStringLiteral("900"), QStringLiteral("zeta")}
                            << AccountEntry{QStringLiteral("901"), QStringLiteral("Same")}
                            << AccountEntry{QStringLiteral("902"), QStringLiteral("same")}
                            << AccountEntry{QStringLiteral("903"), QStringLiteral("Beta")};
        h.service->roles[QStringLiteral("100")] = {
            QStringLiteral("admin"), QStringLiteral("Zeta"), QStringLiteral("ReadOnly"),
            QStringLiteral("\u00c9tude"), QStringLiteral("Admin")};
        h.service->portalLatency = 1s;
        AccountStore &store = h.makeStore();

        auto sync = startTask<void>([&](CancellationToken) { return store.sync(); });
        h.clock->advance(1s);
        QCOMPARE(h.service->rolesInFlight, 6);
        while (!sync.isFinished()) {
            h.clock->advance(250ms);
        }
        test::waitFor(sync.result());
        QCOMPARE(h.service->roleListings, 20);
        QCOMPARE(h.service->highestRolesInFlight, 6);

        QCOMPARE(store.accounts().size(), 20);
        QCOMPARE(store.accounts().first().accountName, QStringLiteral("Acct-a"));
        QCOMPARE(names(store.accounts()).mid(0, 4),
                 (QStringList{QStringLiteral("Acct-a"), QStringLiteral("acct-b"),
                              QStringLiteral("Acct-c"), QStringLiteral("acct-d")}));
        QCOMPARE(names(store.accounts()).mid(16),
                 (QStringList{QStringLiteral("Beta"), QStringLiteral("Same"),
                              QStringLiteral("same"), QStringLiteral("zeta")}));
        QCOMPARE(store.accounts().first().roles,
                 (QStringList{QStringLiteral("Admin"), QStringLiteral("ReadOnly"),
                              QStringLiteral("Zeta"), QStringLiteral("admin"),
                              QStringLiteral("\u00c9tude")}));
        QCOMPARE(store.accounts().last().roles, QStringList());
        QCOMPARE(store.lastSync(), h.clock->currentDateTime());

        const auto cache = loadAccountCache();
        QVERIFY(cache);
        QCOMPARE(cache->accounts, store.accounts());
        QCOMPARE(cache->lastSync, *store.lastSync());
    }

    // A rejected token ends the session; every other failure shows its description. The
    // previous list, its time and its cache file stay as they were either way.
    void failedSyncKeepsThePreviousResult_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("sessionEnds");
        QTest::newRow("401") << 401
                             << QStringLiteral("SSO session ended — sign in again to sync. "
                                               "Session length is set by your org.")
                             << true;
        QTest::newRow("403") << 403
                             << QStringLiteral("SSO session ended — sign in again to sync. "
                                               "Session length is set by your org.")
                             << true;
        QTest::newRow("404") << 404 << QStringLiteral("AWS access portal returned HTTP 404.")
                             << false;
    }

    void failedSyncKeepsThePreviousResult()
    {
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(bool, sessionEnds);
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")},
                               {QStringLiteral("2"), QStringLiteral("Two")}};
        AccountStore &store = h.makeStore();
        test::waitFor(store.sync());
        const QList<AWSAccount> before = store.accounts();
        const auto syncedAt = store.lastSync();
        const auto cachedBefore = cacheFile();
        QVERIFY(cachedBefore);

        h.clock->advance(60s);
        h.service->accounts << AccountEntry{QStringLiteral("3"), QStringLiteral("Three")};
        h.service->roleFailureStatus[QStringLiteral("2")] = status;
        test::waitFor(store.sync());

        QCOMPARE(store.errorMessage(), message);
        QCOMPARE(store.session().isSignedOut(), sessionEnds);
        QCOMPARE(!store.token(), sessionEnds);
        QCOMPARE(!h.storedToken(), sessionEnds);
        QCOMPARE(store.accounts(), before);
        QCOMPARE(store.lastSync(), syncedAt);
        QCOMPARE(cacheFile(), cachedBefore);
        QVERIFY(!store.syncing());
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
        h.service->approved = true;
        if (!throughSignIn) {
            h.storeSignIn(3600);
        }
        AccountStore &store = h.makeStore();
        if (throughSignIn) {
            store.signIn();
            h.clock->advance(5s);
            QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
            QVERIFY(store.session().isSignedIn());
        } else {
            test::waitFor(store.sync());
        }
        QVERIFY(!store.syncing());
        QCOMPARE(store.errorMessage(), message);

        store.setErrorMessage(std::nullopt);
        test::waitFor(store.sync());
        QCOMPARE(store.errorMessage(), message);
        QCOMPARE(h.service->portalRequests(), 0);
    }

    // A sign-in completes while a sync with the previous token is out. That sync's late
    // rejection must not end the new session, and the new session lists with its own token.
    void lateRejectionOfThePreviousTokenSparesANewSignIn()
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
        QCOMPARE(store.token()->accessToken, QStringLiteral("access-1"));
        h.clock->advance(30s);
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
        QVERIFY(staleSync.isFinished());

        QVERIFY(store.session().isSignedIn());
        QCOMPARE(h.storedToken()->accessToken, QStringLiteral("access-1"));
        QCOMPARE(h.service->bearerTokens,
                 (QStringList{QStringLiteral("held-access"), QStringLiteral("access-1")}));
        QCOMPARE(store.accounts().size(), 1);
        QVERIFY(!store.errorMessage());
        QVERIFY(!store.syncing());
    }

    // The token was refreshed while the listing was out; a rejection of the old token
    // says nothing about the new one.
    void rejectionOfARefreshedTokenKeepsTheSession()
    {
        StoreHarness h;
        h.storeSignIn(3600); // refreshed 3300 s from now
        h.service->rejectedBearerTokens = {QStringLiteral("held-access")};
        h.service->portalLatency = 20s;
        AccountStore &store = h.makeStore();
        h.clock->advance(3290s);
        auto sync = startTask<void>([&](CancellationToken) { return store.sync(); });
        h.clock->advance(20s);
        QVERIFY(sync.isFinished());
        QCOMPARE(h.service->refreshes, 1);
        QVERIFY(store.session().isSignedIn());
        QCOMPARE(h.storedToken()->accessToken, QStringLiteral("access-1"));
        QVERIFY(!store.syncing());
    }

    void signOutDuringSyncCancelsIt()
    {
        StoreHarness h;
        h.storeSignIn(3600);
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")}};
        AccountStore &store = h.makeStore();
        test::waitFor(store.sync());
        const QList<AWSAccount> before = store.accounts();

        h.service->accounts << AccountEntry{QStringLiteral("2"), QStringLiteral("Two")};
        h.service->portalLatency = 1s;
        auto sync = startTask<void>([&](CancellationToken) { return store.sync(); });
        h.clock->advance(1s); // accounts listed, roles in flight
        QCOMPARE(h.service->rolesInFlight, 2);
        store.signOut();
        QVERIFY(processEventsUntil([&] { return sync.isFinished(); }));
        test::waitFor(sync.result());

        QCOMPARE(h.service->rolesInFlight, 0);
        QCOMPARE(store.accounts(), before);
        QVERIFY(!store.syncing());
        QVERIFY(store.session().isSignedOut());
        QCOMPARE(store.errorMessage(), CancelledError().description());
        h.clock->advance(10s);
        QCOMPARE(h.service->roleListings, 3);
    }

    void timerTicksSyncOnlyWhileSignedIn()
    {
        StoreHarness h;
        h.settings->setInteger(key(settingskey::syncMinutes), 15);
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")}};
        AccountStore &store = h.makeStore();
        QVERIFY(store.isSyncTimerActive());
        QCOMPARE(store.syncTimerInterval().count(), qint64(15 * 60 * 1000));

        fireSyncTimer(store); // signed out
        QCOMPARE(h.service->portalRequests(), 0);

        store.signIn();
        QVERIFY(store.session().isSigningIn());
        fireSyncTimer(store);
        QCOMPARE(h.service->portalRequests(), 0);

        h.service->approved = true;
        h.clock->advance(5s);
        QVERIFY(processEventsUntil([&] { return !store.isSignInRunning(); }));
        QCOMPARE(h.service->accountListings, 1); // the sync that ends a sign-in
        fireSyncTimer(store);
        QVERIFY(processEventsUntil([&] { return h.service->accountListings == 2; }));
    }

    void syncMinutesBelowOneMeansNoTimer_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void syncMinutesBelowOneMeansNoTimer()
    {
        QFETCH(int, minutes);
        StoreHarness h;
        h.settings->setInteger(key(settingskey::syncMinutes), 30);
        AccountStore &store = h.makeStore();
        QVERIFY(store.isSyncTimerActive());
        h.settings->setInteger(key(settingskey::syncMinutes), minutes);
        store.configureSyncTimer();
        QVERIFY(!store.isSyncTimerActive());
        QVERIFY(!store.findChild<QTimer *>(QStringLiteral("syncTimer")));
    }
};

QTEST_GUILESS_MAIN(TestAccountStoreSync)
#include "tst_accountstore_sync.moc"
