#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/blockrendering.h"
#include "awsconfig/profilenaming.h"
#include "awsconfigtestdata.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace tessera;
using namespace tessera::test;

namespace {
using Mode = AWSConfigManagementMode;
using Sep = AWSProfileNameSeparator;
using Case = AWSProfileNameCase;
const QString start = QStringLiteral("# >>> Tessera managed AWS profiles");
const QString end = QStringLiteral("# <<< Tessera managed AWS profiles");
} // namespace

// The text of the config: Tessera's block within the user's file, reading the file, and the
// names and header the block is written with. How sections are read, and how the AWS CLI
// reads what Tessera writes, is checked against botocore itself in tst_awsconfig_cli_compat.
class TestAWSConfigText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The block is found and replaced; every other byte stays, whatever its line breaks.
    void rendersAroundUntouchedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("unmanaged");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("rendered");
        const QString block = start + QStringLiteral("\nB\n") + end + QStringLiteral("\n");
        QTest::newRow("empty file") << QString() << QString() << QString()
                                    << (start + QStringLiteral("\n") + end + QStringLiteral("\n"));
        QTest::newRow("block in the middle")
            << (QStringLiteral("[a]\nk=v\n") + start + QStringLiteral("\nx\n") + end +
                QStringLiteral("\n[b]\n"))
            << QStringLiteral("[a]\nk=v\n[b]\n") << QStringLiteral("\nB\n")
            << (QStringLiteral("[a]\nk=v\n") + block + QStringLiteral("[b]\n"));
        QTest::newRow("crlf, indented marker, end marker last without break")
            << (QStringLiteral("  [a] ;c\r\n  ") + start + QStringLiteral("\t\r\nold\r\n") + end)
            << QStringLiteral("  [a] ;c\r\n") << QStringLiteral("n1\r\nn2")
            << (QStringLiteral("  [a] ;c\r\n") + start + QStringLiteral("\r\nn1\r\nn2\r\n") + end +
                QStringLiteral("\r\n"));
        QTest::newRow("marker with trailing text is no marker")
            << (start + QStringLiteral(" extra\r\n")) << (start + QStringLiteral(" extra\r\n"))
            << QStringLiteral("B")
            << (start + QStringLiteral(" extra\r\n\r\n") + start + QStringLiteral("\r\nB\r\n") +
                end + QStringLiteral("\r\n"));
    }
    void rendersAroundUntouchedText()
    {
        QFETCH(QString, text);
        QFETCH(QString, unmanaged);
        QFETCH(QString, body);
        QFETCH(QString, rendered);
        const AWSConfigDocument document(text);
        QCOMPARE(document.unmanaged(), unmanaged);
        QCOMPARE(document.managedBody().has_value(), document.managedBlockRange().has_value());
        const QString result = document.renderedContents(body);
        QCOMPARE(result, rendered);
        QCOMPARE(AWSConfigDocument(result).renderedContents(body), result);
    }

    void refusesBrokenMarkers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("start only") << (start + QStringLiteral("\n[a]\n"));
        QTest::newRow("two pairs") << (start + QStringLiteral("\n") + end + QStringLiteral("\n") +
                                       start + QStringLiteral("\n") + end + QStringLiteral("\n"));
    }
    void refusesBrokenMarkers()
    {
        QFETCH(QString, text);
        QCOMPARE(errorOf([&] { AWSConfigDocument{text}; }),
                 AWSConfigManagerError::Kind::malformedManagedBlock);
    }

    void readsBytesItCanWriteBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config"));
        QCOMPARE(AWSConfigManager::readConfig(path), QString());
        const QString dangling = dir.filePath(QStringLiteral("dangling"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
        QCOMPARE(AWSConfigManager::readConfig(dangling), QString());

        const auto writeBytes = [&](const QByteArray &bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        const QByteArray withMark("\xEF\xBB\xBF[a]\r\nname = caf\xC3\xA9\n");
        QVERIFY(writeBytes(withMark));
        QCOMPARE(AWSConfigManager::readConfig(path).toUtf8(), withMark);
        QVERIFY(writeBytes("[a]\nname = \xFF\xFE\n"));
        for (const QString &unreadable : {path, dir.path()}) {
            QVERIFY_THROWS_EXCEPTION(AWSConfigManagerError,
                                     AWSConfigManager::readConfig(unreadable));
        }
    }

    void discoversProfilesForQuickSearch()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config"));
        writeText(path,
                  QStringLiteral(
                      "[profile by-name-123456789012]\n"
                      "[profile sso]\r\nsso_account_id = 123456789012 # c\r\n"
                      "sso_role_name = Admin\r\n"
                      "[profile longer]\nsso_account_id = 1234567890123\nsso_role_name = Admin\n"
                      "[profile \"cp x\"]\ncredential_process = tool --account 123456789012\n"
                      "[profile arn]\nrole_arn = arn:aws:iam::123456789012:role/p/Admin\n"
                      "[profile sts]\nrole_arn = arn:aws:sts::123456789012:role/Admin\n"
                      "[profile short]\nrole_arn = arn:aws:iam::12345678901:role/Admin\n"
                      "[profile g]\ngranted_sso_account_id = 123456789012\n"
                      "role_arn = arn:aws:iam::222222222222:role/Admin\n"
                      "[profile sso]\nsso_account_id = 123456789012\nsso_role_name = Admin\n"));
        const QString account = QStringLiteral("123456789012");
        QCOMPARE(AWSConfigManager::awsProfileNames(account, std::nullopt, path),
                 (QStringList{QStringLiteral("by-name-123456789012"), QStringLiteral("sso"),
                              QStringLiteral("cp x"), QStringLiteral("arn"), QStringLiteral("g")}));
        QCOMPARE(AWSConfigManager::awsProfileNames(account, QStringLiteral("Admin"), path),
                 (QStringList{QStringLiteral("sso"), QStringLiteral("arn"), QStringLiteral("g")}));
        QVERIFY(AWSConfigManager::awsProfileNames(QStringLiteral("12345678901"), std::nullopt, path)
                    .isEmpty());
    }

    // The template's tokens and transforms, then the separator and case settings.
    void namesProfiles_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("accountName");
        QTest::addColumn<int>("separator");
        QTest::addColumn<int>("nameCase");
        QTest::addColumn<QString>("expected");
        const int keep = int(Sep::preserve);
        const int asIs = int(Case::preserve);
        const auto row = [](const char *name, const char *nameTemplate, const QString &account,
                            int separator, int nameCase, const QString &expected) {
            QTest::newRow(name) << QString::fromUtf8(nameTemplate) << account << separator
                                << nameCase << expected;
        };
        row("default", "{accountName|slug}-{role}", QStringLiteral("Prod (EU)"), int(Sep::hyphens),
            asIs, QStringLiteral("prod-eu-Admin"));
        row("legacy keeps blanks", "{accountName}-{role}", QStringLiteral("Team - Dev"), keep, asIs,
            QStringLiteral("Team - Dev-Admin"));
        row("underscores, lower", " ./{role}---{accountId}/ ", QString(), int(Sep::underscores),
            int(Case::lowercase), QStringLiteral("admin_123456789012"));
        row("not tokens", "{AccountName}{accountName|Slug}{accountName|slug|upper}",
            QStringLiteral("x"), keep, asIs,
            QStringLiteral("{AccountName}{accountName|Slug}{accountName|slug|upper}"));
        row("provider, camel", "{provider}-{accountName|camel}",
            QStringLiteral("My Prod-Account 2"), keep, asIs,
            QStringLiteral("granted-myProdAccount2"));
        row("pascal, proper", "{accountName|pascal} {accountName|proper}",
            QStringLiteral("AWS prod"), keep, asIs, QStringLiteral("AwsProd Aws Prod"));
        row("slug of unicode words", "{accountName|slug}", QStringLiteral("Prod – EU/Wést 2"), keep,
            asIs, QStringLiteral("prod-eu-wést-2"));
        row("no words", "{accountName|snake}", QStringLiteral("-- / --"), keep, asIs, QString());
        row("value with token text is not re-expanded", "{accountName}:{role}",
            QStringLiteral("{role}"), keep, asIs, QStringLiteral("{role}:Admin"));
    }
    void namesProfiles()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(QString, accountName);
        QFETCH(int, separator);
        QFETCH(int, nameCase);
        QFETCH(QString, expected);
        QCOMPARE(profileName(nameTemplate, QStringLiteral("123456789012"), accountName,
                             QStringLiteral("Admin"), Mode::granted, Sep(separator),
                             Case(nameCase)),
                 expected);
    }

    // Each refused: the AWS CLI would read another name, or none, from the header. Names with
    // blanks, '#', ';', '=' and accents are written, and read back by botocore, in the
    // compatibility test.
    void refusesProfileNames_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *refused :
             {"", " prod", "prod\t", "a]b", "a[b", "a\"b", "a\vb", "Bob's-Admin", "a\\b"}) {
            QTest::addRow("\"%s\"", refused) << QString::fromUtf8(refused);
        }
        QTest::newRow("line separator") << QStringLiteral("a\u2028b");
    }
    void refusesProfileNames()
    {
        QFETCH(QString, name);
        QVERIFY(!isValidProfileName(name));
    }

    // Winter time and an unchanged header are covered by the planning tests.
    void stampsTheHeaderInLosAngelesTimeWhenContentChanges()
    {
        const QDateTime now(QDate(2025, 7, 15), QTime(12, 0), Qt::UTC);
        const QString oldBody = QStringLiteral(
            "# Last updated by Tessera: 2025-01-01 00:00:00 PST\r\n\r\n[profile a]\r\nk = v\r\n");
        QCOMPARE(renderBlockBody(QStringLiteral("[profile a]\nk = w"), oldBody,
                                 QStringLiteral("\n"), now),
                 QStringLiteral(
                     "# Last updated by Tessera: 2025-07-15 05:00:00 PDT\n\n[profile a]\nk = w"));
        QCOMPARE(renderBlockBody(QStringLiteral(" \n \n"), std::nullopt, QStringLiteral("\n"), now),
                 QStringLiteral("# Last updated by Tessera: 2025-07-15 05:00:00 PDT"));
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigText)
#include "tst_awsconfig_text.moc"
