#include "catalog/consolelink.h"
#include "offlinestore.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace tessera::test;

namespace {
const QString portal = QStringLiteral("https://d-1234567890.awsapps.com/start");
const QString setPortalFirst = QStringLiteral("Set your access portal URL in Settings first.");

std::optional<ConsoleService> catalogService(const QString &name)
{
    if (name.isEmpty()) {
        return std::nullopt;
    }
    for (const auto &s : consoleServiceCatalog()) {
        if (s.name == name) {
            return s;
        }
    }
    qFatal("no catalog service %s", qPrintable(name));
}

AWSAccount account(const QString &id)
{
    return AWSAccount{id, QStringLiteral("Account ") + id, {QStringLiteral("Admin")}};
}

QStringList allRegionIds()
{
    QStringList ids;
    for (const auto &r : consoleRegionCatalog()) {
        ids.append(r.id);
    }
    return ids;
}
} // namespace

class AccountStoreConsoleTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<InMemorySettingsStore> m_settings;
    std::shared_ptr<RecordingURLOpener> m_opener;
    std::unique_ptr<AccountStore> m_store;

    void setRegionOverride(const QString &accountId, const QString &region)
    {
        m_store->updateOrganization(
            [&](Organization &o) { o.accountConsoleRegions.insert(accountId, region); });
        QCOMPARE(m_store->organization().accountConsoleRegions.value(accountId), region);
    }

    void disableRegions(const QStringList &ids)
    {
        m_store->updateOrganization([&](Organization &o) { o.disabledConsoleRegionIds = ids; });
        QCOMPARE(m_store->organization().disabledConsoleRegionIds, ids);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init()
    {
        QFile::remove(m_dir.filePath(QStringLiteral("organization.json")));
        m_settings = defaultSettings();
        m_settings->setString(key(settingskey::startUrl), portal);
        m_opener = std::make_shared<RecordingURLOpener>();
        m_store = makeOfflineStore(m_dir.filePath(QStringLiteral("organization.json")), m_settings,
                                   m_opener);
    }

    void deepLink_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("expected");

        const QString base = portal + QStringLiteral("/#/console?account_id=111122223333");
        QTest::newRow("regional service on the account's region")
            << "S3"
            << "Admin"
            << base + QStringLiteral("&role_name=Admin&destination=https%3A%2F%2Feu-west-1."
                                     "console.aws.amazon.com%2Fs3%2Fhome");
        QTest::newRow("global service ignores the region")
            << "IAM"
            << "Admin"
            << base + QStringLiteral("&role_name=Admin&destination=https%3A%2F%2F"
                                     "console.aws.amazon.com%2Fiam%2Fhome");
        QTest::newRow("no service is the regional console home")
            << ""
            << "Admin"
            << base + QStringLiteral("&role_name=Admin&destination=https%3A%2F%2Feu-west-1."
                                     "console.aws.amazon.com%2F");
        QTest::newRow("fragment stays inside the destination")
            << "Load Balancers"
            << "Admin"
            << base + QStringLiteral("&role_name=Admin&destination=https%3A%2F%2Feu-west-1."
                                     "console.aws.amazon.com%2Fec2%2Fhome%23LoadBalancers%3A");
        QTest::newRow("role punctuation is encoded, -_.~ stay")
            << "Billing & Cost"
            << "Ops+Dev=1,a@b-c_d.e~f"
            << base +
                   QStringLiteral("&role_name=Ops%2BDev%3D1%2Ca%40b-c_d.e~f&destination="
                                  "https%3A%2F%2Fconsole.aws.amazon.com%2Fcostmanagement%2Fhome");
        QTest::newRow("blank, slash, query and ampersand in a role")
            << "IAM"
            << "A B/C?D&E#F%"
            << base + QStringLiteral("&role_name=A%20B%2FC%3FD%26E%23F%25&destination="
                                     "https%3A%2F%2Fconsole.aws.amazon.com%2Fiam%2Fhome");
    }

    void deepLink()
    {
        QFETCH(QString, service);
        QFETCH(QString, role);
        QFETCH(QString, expected);

        setRegionOverride(QStringLiteral("111122223333"), QStringLiteral("eu-west-1"));
        const auto link = m_store->consoleLink(account(QStringLiteral("111122223333")), role,
                                               catalogService(service));
        QVERIFY(link);
        QCOMPARE(link->toString(QUrl::FullyEncoded), expected);
        // The portal reads its parameters from the link's own fragment; the destination's
        // fragment must not end it.
        QCOMPARE(link->fragment(QUrl::FullyEncoded).count(QLatin1Char('#')), 0);
        QVERIFY(
            link->fragment(QUrl::FullyEncoded).startsWith(QStringLiteral("/console?account_id=")));
    }

    void valueEncoding_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");

        QTest::newRow("unreserved ASCII stays") << "Az09-_.~"
                                                << "Az09-_.~";
        QTest::newRow("reserved ASCII is encoded")
            << "/:#?&=+@, !$'()*;[]%"
            << "%2F%3A%23%3F%26%3D%2B%40%2C%20%21%24%27%28%29%2A%3B%5B%5D%25";
        QTest::newRow("non-ASCII letters and digits stay")
            << QStringLiteral("Équipe_Ärzte_数据_١٢") << QStringLiteral("Équipe_Ärzte_数据_١٢");
        QTest::newRow("letter outside the basic plane stays")
            << QStringLiteral("\U0001D400x") << QStringLiteral("\U0001D400x");
        QTest::newRow("symbols are encoded as UTF-8")
            << QStringLiteral("€😀") << "%E2%82%AC%F0%9F%98%80";
        QTest::newRow("control characters are encoded") << "a\nb\tc"
                                                        << "a%0Ab%09c";
        QTest::newRow("lone surrogate becomes the replacement character")
            << QString(QChar(0xD800)) + QStringLiteral("x") << "%EF%BF%BDx";
    }

    void valueEncoding()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(percentEncodeConsoleLinkValue(value), expected);
    }

    void nonASCIIRoleNameReachesTheLink()
    {
        const auto link =
            m_store->consoleLink(account(QStringLiteral("1")), QStringLiteral("Ärzte"));
        QVERIFY(link);
        QVERIFY(
            link->toString(QUrl::FullyEncoded).contains(QStringLiteral("&role_name=%C3%84rzte&")));
        QVERIFY(link->toDisplayString().contains(QStringLiteral("&role_name=Ärzte&")));
    }

    void startURLIsNormalizedFirst_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::newRow("blanks and line breaks")
            << QStringLiteral(" \t") + portal + QStringLiteral("\n ");
        QTest::newRow("trailing slashes") << portal + QStringLiteral("//");
        QTest::newRow("query") << portal + QStringLiteral("/?lang=de#x");
        QTest::newRow("fragment with slashes") << portal + QStringLiteral("/#/apps/");
        QTest::newRow("everything")
            << QStringLiteral("  ") + portal + QStringLiteral("//?a=b/#c/ \n");
    }

    void startURLIsNormalizedFirst()
    {
        QFETCH(QString, startUrl);
        m_settings->setString(key(settingskey::startUrl), startUrl);
        const auto link = m_store->consoleLink(account(QStringLiteral("1")), QStringLiteral("R"),
                                               catalogService(QStringLiteral("IAM")));
        QVERIFY(link);
        QCOMPARE(link->toString(QUrl::FullyEncoded),
                 portal + QStringLiteral("/#/console?account_id=1&role_name=R&destination="
                                         "https%3A%2F%2Fconsole.aws.amazon.com%2Fiam%2Fhome"));
    }

    void unusableStartURL_data()
    {
        QTest::addColumn<QString>("startUrl");
        QTest::newRow("absent") << QString();
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "   ";
        QTest::newRow("plain http") << "http://d-1234567890.awsapps.com/start";
        QTest::newRow("upper-case HTTPS") << "HTTPS://d-1234567890.awsapps.com/start";
        QTest::newRow("mixed-case scheme") << "Https://d-1234567890.awsapps.com/start";
        QTest::newRow("no scheme") << "d-1234567890.awsapps.com/start";
        QTest::newRow("no host") << "https:///start";
        QTest::newRow("blank in the host") << "https://d-123 4567890.awsapps.com/start";
    }

    void unusableStartURL()
    {
        QFETCH(QString, startUrl);
        if (startUrl.isNull()) {
            m_settings->remove(key(settingskey::startUrl));
        } else {
            m_settings->setString(key(settingskey::startUrl), startUrl);
        }

        QVERIFY(!m_store->consoleLink(account(QStringLiteral("1")), QStringLiteral("R")));
        QVERIFY(!m_store->openConsole(account(QStringLiteral("1")), QStringLiteral("R")));
        QCOMPARE(m_store->errorMessage(), setPortalFirst);
        QVERIFY(m_opener->opened.isEmpty());
    }

    void openConsoleHandsTheLinkToTheBrowser()
    {
        m_store->setErrorMessage(QStringLiteral("an older problem"));
        const auto service = catalogService(QStringLiteral("Lambda"));

        QVERIFY(
            m_store->openConsole(account(QStringLiteral("42")), QStringLiteral("Dev"), service));
        QCOMPARE(m_store->errorMessage(), std::nullopt);
        QCOMPARE(m_opener->opened.size(), 1);
        QCOMPARE(m_opener->opened.first(), *m_store->consoleLink(account(QStringLiteral("42")),
                                                                 QStringLiteral("Dev"), service));
        // No override, no default console region: the Identity Center region's default.
        QVERIFY(
            m_opener->opened.first()
                .toString(QUrl::FullyEncoded)
                .endsWith(QStringLiteral(
                    "destination=https%3A%2F%2Fus-west-1.console.aws.amazon.com%2Flambda%2Fhome")));
    }

    void openerFailureIsReported()
    {
        m_opener->succeeds = false;
        QVERIFY(!m_store->openConsole(account(QStringLiteral("42")), QStringLiteral("Dev")));
        QCOMPARE(m_opener->opened.size(), 1);
        QCOMPARE(m_store->errorMessage(),
                 QStringLiteral("Tessera could not open the AWS console link."));
    }

    void linkThatCannotBeMadeIsReported_data()
    {
        QTest::addColumn<QString>("ssoRegion");
        QTest::newRow("no host name") << "not a region";
        QTest::newRow("empty") << "";
    }

    void linkThatCannotBeMadeIsReported()
    {
        // With every region off, the Identity Center region is used as typed.
        QFETCH(QString, ssoRegion);
        m_settings->setString(key(settingskey::ssoRegion), ssoRegion);
        disableRegions(allRegionIds());

        QVERIFY(!m_store->consoleLink(account(QStringLiteral("1")), QStringLiteral("R")));
        QVERIFY(!m_store->openConsole(account(QStringLiteral("1")), QStringLiteral("R")));
        QCOMPARE(m_store->errorMessage(), QStringLiteral("Could not create the AWS console link."));
        QVERIFY(m_opener->opened.isEmpty());
    }

    void regionForAccount_data()
    {
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("defaultRegion");
        QTest::addColumn<QString>("ssoRegion");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QString>("expected");

        const QString none;
        QTest::newRow("account override") << "eu-west-2"
                                          << "eu-central-1"
                                          << "us-east-2" << QStringList() << "eu-west-2";
        QTest::newRow("default console region, normalised")
            << none << " EU-Central-1 \n"
            << "us-east-2" << QStringList() << "eu-central-1";
        QTest::newRow("Identity Center region, normalised")
            << none << none << "\tAP-South-1 " << QStringList() << "ap-south-1";
        QTest::newRow("Identity Center region unset")
            << none << none << none << QStringList() << "us-west-1";
        QTest::newRow("disabled override falls to the default")
            << "us-east-1"
            << "eu-central-1"
            << "us-east-2" << QStringList{QStringLiteral("us-east-1")} << "eu-central-1";
        QTest::newRow("disabled override and default fall to Identity Center")
            << "us-east-1"
            << "eu-central-1"
            << "us-east-2"
            << QStringList{QStringLiteral("us-east-1"), QStringLiteral("eu-central-1")}
            << "us-east-2";
        QTest::newRow("all three disabled: first enabled catalog region")
            << "us-east-1"
            << "us-east-2"
            << "us-west-1"
            << QStringList{QStringLiteral("us-east-1"), QStringLiteral("us-east-2"),
                           QStringLiteral("us-west-1")}
            << "us-west-2";
        QTest::newRow("malformed override and default are skipped")
            << "europe"
            << "eu-west"
            << "us-east-2" << QStringList() << "us-east-2";
        QTest::newRow("uncatalogued default of the right form")
            << none << "xx-newplace-9"
            << "us-east-2" << QStringList() << "xx-newplace-9";
        QTest::newRow("another account's override does not apply")
            << none << none << "us-east-2" << QStringList() << "us-east-2";
    }

    void regionForAccount()
    {
        QFETCH(QString, override);
        QFETCH(QString, defaultRegion);
        QFETCH(QString, ssoRegion);
        QFETCH(QStringList, disabled);
        QFETCH(QString, expected);

        const QString accountId = QStringLiteral("111122223333");
        setRegionOverride(QStringLiteral("999999999999"), QStringLiteral("sa-east-1"));
        if (!override.isNull()) {
            setRegionOverride(accountId, override);
        }
        if (!defaultRegion.isNull()) {
            m_settings->setString(key(settingskey::defaultConsoleRegion), defaultRegion);
        }
        if (ssoRegion.isNull()) {
            m_settings->remove(key(settingskey::ssoRegion));
        } else {
            m_settings->setString(key(settingskey::ssoRegion), ssoRegion);
        }
        disableRegions(disabled);

        QCOMPARE(m_store->consoleRegionForAccount(accountId), expected);
    }

    void everyRegionDisabledUsesTheIdentityCenterRegionAsConfigured()
    {
        setRegionOverride(QStringLiteral("1"), QStringLiteral("eu-west-1"));
        m_settings->setString(key(settingskey::defaultConsoleRegion), QStringLiteral("eu-west-2"));
        m_settings->setString(key(settingskey::ssoRegion), QStringLiteral(" CA-Central-1 "));
        disableRegions(allRegionIds());
        QCOMPARE(m_store->consoleRegionForAccount(QStringLiteral("1")),
                 QStringLiteral("ca-central-1"));
    }
};

QTEST_GUILESS_MAIN(AccountStoreConsoleTest)
#include "tst_accountstore_console.moc"
