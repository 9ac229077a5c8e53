#include "awsconfig/blockrendering.h"
#include "awsconfig/profilenaming.h"

#include <QTest>
#include <QTimeZone>

using namespace tessera;

namespace {
using Mode = AWSConfigManagementMode;
using Sep = AWSProfileNameSeparator;
using Case = AWSProfileNameCase;
} // namespace

class TestAWSConfigNaming : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rendersTemplates_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("accountName");
        QTest::addColumn<QString>("role");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");
        const int native = int(Mode::native);
        QTest::newRow("default") << QStringLiteral("{accountName|slug}-{role}")
                                 << QStringLiteral("Prod (EU)") << QStringLiteral("ReadOnly")
                                 << native << QStringLiteral("prod-eu-ReadOnly");
        QTest::newRow("legacy keeps blanks")
            << QStringLiteral("{accountName}-{role}") << QStringLiteral("Team - Dev")
            << QStringLiteral("Admin") << native << QStringLiteral("Team - Dev-Admin");
        QTest::newRow("hyphen runs collapse")
            << QStringLiteral("{role}---{accountId}") << QString() << QStringLiteral("Admin")
            << native << QStringLiteral("Admin-123456789012");
        QTest::newRow("not tokens")
            << QStringLiteral("{AccountName}{accountName|Slug}{accountName|slug|upper}")
            << QStringLiteral("x") << QString() << native
            << QStringLiteral("{AccountName}{accountName|Slug}{accountName|slug|upper}");
        QTest::newRow("provider") << QStringLiteral("{provider}-{role}") << QString()
                                  << QStringLiteral("R") << int(Mode::granted)
                                  << QStringLiteral("granted-R");
        QTest::newRow("ends trimmed") << QStringLiteral(" ./{accountName}/ ") << QStringLiteral("x")
                                      << QString() << native << QStringLiteral("x");
        QTest::newRow("blanks only")
            << QStringLiteral("   ") << QStringLiteral("x") << QString() << native << QString();
        QTest::newRow("value with token text is not re-expanded")
            << QStringLiteral("{accountName}:{role}") << QStringLiteral("{role}")
            << QStringLiteral("R") << native << QStringLiteral("{role}:R");
    }
    void rendersTemplates()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(QString, accountName);
        QFETCH(QString, role);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        QCOMPARE(renderTemplate(nameTemplate, QStringLiteral("123456789012"), accountName, role,
                                Mode(mode)),
                 expected);
    }

    void transformsUnicodeWords_data()
    {
        QTest::addColumn<int>("transform");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString value = QStringLiteral("My Prod-Account 2");
        QTest::newRow("lower") << int(NameTransform::lower) << value
                               << QStringLiteral("my prod-account 2");
        QTest::newRow("upper") << int(NameTransform::upper) << value
                               << QStringLiteral("MY PROD-ACCOUNT 2");
        QTest::newRow("slug") << int(NameTransform::slug) << value
                              << QStringLiteral("my-prod-account-2");
        QTest::newRow("snake") << int(NameTransform::snake) << value
                               << QStringLiteral("my_prod_account_2");
        QTest::newRow("camel") << int(NameTransform::camel) << value
                               << QStringLiteral("myProdAccount2");
        QTest::newRow("pascal") << int(NameTransform::pascal) << value
                                << QStringLiteral("MyProdAccount2");
        QTest::newRow("proper") << int(NameTransform::proper) << QStringLiteral("AWS prod\tEU")
                                << QStringLiteral("Aws Prod\tEu");
        QTest::newRow("pascal AWS") << int(NameTransform::pascal) << QStringLiteral("AWS team")
                                    << QStringLiteral("AwsTeam");
        QTest::newRow("unicode words")
            << int(NameTransform::slug) << QStringLiteral("Prod – EU/Wést 2")
            << QStringLiteral("prod-eu-wést-2");
        QTest::newRow("no words") << int(NameTransform::camel) << QStringLiteral("-- / --")
                                  << QString();
    }
    void transformsUnicodeWords()
    {
        QFETCH(int, transform);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(applyTransform(input, NameTransform(transform)), expected);
    }

    void appliesSeparatorAndCase()
    {
        QCOMPARE(applySeparatorAndCase(QStringLiteral("prod-eu-ReadOnly"), Sep::underscores,
                                       Case::lowercase),
                 QStringLiteral("prod_eu_readonly"));
        QCOMPARE(
            applySeparatorAndCase(QStringLiteral("Team - Dev-Admin"), Sep::hyphens, Case::preserve),
            QStringLiteral("Team-Dev-Admin"));
        QCOMPARE(applySeparatorAndCase(QStringLiteral("./a_b c./"), Sep::hyphens, Case::uppercase),
                 QStringLiteral("A-B-C"));
        QCOMPARE(applySeparatorAndCase(QStringLiteral("a b"), Sep::preserve, Case::preserve),
                 QStringLiteral("a b"));
    }

    void recognisesDerivedNames()
    {
        const QString base = QStringLiteral("Prod EU-Admin");
        QVERIFY(isDerivedName(QStringLiteral("PROD_EU_ADMIN"), base));
        QVERIFY(isDerivedName(base, base));
        QVERIFY(isDerivedName(QStringLiteral("prod-eu-admin"), base));
        QVERIFY(!isDerivedName(QStringLiteral("prod eu admin"), base));
        QVERIFY(!isDerivedName(QStringLiteral("Prod-EU-Admin-2"), base));
    }

    void validatesProfileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << QStringLiteral("prod-Admin") << true;
        QTest::newRow("inner blank") << QStringLiteral("my prod") << true;
        QTest::newRow("unicode") << QStringLiteral("café#1;x=y") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("leading blank") << QStringLiteral(" prod") << false;
        QTest::newRow("trailing tab") << QStringLiteral("prod\t") << false;
        QTest::newRow("bracket") << QStringLiteral("a]b") << false;
        QTest::newRow("open bracket") << QStringLiteral("a[b") << false;
        QTest::newRow("double quote") << QStringLiteral("a\"b") << false;
        QTest::newRow("line separator") << QStringLiteral("a\u2028b") << false;
        QTest::newRow("vertical tab") << QStringLiteral("a\vb") << false;
        // The AWS CLI drops a header with an unbalanced single quote and reads a backslash
        // as an escape.
        QTest::newRow("single quote") << QStringLiteral("Bob's-Admin") << false;
        QTest::newRow("backslash") << QStringLiteral("a\\b") << false;
    }
    void validatesProfileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(isValidProfileName(name), valid);
    }

    void namesTheSharedSession()
    {
        QCOMPARE(ssoSessionName(QStringLiteral(" https://Corp.Portal.Test/start/#/x ")),
                 QStringLiteral("tessera-corp-portal-test"));
        QCOMPARE(ssoSessionName(QStringLiteral("not a url")),
                 QStringLiteral("tessera-identity-center"));
        QCOMPARE(ssoSessionName(QString()), QStringLiteral("tessera-identity-center"));
    }

    void rendersSections()
    {
        QCOMPARE(renderProfileSection(QStringLiteral("two words"), QStringLiteral("123456789012"),
                                      QStringLiteral("Admin"), Mode::granted, QStringLiteral("s"),
                                      QStringLiteral("https://x.test/start/"),
                                      QStringLiteral("US-EAST-1"), QStringLiteral(" EU-WEST-1 ")),
                 QStringLiteral(
                     "[profile \"two words\"]\n"
                     "granted_sso_start_url = https://x.test/start\n"
                     "granted_sso_region = us-east-1\n"
                     "granted_sso_account_id = 123456789012\n"
                     "granted_sso_role_name = Admin\n"
                     "granted_sso_registration_scopes = sso:account:access\n"
                     "credential_process = granted credential-process --profile \"two words\"\n"
                     "region = eu-west-1"));
        QCOMPARE(renderProfileSection(QStringLiteral("p"), QStringLiteral("123456789012"),
                                      QStringLiteral("Admin"), Mode::native, QStringLiteral("s"),
                                      QStringLiteral("https://x.test"), QStringLiteral("us-east-1"),
                                      QStringLiteral("  ")),
                 QStringLiteral("[profile p]\nsso_session = s\nsso_account_id = 123456789012\n"
                                "sso_role_name = Admin"));
        QCOMPARE(
            renderSessionSection(QStringLiteral("s"), QStringLiteral("https://x.test/?a"),
                                 QStringLiteral("EU-West-1")),
            QStringLiteral("[sso-session s]\nsso_start_url = https://x.test\n"
                           "sso_region = eu-west-1\nsso_registration_scopes = sso:account:access"));
    }

    void stampsTheHeaderInLosAngelesTime()
    {
        QCOMPARE(blockHeaderTimestamp(QDateTime(QDate(2025, 1, 15), QTime(12, 0), Qt::UTC)),
                 QStringLiteral("2025-01-15 04:00:00 PST"));
        QCOMPARE(blockHeaderTimestamp(QDateTime(QDate(2025, 7, 15), QTime(12, 0, 5), Qt::UTC)),
                 QStringLiteral("2025-07-15 05:00:05 PDT"));
    }

    void keepsTheHeaderWhileContentIsUnchanged()
    {
        const QDateTime now(QDate(2025, 7, 15), QTime(12, 0), Qt::UTC);
        const QString oldHeader =
            QStringLiteral("# Last updated by Tessera: 2025-01-01 00:00:00 PST");
        const QString oldBody = oldHeader + QStringLiteral("\r\n\r\n[profile a]\r\nk = v\r\n");
        QCOMPARE(renderBlockBody(QStringLiteral("[profile a]\nk = v"), oldBody,
                                 QStringLiteral("\r\n"), now),
                 oldHeader + QStringLiteral("\r\n\r\n[profile a]\r\nk = v"));
        QCOMPARE(renderBlockBody(QStringLiteral("[profile a]\nk = w"), oldBody,
                                 QStringLiteral("\n"), now),
                 QStringLiteral(
                     "# Last updated by Tessera: 2025-07-15 05:00:00 PDT\n\n[profile a]\nk = w"));
        QCOMPARE(renderBlockBody(QStringLiteral(" \n \n"), std::nullopt, QStringLiteral("\n"), now),
                 QStringLiteral("# Last updated by Tessera: 2025-07-15 05:00:00 PDT"));
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigNaming)
#include "tst_awsconfig_naming.moc"
