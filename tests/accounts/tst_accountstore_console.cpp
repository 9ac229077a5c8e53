// Console regions per account and the access portal's console deep links.
#include "accounts/accountstore.h"
#include "aws/inmemorytransport.h"
#include "catalog/consolelink.h"
#include "storage/settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;

namespace {
const QString portal = QStringLiteral("https://d-1234567890.awsapps.com/start");

const AWSAccount account{QStringLiteral("111122223333"), QStringLiteral("Prod"), {}};
} // namespace

class TestAccountStoreConsole : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<InMemorySettingsStore> m_settings;
    QList<QUrl> m_opened;
    bool m_opens = true;
    std::unique_ptr<AccountStore> m_store;

    void setRegions(const QString &accountRegion, const QStringList &disabled)
    {
        m_store->organizationFile().update([&](Organization &o) {
            o.accountConsoleRegions.insert(account.accountId, accountRegion);
            o.disabledConsoleRegionIds = disabled;
        });
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(m_dir.filePath(QStringLiteral("organization.json")));
        m_settings = std::make_shared<InMemorySettingsStore>();
        registerTesseraDefaults(*m_settings);
        m_settings->setString(key(settingskey::startUrl), portal);
        m_settings->setString(key(settingskey::ssoRegion), QStringLiteral("us-east-2"));
        m_opened.clear();
        m_opens = true;
        AccountStore::Options options;
        options.organizationFile = m_dir.filePath(QStringLiteral("organization.json"));
        options.settings = m_settings;
        options.openURL = [this](const QUrl &url) {
            m_opened << url;
            return m_opens;
        };
        options.transport = std::make_shared<InMemoryHttpTransport>();
        m_store = std::make_unique<AccountStore>(std::move(options));
    }

    void deepLink_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Admin"
                               << "role_name=Admin&";
        QTest::newRow("punctuation is encoded, -_.~ stay")
            << "Ops+Dev=1,a@b-c_d.e~f"
            << "role_name=Ops%2BDev%3D1%2Ca%40b-c_d.e~f&";
        QTest::newRow("symbols as UTF-8")
            << QStringLiteral("€ Ä/#") << "role_name=%E2%82%AC%20%C3%84%2F%23&";
    }

    // The destination, with its own fragment, stays inside the portal's fragment.
    void deepLink()
    {
        QFETCH(QString, role);
        QFETCH(QString, expected);
        setRegions(QStringLiteral("eu-west-1"), {});
        const auto link = m_store->consoleLink(account, role);
        QVERIFY(link);
        QCOMPARE(
            link->toString(QUrl::FullyEncoded),
            portal + QStringLiteral("/#/console?account_id=111122223333&") + expected +
                QStringLiteral("destination=https%3A%2F%2Feu-west-1.console.aws.amazon.com%2F"));
    }

    // The account's own region, else the default console region, else the sign-in region,
    // each only when of the right form and enabled; else the first enabled one.
    void regionForAccount_data()
    {
        QTest::addColumn<QString>("accountRegion");
        QTest::addColumn<QString>("defaultRegion");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QString>("expected");
        QTest::newRow("account's own") << "eu-west-2"
                                       << "eu-central-1" << QStringList() << "eu-west-2";
        QTest::newRow("default, normalised") << "europe"
                                             << " EU-Central-1 \n"
                                             << QStringList() << "eu-central-1";
        QTest::newRow("disabled ones are passed over")
            << "us-east-1"
            << "eu-central-1"
            << QStringList{QStringLiteral("us-east-1"), QStringLiteral("eu-central-1")}
            << "us-east-2";
        QTest::newRow("all three disabled")
            << "us-east-1"
            << "us-west-1"
            << QStringList{QStringLiteral("us-east-1"), QStringLiteral("us-east-2"),
                           QStringLiteral("us-west-1")}
            << "us-west-2";
    }

    void regionForAccount()
    {
        QFETCH(QString, accountRegion);
        QFETCH(QString, defaultRegion);
        QFETCH(QStringList, disabled);
        QFETCH(QString, expected);
        m_settings->setString(key(settingskey::defaultConsoleRegion), defaultRegion);
        setRegions(accountRegion, disabled);
        QCOMPARE(m_store->consoleRegionForAccount(account.accountId), expected);
    }

    void openConsole_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("message"); // empty: opened
        QTest::newRow("opened") << portal << true << QString();
        QTest::newRow("browser refuses")
            << portal << false << "Tessera could not open the AWS console link.";
        QTest::newRow("no portal") << "http://d-1234567890.awsapps.com/start" << true
                                   << "Set your access portal URL in Settings first.";
    }

    void openConsole()
    {
        QFETCH(QString, startUrl);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        m_settings->setString(key(settingskey::startUrl), startUrl);
        m_opens = opens;
        m_store->setErrorMessage(QStringLiteral("an older problem"));
        QCOMPARE(m_store->openConsole(account, QStringLiteral("Dev")), message.isEmpty());
        QCOMPARE(m_store->errorMessageOrEmpty(), message);
        if (startUrl == portal) {
            QCOMPARE(m_opened, QList<QUrl>{*m_store->consoleLink(account, QStringLiteral("Dev"))});
        }
    }
};

QTEST_GUILESS_MAIN(TestAccountStoreConsole)
#include "tst_accountstore_console.moc"
