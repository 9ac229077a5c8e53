#include "accounts/accountsync.h"
#include "aws/clienttestsupport.h"
#include "storage/supportfiles.h"
#include "storeharness.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace tessera;
using namespace tessera::test;
using namespace std::chrono_literals;

namespace {
// A session that always has the same access token to give, of generation `generation`.
struct FakeCredentials final : SyncCredentials
{
    int generation = 1;

    QCoro::Task<std::optional<QString>> validAccessToken() override
    {
        co_return QStringLiteral("held-access");
    }
    int tokenGeneration() const override { return generation; }
    QString tokenRegion() const override { return QLatin1String(harnessRegion); }
    bool isSignedIn() const override { return true; }
};

struct SyncHarness : StoreHarness
{
    FakeCredentials credentials;
    std::unique_ptr<AccountSync> sync = std::make_unique<AccountSync>(
        AccountSync::Options{&credentials, service, clock, settings, profileSettings});
};
} // namespace

class TestAccountSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Never more than six role listings in flight; roles ordered by code point, accounts
    // by name without regard to case (equal names keep the order their listings finished
    // in); the result published with its time and cached.
    void rolesAreListedSixAtATimeAndResultsSorted()
    {
        SyncHarness h;
        const QStringList listedNames = words("delta Same Beta same alpha Gamma zeta eta");
        for (qsizetype i = 0; i < listedNames.size(); ++i) {
            h.service->accounts << AccountEntry{QString::number(100 + i), listedNames[i]};
        }
        h.service->roles[QStringLiteral("100")] = words("admin Zeta ReadOnly \u00c9tude Admin");
        h.service->portalLatency = 1s;
        auto sync = startTask<void>([&](CancellationToken) { return h.sync->run(); });
        h.clock->advance(1s);
        QCOMPARE(h.service->rolesInFlight, 6);
        while (!sync.isFinished()) {
            h.clock->advance(250ms);
        }
        QCOMPARE(h.service->highestRolesInFlight, 6);
        QCOMPARE(listed(h.sync->accounts(), &AWSAccount::accountName),
                 words("alpha Beta delta eta Gamma Same same zeta"));
        QCOMPARE(h.sync->accounts()[2].roles, words("Admin ReadOnly Zeta admin \u00c9tude"));
        QCOMPARE(h.sync->lastSync(), h.clock->currentDateTime());

        QCOMPARE(loadAccountCache(),
                 std::optional(AccountCache{h.sync->accounts(), *h.sync->lastSync()}));
    }

    // A rejection of the token held now is handed to the session; one of a token replaced
    // while the request was out is not. Any other failure shows its description. The
    // previous list, its time and its cache stay as they were either way.
    void failedRunKeepsThePreviousResult_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("tokenReplaced");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("rejections");
        row("401", 401, false, "", 1);
        row("401 of a replaced token", 401, true, "", 0);
        row("404", 404, false, "AWS access portal returned HTTP 404.", 0);
    }

    void failedRunKeepsThePreviousResult()
    {
        QFETCH(int, status);
        QFETCH(bool, tokenReplaced);
        QFETCH(QString, message);
        QFETCH(int, rejections);
        SyncHarness h;
        h.service->accounts = {{QStringLiteral("1"), QStringLiteral("One")},
                               {QStringLiteral("2"), QStringLiteral("Two")}};
        test::waitFor(h.sync->run());
        const QList<AWSAccount> before = h.sync->accounts();
        const auto syncedAt = h.sync->lastSync();
        const auto cachedBefore = loadAccountCache();

        h.clock->advance(60s);
        h.service->accounts << AccountEntry{QStringLiteral("3"), QStringLiteral("Three")};
        h.service->roleFailureStatus[QStringLiteral("2")] = status;
        h.service->portalLatency = 1s;
        QSignalSpy failed(h.sync.get(), &AccountSync::failed);
        QSignalSpy rejected(h.sync.get(), &AccountSync::tokenRejected);
        auto run = startTask<void>([&](CancellationToken) { return h.sync->run(); });
        if (tokenReplaced) {
            ++h.credentials.generation;
        }
        while (!run.isFinished()) {
            h.clock->advance(1s);
        }

        QCOMPARE(rejected.size(), rejections);
        QCOMPARE(failed.isEmpty() ? QString() : failed.first().first().toString(), message);
        QCOMPARE(h.sync->accounts(), before);
        QCOMPARE(h.sync->lastSync(), syncedAt);
        QCOMPARE(loadAccountCache(), cachedBefore);
        QVERIFY(!h.sync->syncing());
    }
};

QTEST_GUILESS_MAIN(TestAccountSync)
#include "tst_accountsync.moc"
