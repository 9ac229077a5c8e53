// Console regions per account and the access portal's console deep links.
#include "aws/clienttestsupport.h"
#include "storeharness.h"

#include <QTest>

using namespace tessera;
using namespace tessera::test;

namespace {
const AWSAccount account{QStringLiteral("111122223333"), QStringLiteral("Prod"), {}};

// A store whose organization gives `account` the console region `accountRegion` and
// switches `disabled` off.
struct ConsoleHarness : StoreHarness
{
    explicit ConsoleHarness(const QString &accountRegion, const QStringList &disabled = {})
    {
        makeStore(dataHome.filePath(QStringLiteral("organization.json")));
        store->organizationFile().update([&](Organization &o) {
            o.accountConsoleRegions.insert(account.accountId, accountRegion);
            o.disabledConsoleRegionIds = disabled;
        });
    }
};
} // namespace

class TestAccountStoreConsole : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The account's own region, else the default console region, else the sign-in region
    // (us-east-1), each only when of the right form and enabled.
    void regionForAccount_data()
    {
        QTest::addColumn<QString>("accountRegion");
        QTest::addColumn<QString>("defaultRegion");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QString>("expected");
        row("account's own", "eu-west-2", "eu-central-1", QStringList(), "eu-west-2");
        row("default, normalised", "europe", " EU-Central-1 \n", QStringList(), "eu-central-1");
        row("disabled ones are passed over", "us-east-2", "eu-central-1",
            words("us-east-2 eu-central-1"), "us-east-1");
    }

    void regionForAccount()
    {
        QFETCH(QString, accountRegion);
        QFETCH(QString, defaultRegion);
        QFETCH(QStringList, disabled);
        QFETCH(QString, expected);
        ConsoleHarness h(accountRegion, disabled);
        h.settings->setString(key(settingskey::defaultConsoleRegion), defaultRegion);
        QCOMPARE(h.store->consoleRegionForAccount(account.accountId), expected);
    }

    void openConsole_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("message"); // empty: opened
        row("opened", harnessStartURL, true, "");
        row("browser refuses", harnessStartURL, false,
            "Tessera could not open the AWS console link.");
        row("no portal", "http://example.awsapps.com/start", true,
            "Set your access portal URL in Settings first.");
    }

    // The link names account and role, encoded as UTF-8, and keeps the destination inside
    // the portal's fragment.
    void openConsole()
    {
        QFETCH(QString, startUrl);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        ConsoleHarness h(QStringLiteral("eu-west-1"));
        h.settings->setString(key(settingskey::startUrl), startUrl);
        h.browserOpens = opens;
        h.store->setErrorMessage(QStringLiteral("an older problem"));
        QCOMPARE(h.store->openConsole(account, QStringLiteral("Ops+Dev €")), message.isEmpty());
        QCOMPARE(h.store->errorMessageOrEmpty(), message);
        const bool linked = startUrl.startsWith(QLatin1String("https:"));
        QCOMPARE(h.openedURLs.size(), linked ? 1 : 0);
        QCOMPARE(h.openedURLs.value(0).toString(QUrl::FullyEncoded),
                 linked ? QStringLiteral("https://example.awsapps.com/start/#/console?"
                                         "account_id=111122223333&role_name=Ops%2BDev%20%E2%82%AC&"
                                         "destination=https%3A%2F%2Feu-west-1.console.aws.amazon."
                                         "com%2F")
                        : QString());
    }
};

QTEST_GUILESS_MAIN(TestAccountStoreConsole)
#include "tst_accountstore_console.moc"
