// Drives the stand-in with the real AWS CLI: if the CLI reads every answer (success
// shapes, pagination, each modeled error) as it reads the real service's, then what
// Tessera learns from the stand-in holds against AWS too.

#include "aws/clienttestsupport.h"
#include "standin.h"
#include "support/testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessera::standin;
using tessera::test::row;

namespace {
struct CliResult
{
    int exitCode = -1;
    QJsonObject output;
    QString errorText;
};

const QString oidc = QStringLiteral("sso-oidc ");
const QString client = QStringLiteral(" --client-id {clientId} --client-secret {clientSecret}");
const QString poll = oidc + QStringLiteral("create-token") + client +
                     QStringLiteral(" --grant-type urn:ietf:params:oauth:grant-type:device_code");
const QString accounts = QStringLiteral("sso list-accounts --access-token {accessToken}");
} // namespace

class TestStandInAwsCli : public QObject
{
    Q_OBJECT

    QString m_cli;
    QTemporaryDir m_home;
    StandIn m_standIn;
    // What "{name}" in a command stands for.
    QHash<QString, QString> m_values;

    // Runs the CLI with `command` (words separated by single spaces, "{name}" replaced).
    CliResult run(const QString &command, int maxAttempts = 1)
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("AWS_PAGER"), QString());
        environment.insert(QStringLiteral("AWS_EC2_METADATA_DISABLED"), QStringLiteral("true"));
        environment.insert(QStringLiteral("AWS_RETRY_MODE"), QStringLiteral("standard"));
        environment.insert(QStringLiteral("AWS_MAX_ATTEMPTS"), QString::number(maxAttempts));
        environment.insert(QStringLiteral("NO_PROXY"), QStringLiteral("127.0.0.1,localhost"));
        for (const auto &[name, value] : m_standIn.clientEnvironment()) {
            environment.insert(QString::fromLatin1(name), QString::fromUtf8(value));
        }

        // Generated codes and tokens may begin with "-", which the CLI's argument parser would
        // take for an option: every option gets its value as "--name=value".
        static const QRegularExpression optionName(QStringLiteral("^--[a-z]+(-[a-z]+)*$"));
        QStringList arguments;
        for (QString word : command.split(QLatin1Char(' '))) {
            for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
                word.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
            }
            if (!arguments.isEmpty() && optionName.match(arguments.last()).hasMatch() &&
                !optionName.match(word).hasMatch()) {
                arguments.last() += QLatin1Char('=') + word;
            } else {
                arguments << word;
            }
        }
        arguments << QStringLiteral("--region=us-east-1") << QStringLiteral("--output=json");
        // Both services share the stand-in's one endpoint; the option works in every CLI
        // version (AWS_ENDPOINT_URL_<SERVICE> only from botocore 1.31).
        arguments << QStringLiteral("--endpoint-url=") + m_standIn.baseUrl().toString();

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(m_cli, arguments);
        // The stand-in lives on this thread, so the wait has to keep the event loop turning.
        const bool finished = tessera::test::processEventsUntil(
            [&] { return process.state() == QProcess::NotRunning; }, 180000);
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
        return CliResult{
            finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QJsonDocument::fromJson(process.readAllStandardOutput()).object(),
            QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_cli = qEnvironmentVariable("TESSERA_AWS_CLI");
        QVERIFY2(!m_cli.isEmpty() && QFileInfo(m_cli).isExecutable(),
                 "the AWS CLI is required (install the awscli package; scripts/setup.sh does)");
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral(".aws")));
        QFile config(m_home.filePath(QStringLiteral(".aws/config")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[default]\nregion = us-east-1\noutput = json\ncli_follow_urlparam = false\n");
        config.close();

        QList<StandInAccount> accounts = generateAccounts(7, 3, 42);
        accounts[2].roleNames << QStringLiteral("Role With Spaces")
                              << QStringLiteral("SecurityAudit");
        m_standIn.setAccounts(accounts);
        m_standIn.setThrottleRate(0);
        QString error;
        QVERIFY2(m_standIn.start(&error), qPrintable(error));

        m_values[QStringLiteral("startUrl")] = m_standIn.startUrl().toString();
        m_values[QStringLiteral("accessToken")] = m_standIn.issueAccessToken();
        const CliResult registered =
            run(oidc + QStringLiteral("register-client --client-name Tessera "
                                      "--client-type public --scopes sso:account:access"));
        QVERIFY2(registered.exitCode == 0, qPrintable(registered.errorText));
        m_values[QStringLiteral("clientId")] = registered.output.value(u"clientId").toString();
        m_values[QStringLiteral("clientSecret")] =
            registered.output.value(u"clientSecret").toString();
        // The model types both instants as longs: the CLI prints them as whole numbers.
        QVERIFY(registered.output.value(u"clientSecretExpiresAt").toInteger() >
                registered.output.value(u"clientIdIssuedAt").toInteger());
        QCOMPARE(m_standIn.requests(StandInOperation::registerClient).last().jsonBody(),
                 QJsonDocument::fromJson(R"({"clientName":"Tessera","clientType":"public",)"
                                         R"("scopes":["sso:account:access"]})")
                     .object());
    }

    void init()
    {
        m_standIn.clearFaults();
        m_standIn.clearRequestLog();
    }

    void completesTheDeviceFlowAndRefreshes()
    {
        const CliResult started = run(oidc + QStringLiteral("start-device-authorization") + client +
                                      QStringLiteral(" --start-url {startUrl}"));
        QVERIFY2(started.exitCode == 0, qPrintable(started.errorText));
        const QString userCode = started.output.value(u"userCode").toString();
        QCOMPARE(started.output.value(u"verificationUriComplete").toString(),
                 m_standIn.baseUrl().toString() + QStringLiteral("/device?user_code=") + userCode);
        m_values[QStringLiteral("deviceCode")] = started.output.value(u"deviceCode").toString();

        QVERIFY(m_standIn.approve(userCode));
        const CliResult granted = run(poll + QStringLiteral(" --device-code {deviceCode}"));
        QVERIFY2(granted.exitCode == 0, qPrintable(granted.errorText));
        // A device code is good for one token.
        QVERIFY(run(poll + QStringLiteral(" --device-code {deviceCode}"))
                    .errorText.contains(QStringLiteral("(InvalidGrantException)")));
        m_values[QStringLiteral("refreshToken")] = granted.output.value(u"refreshToken").toString();

        const QString refresh =
            oidc + QStringLiteral("create-token") + client +
            QStringLiteral(" --grant-type refresh_token --refresh-token {refreshToken}");
        const CliResult refreshed = run(refresh);
        QVERIFY2(refreshed.exitCode == 0, qPrintable(refreshed.errorText));
        const QString accessToken = refreshed.output.value(u"accessToken").toString();
        QVERIFY(!accessToken.isEmpty() &&
                accessToken != granted.output.value(u"accessToken").toString());
        QVERIFY(refreshed.output.value(u"refreshToken").toString() !=
                m_values[QStringLiteral("refreshToken")]);
        // The refresh token was retired by its use; the new access token opens the portal.
        QVERIFY(run(refresh).errorText.contains(QStringLiteral("(InvalidGrantException)")));
        QCOMPARE(run(QStringLiteral("sso list-accounts --access-token ") + accessToken).exitCode,
                 0);
    }

    void followsPages_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("account"); // -1: the account listing
        QTest::addColumn<int>("requests");
        row("accounts in pages of 3", accounts + QStringLiteral(" --page-size 3"), -1, 3);
        row("roles in pages of 2",
            QStringLiteral("sso list-account-roles --access-token {accessToken} --page-size 2 "
                           "--account-id ") +
                m_standIn.options().accounts[2].accountId,
            2, 3);
    }

    void followsPages()
    {
        QFETCH(QString, command);
        QFETCH(int, account);
        QFETCH(int, requests);
        const CliResult result = run(command);
        QVERIFY2(result.exitCode == 0, qPrintable(result.errorText));
        const QList<StandInAccount> &accounts = m_standIn.options().accounts;
        QJsonArray expected;
        for (const StandInAccount &entry : accounts) {
            expected.append(QJsonObject{{QStringLiteral("accountId"), entry.accountId},
                                        {QStringLiteral("accountName"), entry.accountName},
                                        {QStringLiteral("emailAddress"), entry.emailAddress}});
        }
        if (account >= 0) {
            expected = {};
            for (const QString &role : accounts[account].roleNames) {
                expected.append(
                    QJsonObject{{QStringLiteral("accountId"), accounts[account].accountId},
                                {QStringLiteral("roleName"), role}});
            }
        }
        QCOMPARE(result.output.value(account < 0 ? u"accountList" : u"roleList").toArray(),
                 expected);

        // Each request continues with the token of the one before, and the last has none.
        const QList<StandInRequest> log = m_standIn.requestLog();
        QCOMPARE(log.size(), requests);
        std::optional<QString> previous;
        for (const StandInRequest &request : log) {
            QCOMPARE(request.header("x-amz-sso_bearer_token"),
                     m_values[QStringLiteral("accessToken")].toUtf8());
            QCOMPARE(request.queryValue(QStringLiteral("next_token")), previous);
            const QJsonValue next = QJsonDocument::fromJson(request.responseBody)[u"nextToken"];
            previous = next.isString() ? std::optional(next.toString()) : std::nullopt;
        }
        QVERIFY(!previous);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("fault");   // the command-line form
        QTest::addColumn<QString>("message"); // a pattern, after "("
        QTest::addColumn<int>("status");
        const QString device = poll + QStringLiteral(" --device-code {deviceCode}");
        const QString start =
            oidc + QStringLiteral("start-device-authorization --start-url {startUrl}");
        // Errors the stand-in reaches on its own (a spent device code: see the device flow).
        row("wrong client secret",
            start + QStringLiteral(" --client-id {clientId} --client-secret x"), "",
            "InvalidClientException", 401);
        row("unknown access token", QStringLiteral("sso list-accounts --access-token x"), "",
            "UnauthorizedException\\) when calling the ListAccounts.*: Session token not found or "
            "invalid",
            401);
        row("unknown account",
            QStringLiteral(
                "sso list-account-roles --access-token {accessToken} --account-id 000000000000"),
            "", "ResourceNotFoundException\\) when calling the ListAccountRoles", 404);
        // Errors injected as faults.
        row("pending", device, "token:error=authorization_pending*1",
            "AuthorizationPendingException\\) when calling the CreateToken operation", 400);
        row("server error", device, "token:error=server_error*1", "InternalServerException", 500);
        row("invalid request", accounts, "accounts:error=InvalidRequestException*1",
            "InvalidRequestException", 400);
    }

    void errors()
    {
        QFETCH(QString, command);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(int, status);
        if (!fault.isEmpty()) {
            QString error;
            const std::optional<StandInFault> parsed = StandInFault::parse(fault, &error);
            QVERIFY2(parsed, qPrintable(error));
            m_standIn.addFault(*parsed);
        }
        const CliResult result = run(command);
        QVERIFY(result.exitCode != 0);
        QVERIFY2(result.errorText.contains(QRegularExpression(QStringLiteral("\\(") + message)),
                 qPrintable(result.errorText));
        QCOMPARE(m_standIn.requestLog().size(), 1);
        QCOMPARE(m_standIn.requestLog().last().status, status);
        // The code also travels in the x-amzn-ErrorType header, where the SDKs look first.
        QVERIFY(message.startsWith(QString::fromLatin1(m_standIn.requestLog().last().errorType)));
    }

    void throttlingIsRetriedAsThrottling()
    {
        // botocore retries only what it recognises as throttling or a transient failure, so
        // a retry here proves the 429 reads as TooManyRequestsException.
        m_standIn.addFault(StandInFault::error(StandInOperation::listAccounts,
                                               QStringLiteral("TooManyRequestsException"))
                               .times(2));
        const CliResult result = run(accounts, 2);
        QVERIFY2(result.errorText.contains(QStringLiteral("(TooManyRequestsException)")),
                 qPrintable(result.errorText));
        QCOMPARE(m_standIn.requests(StandInOperation::listAccounts).size(), 2);
        QCOMPARE(m_standIn.requestLog().last().status, 429);
    }

    void stopsOnARepeatedNextToken()
    {
        m_standIn.addFault(StandInFault::repeatedNextToken(StandInOperation::listAccounts));
        const CliResult result = run(accounts + QStringLiteral(" --page-size 3"));
        QVERIFY2(result.errorText.contains(QStringLiteral("same next token"), Qt::CaseInsensitive),
                 qPrintable(result.errorText));
        QCOMPARE(m_standIn.requests(StandInOperation::listAccounts).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestStandInAwsCli)
#include "tst_standin_awscli.moc"
