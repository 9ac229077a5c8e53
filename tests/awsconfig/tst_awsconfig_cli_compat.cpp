#include "awsconfig/awsconfigmanager.h"
#include "awsconfigtestdata.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace tessera::test;

namespace {
// Reads config files the way the AWS CLI does, through botocore: one path per input line,
// one line of JSON per answer (empty when botocore refuses the file). One interpreter serves
// the whole test, as starting one per file is slow.
const char *readerScript = R"(
import json, os, sys
import botocore.session
for line in sys.stdin:
    path = line.rstrip("\n")
    os.environ["AWS_CONFIG_FILE"] = path
    os.environ["AWS_SHARED_CREDENTIALS_FILE"] = path + ".none"
    try:
        config = botocore.session.Session().full_config
        answer = {"profiles": config.get("profiles", {}), "sessions": config.get("sso_sessions", {})}
    except Exception as error:
        print(error, file=sys.stderr, flush=True)
        answer = {}
    print(json.dumps(answer), flush=True)
)";

const QString userConfig = QStringLiteral(
    "# my settings\r\n[default]\r\nregion = us-west-2\r\n\r\n"
    "[profile \"hand made\"]\r\nsso_session = corp\r\nsso_account_id = 123123123123 ; comment\r\n"
    "sso_role_name = Ops\r\n[sso-session corp]\r\nsso_start_url = https://corp.test/start\r\n"
    "sso_region = eu-west-1\r\n\r\n[profile   spaced]  \r\n  output=json");

QJsonObject jsonObject(const QMap<QString, QString> &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it) {
        object.insert(it.key(), it.value());
    }
    return object;
}

QList<AWSAccount> awkwardAccounts()
{
    return {
        AWSAccount{QStringLiteral("111111111111"),
                   QStringLiteral("Prod Team (EU)"),
                   {QStringLiteral("Admin"), QStringLiteral("Read.Only")}},
        AWSAccount{QStringLiteral("222222222222"),
                   QStringLiteral("Café #1; x=y"),
                   {QStringLiteral("Dev")}},
        AWSAccount{
            QStringLiteral("333333333333"), QStringLiteral("tab\there"), {QStringLiteral("R")}},
        AWSAccount{QStringLiteral("444444444444"), QStringLiteral("plain"), {QStringLiteral("R")}},
    };
}
} // namespace

class TestAWSConfigCLICompat : public QObject
{
    Q_OBJECT

private:
    QProcess m_python;

    QJsonObject readWithBotocore(const QString &path)
    {
        if (m_python.state() == QProcess::NotRunning) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("AWS_PROFILE"));
            m_python.setProcessEnvironment(environment);
            m_python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_python.start(QStringLiteral("python3"),
                           {QStringLiteral("-c"), QString::fromLatin1(readerScript)});
        }
        m_python.write(path.toUtf8() + '\n');
        while (!m_python.canReadLine()) {
            if (!m_python.waitForReadyRead(60000)) {
                qWarning().noquote() << "python3 with botocore failed:" << m_python.errorString();
                return {};
            }
        }
        return QJsonDocument::fromJson(m_python.readLine()).object();
    }

private Q_SLOTS:
    void cleanupTestCase()
    {
        m_python.closeWriteChannel();
        m_python.waitForFinished(10000);
    }

    // Every section of each text must be the same profile or sso-session, with the same
    // values, to Tessera as to botocore.
    void readsSectionsAsTheAWSCLIDoes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("text after the closing bracket")
            << QStringLiteral("[profile a] # hand-made\nk = 1\n[sso-session s] ; note\nk = 2\n");
        QTest::newRow("shell quoting") << QStringLiteral(
            "[profile 'a b']\nk = 1\n[profile \"c\\\"d\"]\nk = 2\n[profile e\\ f]\nk = 3\n"
            "[profile 'g\\h']\nk = 4\n[profile \"x\\y\"]\nk = 5\n[profile \"ops's admin\"]\nk = 6\n"
            "[profile \"\"]\nk = 7\n[sso-session 'corp']\nk = 8\n");
        QTest::newRow("kind words are case-sensitive") << QStringLiteral(
            "[Profile a]\nk = 1\n[SSO-Session b]\nk = 2\n[Default]\nk = 3\n[PROFILE c]\nk = 4\n");
        QTest::newRow("any word starting with a kind word") << QStringLiteral(
            "[profiles a]\nk = 1\n[sso-sessions b]\nk = 2\n[profile\"x\" c]\nk = 3\n");
        QTest::newRow("headers the AWS CLI skips") << QStringLiteral(
            "[profile]\nk = 1\n[profile a b]\nk = 2\n[profile 'open]\nk = 3\n"
            "[profile trailing\\]\nk = 4\n[sso-session]\nk = 5\n[ profile d ]\nk = 6\n");
        QTest::newRow("brackets after the name") << QStringLiteral(
            "[profile a] # see [docs]\nk = 1\n[profile b]]\nk = 2\n[profile [c]\nk = 3\n");
        QTest::newRow("blanks") << QStringLiteral(
            "  [profile a]  \t\nk = 1\n[profile b ]\nk = 2\n[profile\tc]\nk = 3\n"
            "[profile  d]\nk = 4\n[profile \u00a0e]\nk = 5\n[profile f]\x1c\nk = 6\n");
        QTest::newRow("continuation lines") << QStringLiteral(
            "[profile a]\nk = 1\n  [profile b]\n\n   [profile c]\nregion: us-east-1\n"
            "[profile d]\n  [profile e]\nk = 2\n");
        QTest::newRow("a later section replaces an earlier one") << QStringLiteral(
            "[default]\nk = 1\n[profile default]\nk = 2\n[profile a]\nk = 3\n[profile 'a']\n"
            "j = 4\n[sso-session s]\nk = 5\n[sso-session \"s\"]\nk = 6\n");
        QTest::newRow("line breaks other than CR and LF") << QStringLiteral(
            "[profile a]\nk = 1\x0c[profile b]\n[profile c]\rk = 2\r\n[profile d]\x0bx\nk = 3\n"
            "[profile e]\u2028[profile f]\nk = 4\n");
    }
    void readsSectionsAsTheAWSCLIDoes()
    {
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config"));
        writeText(path, text);
        const QJsonObject botocore = readWithBotocore(path);
        QVERIFY2(!botocore.isEmpty(), "botocore could not read the file (see its message above)");

        QJsonObject profiles;
        QJsonObject sessions;
        for (const AWSConfigSection &section : AWSConfigManager::parseSections(text)) {
            if (section.kind == AWSConfigSection::Kind::profile) {
                profiles.insert(section.name, jsonObject(section.values));
            } else if (section.kind == AWSConfigSection::Kind::ssoSession) {
                sessions.insert(section.name, jsonObject(section.values));
            }
        }
        QCOMPARE(profiles, botocore.value(QStringLiteral("profiles")).toObject());
        QCOMPARE(sessions, botocore.value(QStringLiteral("sessions")).toObject());
    }

    void theAWSCLIReadsEveryGeneratedProfile_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("userSections");
        // How many candidates the user's own profiles already provide.
        QTest::addColumn<int>("userOwned");
        const int native = int(AWSConfigManagementMode::native);
        const int granted = int(AWSConfigManagementMode::granted);
        const QString spaced = QStringLiteral("{accountName} {role}");
        QTest::newRow("native, quoted names") << native << spaced << QString() << 0;
        QTest::newRow("granted, quoted names") << granted << spaced << QString() << 0;
        // Sections whose meaning depends on reading headers exactly as the AWS CLI does.
        const QString plain = QStringLiteral("sso_session = corp\nsso_account_id = 444444444444\n"
                                             "sso_role_name = R\n");
        const QString tab = QStringLiteral("sso_session = corp\nsso_account_id = 333333333333\n"
                                           "sso_role_name = R\n");
        QTest::newRow("text after a header")
            << native << QString() << QStringLiteral("[profile plain-R] # mine\n") + plain << 1;
        QTest::newRow("shell quoting in a header")
            << granted << QString()
            << QStringLiteral("[profile 'plain-R']\n") + plain +
                   QStringLiteral("[profile tab\\-here-R]\n") + tab
            << 2;
        QTest::newRow("kind words in capitals")
            << native << QString()
            << QStringLiteral("[SSO-Session tessera-x-test]\nsso_start_url = https://x.test/start\n"
                              "sso_region = us-east-1\n[Profile plain-R]\n") +
                   plain
            << 0;
        QTest::newRow("bracket in a comment after a header")
            << native << QString() << QStringLiteral("[profile plain-R] # see [docs]\n") + plain
            << 0;
        QTest::newRow("user-owned name with a single quote")
            << native << QString()
            << QStringLiteral("[profile \"ops's admin\"]\nsso_session = corp\n"
                              "sso_account_id = 222222222222\nsso_role_name = Dev\n")
            << 1;
    }
    void theAWSCLIReadsEveryGeneratedProfile()
    {
        QFETCH(int, mode);
        QFETCH(QString, nameTemplate);
        QFETCH(QString, userSections);
        QFETCH(int, userOwned);

        // The user's part in CRLF, as an editor on another system may leave it.
        const QString original =
            userConfig + QStringLiteral("\r\n") +
            QString(userSections).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config"));
        writeText(path, original);
        const QJsonObject before = readWithBotocore(path);
        auto settings = settingsFor(path, AWSConfigManagementMode(mode));
        settings.namingTemplate = nameTemplate;
        settings.nameSeparator = nameTemplate.isEmpty() ? AWSProfileNameSeparator::hyphens
                                                        : AWSProfileNameSeparator::preserve;
        settings.cliRegion = QStringLiteral("EU-Central-1");
        const AWSConfigPlan plan =
            AWSConfigManager::plan(awkwardAccounts(), startURL, ssoRegion, settings, {}, true,
                                   QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
        QVERIFY(!plan.hasConflicts());
        AWSConfigManager::apply(plan, QDateTime::currentDateTimeUtc());
        // The user's bytes come first, untouched.
        QVERIFY(readText(path).startsWith(original));

        const QJsonObject after = readWithBotocore(path);
        QVERIFY2(!after.isEmpty(), "botocore could not read the file (see its message above)");
        const QJsonObject profiles = after.value(QStringLiteral("profiles")).toObject();
        const QJsonObject userProfiles = before.value(QStringLiteral("profiles")).toObject();
        int existing = 0;
        for (const AWSConfigProfileCandidate &candidate : plan.candidates) {
            const QJsonObject profile = profiles.value(candidate.name).toObject();
            QVERIFY2(!profile.isEmpty(), qPrintable(candidate.name));
            if (candidate.status == AWSConfigProfileStatus::existing) {
                QCOMPARE(profile, userProfiles.value(candidate.name).toObject());
                ++existing;
                continue;
            }
            QCOMPARE(candidate.status, AWSConfigProfileStatus::create);
            QJsonObject expected{{QStringLiteral("region"), QStringLiteral("eu-central-1")}};
            const auto add = [&](const char *key, const QString &value) {
                expected.insert(QLatin1String(key), value);
            };
            if (candidate.provider == AWSConfigManagementMode::native) {
                add("sso_session", sessionName);
                add("sso_account_id", candidate.accountId);
                add("sso_role_name", candidate.role);
            } else {
                add("granted_sso_start_url", startURL);
                add("granted_sso_region", ssoRegion);
                add("granted_sso_account_id", candidate.accountId);
                add("granted_sso_role_name", candidate.role);
                add("granted_sso_registration_scopes", QStringLiteral("sso:account:access"));
                const bool quoted =
                    candidate.name.contains(QRegularExpression(QStringLiteral("\\s")));
                add("credential_process",
                    QStringLiteral("granted credential-process --profile ") +
                        (quoted ? u'"' + candidate.name + u'"' : candidate.name));
            }
            QCOMPARE(profile, expected);
        }
        QCOMPARE(existing, userOwned);
        // Every profile of the user's reads as before, and nothing else was added.
        for (auto it = userProfiles.begin(); it != userProfiles.end(); ++it) {
            QCOMPARE(profiles.value(it.key()), it.value());
        }
        QCOMPARE(profiles.size(), userProfiles.size() + 5 - userOwned);

        const QJsonObject session =
            after.value(QStringLiteral("sessions")).toObject().value(sessionName).toObject();
        const QJsonObject expectedSession{
            {QStringLiteral("sso_start_url"), startURL},
            {QStringLiteral("sso_region"), ssoRegion},
            {QStringLiteral("sso_registration_scopes"), QStringLiteral("sso:account:access")}};
        QCOMPARE(session, AWSConfigManagementMode(mode) == AWSConfigManagementMode::native
                              ? expectedSession
                              : QJsonObject());
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigCLICompat)
#include "tst_awsconfig_cli_compat.moc"
