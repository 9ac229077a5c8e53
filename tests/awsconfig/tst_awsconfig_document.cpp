#include "awsconfig/awsconfigmanager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;

namespace {
const QString start = QStringLiteral("# >>> Tessera managed AWS profiles");
const QString end = QStringLiteral("# <<< Tessera managed AWS profiles");

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

AWSConfigSection onlySection(const QString &text)
{
    const auto sections = AWSConfigManager::parseSections(text);
    if (sections.size() != 1) {
        qWarning() << "expected one section, got" << sections.size();
        return {};
    }
    return sections.first();
}
} // namespace

class TestAWSConfigDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitsBlockFromTheRest_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("unmanaged");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("newline");

        QTest::newRow("lf") << (QStringLiteral("[a]\nk=v\n") + start + QStringLiteral("\nx\n") +
                                end + QStringLiteral("\n[b]\n"))
                            << QStringLiteral("[a]\nk=v\n[b]\n") << QStringLiteral("x\n")
                            << QStringLiteral("\n");
        QTest::newRow("crlf, indented marker, end marker last without break")
            << (QStringLiteral("[a]\r\n  ") + start + QStringLiteral("\t\r\ny\r\n") + end)
            << QStringLiteral("[a]\r\n") << QStringLiteral("y\r\n") << QStringLiteral("\r\n");
        QTest::newRow("only carriage return pair in last line")
            << QStringLiteral("a\nb\r\n") << QStringLiteral("a\nb\r\n") << QString()
            << QStringLiteral("\r\n");
        QTest::newRow("marker with trailing text is no marker")
            << (start + QStringLiteral(" extra\n")) << (start + QStringLiteral(" extra\n"))
            << QString() << QStringLiteral("\n");
    }
    void splitsBlockFromTheRest()
    {
        QFETCH(QString, text);
        QFETCH(QString, unmanaged);
        QFETCH(QString, body);
        QFETCH(QString, newline);
        const AWSConfigDocument document(text);
        QCOMPARE(document.unmanaged(), unmanaged);
        QCOMPARE(document.managedBody().value_or(QString()), body);
        QCOMPARE(document.managedBody().has_value(), document.managedBlockRange().has_value());
        QCOMPARE(document.newline(), newline);
    }

    void refusesBrokenMarkers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("start only") << (start + QStringLiteral("\n[a]\n"));
        QTest::newRow("end above start")
            << (end + QStringLiteral("\n") + start + QStringLiteral("\n"));
        QTest::newRow("two pairs") << (start + QStringLiteral("\n") + end + QStringLiteral("\n") +
                                       start + QStringLiteral("\n") + end + QStringLiteral("\n"));
    }
    void refusesBrokenMarkers()
    {
        QFETCH(QString, text);
        try {
            AWSConfigDocument document(text);
            QFAIL("accepted broken markers");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::malformedManagedBlock);
        }
    }

    void rendersAroundUntouchedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("rendered");
        const QString block = start + QStringLiteral("\nB\n") + end + QStringLiteral("\n");
        QTest::newRow("empty file, empty body")
            << QString() << QString()
            << (start + QStringLiteral("\n") + end + QStringLiteral("\n"));
        QTest::newRow("no final line break")
            << QStringLiteral("[a]") << QStringLiteral("B") << (QStringLiteral("[a]\n\n") + block);
        QTest::newRow("final line break") << QStringLiteral("[a]\n") << QStringLiteral("\nB\n")
                                          << (QStringLiteral("[a]\n\n") + block);
        QTest::newRow("replaced in place, odd text kept")
            << (QStringLiteral("  [a] ;c\r\n\r\n") + start + QStringLiteral("\r\nold\r\n") + end +
                QStringLiteral("\r\n# tail\t"))
            << QStringLiteral("n1\r\nn2")
            << (QStringLiteral("  [a] ;c\r\n\r\n") + start + QStringLiteral("\r\nn1\r\nn2\r\n") +
                end + QStringLiteral("\r\n# tail\t"));
    }
    void rendersAroundUntouchedText()
    {
        QFETCH(QString, text);
        QFETCH(QString, body);
        QFETCH(QString, rendered);
        const QString result = AWSConfigDocument(text).renderedContents(body);
        QCOMPARE(result, rendered);
        QCOMPARE(AWSConfigDocument(result).renderedContents(body), result);
    }

    void parsesSectionHeaders_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        const int profile = int(AWSConfigSection::Kind::profile);
        const int session = int(AWSConfigSection::Kind::ssoSession);
        const int other = int(AWSConfigSection::Kind::other);
        // Only the basics: tst_awsconfig_cli_compat checks the rest against botocore itself.
        QTest::newRow("Default is no profile")
            << QStringLiteral("[Default]") << other << QStringLiteral("Default");
        QTest::newRow("bare profile")
            << QStringLiteral("[profile]") << other << QStringLiteral("profile");
        QTest::newRow("quoted, indented, commented")
            << QStringLiteral("  [profile \"my dev\"] # note") << profile
            << QStringLiteral("my dev");
        QTest::newRow("double blank")
            << QStringLiteral("[profile  dev]") << profile << QStringLiteral("dev");
        QTest::newRow("session") << QStringLiteral("[sso-session corp]") << session
                                 << QStringLiteral("corp");
        QTest::newRow("services") << QStringLiteral("[services s3 x]") << other
                                  << QStringLiteral("services s3 x");
    }
    void parsesSectionHeaders()
    {
        QFETCH(QString, header);
        QFETCH(int, kind);
        QFETCH(QString, name);
        const AWSConfigSection section = onlySection(header + QStringLiteral("\nk = v\n"));
        QCOMPARE(int(section.kind), kind);
        QCOMPARE(section.name, name);
    }

    void parsesValuesAndRaw()
    {
        const auto sections = AWSConfigManager::parseSections(QStringLiteral(
            "ignored = 1\n[profile a]\r\n  SSO_Account_ID = 123456789012 ; note\r\n# x = 1\r\n"
            "; y = 2\r\nnoise\r\nregion=us-east-1\r\nregion = eu-west-1\r\n\r\n[profile b]\n"));
        QCOMPARE(sections.size(), 2);
        const AWSConfigSection &a = sections.first();
        QCOMPARE(a.values.keys(),
                 (QStringList{QStringLiteral("region"), QStringLiteral("sso_account_id")}));
        QCOMPARE(a.values.value(QStringLiteral("region")), QStringLiteral("eu-west-1"));
        QCOMPARE(AWSConfigManager::valueToken(a.values.value(QStringLiteral("sso_account_id"))),
                 QStringLiteral("123456789012"));
        QVERIFY(a.raw.startsWith(QLatin1String("[profile a]\n  SSO_Account_ID")));
        QVERIFY(a.raw.endsWith(QLatin1String("region = eu-west-1")));
        QCOMPARE(sections.last().raw, QStringLiteral("[profile b]"));
    }

    void parsesRoleARNs_data()
    {
        QTest::addColumn<QString>("arn");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("role");
        QTest::newRow("path") << QStringLiteral("arn:aws:iam::123456789012:role/team/Admin")
                              << QStringLiteral("123456789012") << QStringLiteral("Admin");
        QTest::newRow("partition") << QStringLiteral("arn:aws-cn:iam::123456789012:role/R")
                                   << QStringLiteral("123456789012") << QStringLiteral("R");
        QTest::newRow("empty path piece")
            << QStringLiteral("arn:aws:iam::123456789012:role//Admin") << QString() << QString();
        QTest::newRow("trailing slash")
            << QStringLiteral("arn:aws:iam::123456789012:role/Admin/") << QString() << QString();
        QTest::newRow("sts") << QStringLiteral("arn:aws:sts::123456789012:role/Admin") << QString()
                             << QString();
        QTest::newRow("region") << QStringLiteral("arn:aws:iam:us-east-1:123456789012:role/Admin")
                                << QString() << QString();
        QTest::newRow("11 digits")
            << QStringLiteral("arn:aws:iam::12345678901:role/Admin") << QString() << QString();
        QTest::newRow("no partition")
            << QStringLiteral("arn::iam::123456789012:role/Admin") << QString() << QString();
        QTest::newRow("user") << QStringLiteral("arn:aws:iam::123456789012:user/Admin") << QString()
                              << QString();
        QTest::newRow("colon in role piece")
            << QStringLiteral("arn:aws:iam::123456789012:role/a:b")
            << QStringLiteral("123456789012") << QStringLiteral("a:b");
    }
    void parsesRoleARNs()
    {
        QFETCH(QString, arn);
        QFETCH(QString, account);
        QFETCH(QString, role);
        const auto parsed = AWSConfigManager::parseRoleARN(arn);
        QCOMPARE(parsed.has_value(), !account.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->first, account);
            QCOMPARE(parsed->second, role);
        }
    }

    void readsTargetFromFirstPresentKey()
    {
        const auto values = [](std::initializer_list<std::pair<const char *, const char *>> pairs) {
            QMap<QString, QString> map;
            for (const auto &[k, v] : pairs) {
                map.insert(QString::fromLatin1(k), QString::fromLatin1(v));
            }
            return map;
        };
        const auto granted = values({{"granted_sso_account_id", "111111111111 # c"},
                                     {"role_arn", "arn:aws:iam::222222222222:role/R"}});
        QCOMPARE(AWSConfigManager::sectionAccountId(granted), QStringLiteral("111111111111"));
        QCOMPARE(AWSConfigManager::sectionRoleName(granted), QStringLiteral("R"));
        const auto brokenARN = values({{"role_arn", "arn:aws:iam::2222:role/R"}});
        QVERIFY(!AWSConfigManager::sectionAccountId(brokenARN));
        QVERIFY(!AWSConfigManager::sectionRoleName(values({{"region", "x"}})));
    }

    void locatesTheConfigFile()
    {
        const QByteArray saved = qgetenv("AWS_CONFIG_FILE");
        AWSConfigManagementSettings settings;
        settings.customPath = QStringLiteral("~/custom config ");
        QCOMPARE(AWSConfigManager::configFileURL(settings),
                 QDir::homePath() + QStringLiteral("/custom config "));
        settings.customPath = QStringLiteral("  \n");
        qputenv("AWS_CONFIG_FILE", "/tmp/from-env");
        QCOMPARE(AWSConfigManager::configFileURL(settings), QStringLiteral("/tmp/from-env"));
        qputenv("AWS_CONFIG_FILE", "");
        QCOMPARE(AWSConfigManager::configFileURL(settings),
                 QDir::homePath() + QStringLiteral("/.aws/config"));
        qputenv("AWS_CONFIG_FILE", saved);
    }

    void readsBytesItCanWriteBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config"));
        QCOMPARE(AWSConfigManager::readConfig(path), QString());
        const QString dangling = dir.filePath(QStringLiteral("dangling"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
        QCOMPARE(AWSConfigManager::readConfig(dangling), QString());

        writeBytes(path, QByteArray("\xEF\xBB\xBF[a]\r\nname = caf\xC3\xA9\n"));
        const QString text = AWSConfigManager::readConfig(path);
        QCOMPARE(text.toUtf8(), QByteArray("\xEF\xBB\xBF[a]\r\nname = caf\xC3\xA9\n"));

        writeBytes(path, QByteArray("[a]\nname = \xFF\xFE\n"));
        QVERIFY_THROWS_EXCEPTION(AWSConfigManagerError, AWSConfigManager::readConfig(path));
        try {
            AWSConfigManager::readConfig(dir.path());
            QFAIL("read a directory");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.description(),
                     QStringLiteral("Tessera could not read the AWS config at ") + dir.path() +
                         QStringLiteral(". Check its permissions and UTF-8 encoding."));
        }
    }

    void discoversProfilesForQuickSearch()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config"));
        writeBytes(
            path,
            QByteArray("[profile by-name-123456789012]\n"
                       "[profile sso]\r\nsso_account_id = 123456789012 # c\r\n"
                       "sso_role_name = Admin\r\n"
                       "[profile longer]\nsso_account_id = 1234567890123\nsso_role_name = Admin\n"
                       "[sso-session s]\nsso_account_id = 123456789012\n"
                       "[profile \"cp x\"]\ncredential_process = tool --account 123456789012\n"
                       "[profile arn]\nrole_arn = arn:aws:iam::123456789012:role/p/Admin\n"
                       "[profile sso]\nsso_account_id = 123456789012\nsso_role_name = Admin\n"
                       "[Profile upper]\nsso_account_id = 123456789012\n"
                       "[profile 'quoted']\nsso_account_id = 123456789012\n"));
        QCOMPARE(
            AWSConfigManager::awsProfileNames(QStringLiteral("123456789012"), std::nullopt, path),
            (QStringList{QStringLiteral("by-name-123456789012"), QStringLiteral("sso"),
                         QStringLiteral("cp x"), QStringLiteral("arn"), QStringLiteral("quoted")}));
        QCOMPARE(AWSConfigManager::awsProfileNames(QStringLiteral("123456789012"),
                                                   QStringLiteral("Admin"), path),
                 (QStringList{QStringLiteral("sso"), QStringLiteral("arn")}));
        QVERIFY(AWSConfigManager::awsProfileNames(QStringLiteral("12345678901"), std::nullopt, path)
                    .isEmpty());
        QVERIFY(AWSConfigManager::awsProfileNames(QStringLiteral("123456789012"), std::nullopt,
                                                  dir.filePath(QStringLiteral("missing")))
                    .isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigDocument)
#include "tst_awsconfig_document.moc"
