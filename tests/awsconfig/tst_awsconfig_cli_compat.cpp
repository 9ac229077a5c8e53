#include "awsconfig/awsconfigmanager.h"
#include "awsconfigtestdata.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace tessera::test;

namespace {
// Reads a config file the way the AWS CLI does, through botocore.
const char *readerScript = R"(
import json
import botocore.session
config = botocore.session.Session().full_config
print(json.dumps({"profiles": config.get("profiles", {}), "sessions": config.get("sso_sessions", {})}))
)";

const QString userConfig = QStringLiteral("# my settings\r\n"
                                          "[default]\r\n"
                                          "region = us-west-2\r\n"
                                          "\r\n"
                                          "[profile \"hand made\"]\r\n"
                                          "sso_session = corp\r\n"
                                          "sso_account_id = 123123123123 ; comment\r\n"
                                          "sso_role_name = Ops\r\n"
                                          "[sso-session corp]\r\n"
                                          "sso_start_url = https://corp.test/start\r\n"
                                          "sso_region = eu-west-1\r\n"
                                          "\r\n"
                                          "[profile   spaced]  \r\n"
                                          "  output=json");

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
    QJsonObject readWithBotocore(const QString &path)
    {
        QProcess python;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("AWS_CONFIG_FILE"), path);
        environment.insert(QStringLiteral("AWS_SHARED_CREDENTIALS_FILE"),
                           path + QStringLiteral(".none"));
        environment.remove(QStringLiteral("AWS_PROFILE"));
        python.setProcessEnvironment(environment);
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"), QString::fromLatin1(readerScript)});
        if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit ||
            python.exitCode() != 0) {
            qWarning().noquote() << "python3 with botocore failed:" << python.errorString()
                                 << python.readAllStandardError();
            return {};
        }
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

private Q_SLOTS:
    void theAWSCLIReadsEveryGeneratedProfile_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<int>("separator");
        QTest::addColumn<QString>("original");
        const int native = int(AWSConfigManagementMode::native);
        const int granted = int(AWSConfigManagementMode::granted);
        const int preserve = int(AWSProfileNameSeparator::preserve);
        const int hyphens = int(AWSProfileNameSeparator::hyphens);
        const QString spaced = QStringLiteral("{accountName} {role}");
        QTest::newRow("native, quoted names") << native << spaced << preserve << userConfig;
        QTest::newRow("granted, quoted names") << granted << spaced << preserve << userConfig;
        QTest::newRow("native, default names, new file")
            << native << QString() << hyphens << QString();
        QTest::newRow("granted, default names") << granted << QString() << hyphens << userConfig;
    }
    void theAWSCLIReadsEveryGeneratedProfile()
    {
        QFETCH(int, mode);
        QFETCH(QString, nameTemplate);
        QFETCH(int, separator);
        QFETCH(QString, original);

        QTemporaryDir dir;
        const QString userPath = dir.filePath(QStringLiteral("user-config"));
        const QString path = dir.filePath(QStringLiteral("config"));
        writeText(userPath, original);
        writeText(path, original);
        auto settings = settingsFor(path, AWSConfigManagementMode(mode));
        settings.namingTemplate = nameTemplate;
        settings.nameSeparator = AWSProfileNameSeparator(separator);
        settings.cliRegion = QStringLiteral("EU-Central-1");
        const AWSConfigPlan plan =
            AWSConfigManager::plan(awkwardAccounts(), startURL, ssoRegion, settings, {}, true,
                                   QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
        QVERIFY(!plan.hasConflicts());
        QVERIFY(AWSConfigManager::apply(plan, QDateTime::currentDateTimeUtc()) ||
                original.isEmpty());

        // The user's bytes come first, untouched, whatever their line breaks and spacing.
        QFile configFile(path);
        QVERIFY(configFile.open(QIODevice::ReadOnly));
        QVERIFY(configFile.readAll().startsWith(original.toUtf8()));

        const QJsonObject before = readWithBotocore(userPath);
        const QJsonObject after = readWithBotocore(path);
        QVERIFY2(!after.isEmpty(), "python3 with botocore is needed to check compatibility");
        const QJsonObject profiles = after.value(QStringLiteral("profiles")).toObject();

        int written = 0;
        for (const AWSConfigProfileCandidate &candidate : plan.candidates) {
            QCOMPARE(candidate.status, AWSConfigProfileStatus::create);
            const QJsonObject profile = profiles.value(candidate.name).toObject();
            QVERIFY2(!profile.isEmpty(), qPrintable(candidate.name));
            QJsonObject expected{{QStringLiteral("region"), QStringLiteral("eu-central-1")}};
            if (candidate.provider == AWSConfigManagementMode::native) {
                expected.insert(QStringLiteral("sso_session"), sessionName);
                expected.insert(QStringLiteral("sso_account_id"), candidate.accountId);
                expected.insert(QStringLiteral("sso_role_name"), candidate.role);
            } else {
                expected.insert(QStringLiteral("granted_sso_start_url"), startURL);
                expected.insert(QStringLiteral("granted_sso_region"), ssoRegion);
                expected.insert(QStringLiteral("granted_sso_account_id"), candidate.accountId);
                expected.insert(QStringLiteral("granted_sso_role_name"), candidate.role);
                expected.insert(QStringLiteral("granted_sso_registration_scopes"),
                                QStringLiteral("sso:account:access"));
                expected.insert(QStringLiteral("credential_process"),
                                QString(QStringLiteral("granted credential-process --profile ") +
                                        (candidate.name.contains(QLatin1Char(' ')) ||
                                                 candidate.name.contains(QLatin1Char('\t'))
                                             ? QLatin1Char('"') + candidate.name + QLatin1Char('"')
                                             : candidate.name)));
            }
            QCOMPARE(profile, expected);
            ++written;
        }
        QCOMPARE(written, 5);

        const QJsonObject userProfiles = before.value(QStringLiteral("profiles")).toObject();
        for (auto it = userProfiles.begin(); it != userProfiles.end(); ++it) {
            QCOMPARE(profiles.value(it.key()), it.value());
        }
        QCOMPARE(profiles.size(), userProfiles.size() + written);

        const QJsonObject sessions = after.value(QStringLiteral("sessions")).toObject();
        if (AWSConfigManagementMode(mode) == AWSConfigManagementMode::native) {
            QCOMPARE(sessions.value(sessionName).toObject(),
                     (QJsonObject{{QStringLiteral("sso_start_url"), startURL},
                                  {QStringLiteral("sso_region"), ssoRegion},
                                  {QStringLiteral("sso_registration_scopes"),
                                   QStringLiteral("sso:account:access")}}));
        } else {
            QVERIFY(!sessions.contains(sessionName));
        }
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigCLICompat)
#include "tst_awsconfig_cli_compat.moc"
