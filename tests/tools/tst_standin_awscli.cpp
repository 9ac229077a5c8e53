// Drives the stand-in with the real AWS CLI: if the CLI reads every answer (success
// shapes, pagination, each modeled error) as it reads the real service's, then what
// Tessera learns from the stand-in holds against AWS too.

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

namespace {

struct CliResult
{
    int exitCode = -1;
    QJsonObject output;
    QString errorText;
};

const QString deviceGrant = QStringLiteral("urn:ietf:params:oauth:grant-type:device_code");

} // namespace

class TestStandInAwsCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void registersAClient();
    void completesTheDeviceFlowAndRefreshes();
    void followsAccountPages();
    void followsRolePages();
    void oidcErrors_data();
    void oidcErrors();
    void portalErrors_data();
    void portalErrors();
    void throttlingIsRetriedAsThrottling();
    void stopsOnARepeatedNextToken();

private:
    CliResult run(const QStringList &arguments, int maxAttempts = 1);
    QStringList substituted(QStringList arguments) const;
    QString inject(const QString &faultSpec);

    QString m_cli;
    QTemporaryDir m_home;
    StandIn m_standIn;
    bool m_endpointsFromEnvironment = false;
    QString m_clientId;
    QString m_clientSecret;
    QString m_accessToken;
    QString m_pendingDeviceCode;
};

void TestStandInAwsCli::initTestCase()
{
    m_cli = qEnvironmentVariable("TESSERA_AWS_CLI");
    QVERIFY2(!m_cli.isEmpty() && QFileInfo(m_cli).isExecutable(),
             "the AWS CLI is required (install the awscli package; scripts/setup.sh does)");
    QVERIFY(m_home.isValid());

    QFile config(m_home.filePath(QStringLiteral("config")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[default]\nregion = us-east-1\noutput = json\ncli_follow_urlparam = false\n");
    config.close();

    QList<StandInAccount> accounts = generateAccounts(7, 3, 42);
    accounts[2].roleNames = {QStringLiteral("AdministratorAccess"), QStringLiteral("Billing"),
                             QStringLiteral("ReadOnlyAccess"), QStringLiteral("Role With Spaces"),
                             QStringLiteral("SecurityAudit")};
    m_standIn.setAccounts(accounts);
    m_standIn.setThrottleRate(0);
    QString error;
    QVERIFY2(m_standIn.start(&error), qPrintable(error));

    // botocore honours AWS_ENDPOINT_URL_<SERVICE> from 1.31 (AWS CLI 2.13); older clients
    // are pointed at the stand-in with --endpoint-url instead.
    QProcess version;
    version.start(m_cli, {QStringLiteral("--version")});
    QVERIFY(tessera::test::processEventsUntil(
        [&] { return version.state() == QProcess::NotRunning; }, 120000));
    const QString banner =
        QString::fromUtf8(version.readAllStandardOutput() + version.readAllStandardError());
    QVERIFY2(version.exitCode() == 0, qPrintable(banner));
    const auto cli = QRegularExpression(QStringLiteral("aws-cli/(\\d+)\\.(\\d+)")).match(banner);
    const auto core = QRegularExpression(QStringLiteral("botocore/(\\d+)\\.(\\d+)")).match(banner);
    if (cli.hasMatch() && cli.captured(1).toInt() >= 2) {
        m_endpointsFromEnvironment = cli.captured(1).toInt() > 2 || cli.captured(2).toInt() >= 13;
    } else if (core.hasMatch()) {
        m_endpointsFromEnvironment = core.captured(1).toInt() > 1 || core.captured(2).toInt() >= 31;
    }
    qInfo("%s; endpoints via %s", qPrintable(banner.trimmed()),
          m_endpointsFromEnvironment ? "AWS_ENDPOINT_URL_SSO_OIDC / AWS_ENDPOINT_URL_SSO"
                                     : "--endpoint-url");

    m_accessToken = m_standIn.issueAccessToken();
}

void TestStandInAwsCli::init()
{
    m_standIn.clearFaults();
    m_standIn.clearRequestLog();
}

// Adds a fault given in the command-line form; returns why it could not be parsed.
QString TestStandInAwsCli::inject(const QString &faultSpec)
{
    if (faultSpec.isEmpty()) {
        return {};
    }
    QString error;
    const std::optional<StandInFault> fault = StandInFault::parse(faultSpec, &error);
    if (fault) {
        m_standIn.addFault(*fault);
    }
    return error;
}

CliResult TestStandInAwsCli::run(const QStringList &arguments, int maxAttempts)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("AWS_CONFIG_FILE"),
                       m_home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("AWS_SHARED_CREDENTIALS_FILE"),
                       m_home.filePath(QStringLiteral("credentials")));
    environment.insert(QStringLiteral("AWS_PAGER"), QString());
    environment.insert(QStringLiteral("AWS_EC2_METADATA_DISABLED"), QStringLiteral("true"));
    environment.insert(QStringLiteral("AWS_RETRY_MODE"), QStringLiteral("standard"));
    environment.insert(QStringLiteral("AWS_MAX_ATTEMPTS"), QString::number(maxAttempts));
    environment.insert(QStringLiteral("NO_PROXY"), QStringLiteral("127.0.0.1,localhost"));
    for (const auto &[name, value] : m_standIn.clientEnvironment()) {
        environment.insert(QString::fromLatin1(name), QString::fromUtf8(value));
    }

    // Generated codes and tokens may begin with "-", which the CLI's argument parser would
    // take for an option: hand every option its value as "--name=value".
    static const QRegularExpression optionName(QStringLiteral("^--[a-z]+(-[a-z]+)*$"));
    QStringList fullArguments;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (optionName.match(argument).hasMatch() && i + 1 < arguments.size() &&
            !optionName.match(arguments[i + 1]).hasMatch()) {
            fullArguments << argument + QLatin1Char('=') + arguments[i + 1];
            ++i;
        } else {
            fullArguments << argument;
        }
    }
    fullArguments << QStringLiteral("--region") << QStringLiteral("us-east-1")
                  << QStringLiteral("--output") << QStringLiteral("json");
    if (!m_endpointsFromEnvironment) {
        fullArguments << QStringLiteral("--endpoint-url") << m_standIn.baseUrl().toString();
    }

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(m_cli, fullArguments);
    // The stand-in lives on this thread, so the wait has to keep the event loop turning.
    const bool finished = tessera::test::processEventsUntil(
        [&] { return process.state() == QProcess::NotRunning; }, 180000);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    CliResult result;
    result.exitCode =
        finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    result.errorText = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QStringList TestStandInAwsCli::substituted(QStringList arguments) const
{
    for (QString &argument : arguments) {
        argument.replace(QStringLiteral("{clientId}"), m_clientId)
            .replace(QStringLiteral("{clientSecret}"), m_clientSecret)
            .replace(QStringLiteral("{deviceCode}"), m_pendingDeviceCode)
            .replace(QStringLiteral("{startUrl}"), m_standIn.startUrl().toString())
            .replace(QStringLiteral("{accessToken}"), m_accessToken);
    }
    return arguments;
}

void TestStandInAwsCli::registersAClient()
{
    const CliResult result =
        run({QStringLiteral("sso-oidc"), QStringLiteral("register-client"),
             QStringLiteral("--client-name"), QStringLiteral("Tessera"),
             QStringLiteral("--client-type"), QStringLiteral("public"), QStringLiteral("--scopes"),
             QStringLiteral("sso:account:access")});
    QVERIFY2(result.exitCode == 0, qPrintable(result.errorText));

    const QJsonObject &answer = result.output;
    m_clientId = answer.value(u"clientId").toString();
    m_clientSecret = answer.value(u"clientSecret").toString();
    QVERIFY(!m_clientId.isEmpty());
    QVERIFY(!m_clientSecret.isEmpty());
    // The model types both instants as longs: the CLI prints them as whole numbers.
    QVERIFY(answer.value(u"clientIdIssuedAt").isDouble());
    QVERIFY(answer.value(u"clientSecretExpiresAt").toInteger() >
            answer.value(u"clientIdIssuedAt").toInteger());

    const StandInRequest request = m_standIn.requests(StandInOperation::registerClient).last();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.jsonBody(),
             (QJsonObject{
                 {QStringLiteral("clientName"), QStringLiteral("Tessera")},
                 {QStringLiteral("clientType"), QStringLiteral("public")},
                 {QStringLiteral("scopes"), QJsonArray{QStringLiteral("sso:account:access")}}}));
}

void TestStandInAwsCli::completesTheDeviceFlowAndRefreshes()
{
    QVERIFY(!m_clientId.isEmpty());
    m_standIn.setApprovalMode(ApprovalMode::manual);
    const CliResult started =
        run(substituted({QStringLiteral("sso-oidc"), QStringLiteral("start-device-authorization"),
                         QStringLiteral("--client-id"), QStringLiteral("{clientId}"),
                         QStringLiteral("--client-secret"), QStringLiteral("{clientSecret}"),
                         QStringLiteral("--start-url"), QStringLiteral("{startUrl}")}));
    QVERIFY2(started.exitCode == 0, qPrintable(started.errorText));
    const QString deviceCode = started.output.value(u"deviceCode").toString();
    const QString userCode = started.output.value(u"userCode").toString();
    QVERIFY(!deviceCode.isEmpty());
    QCOMPARE(started.output.value(u"verificationUri").toString(),
             m_standIn.baseUrl().toString() + QStringLiteral("/device"));
    QCOMPARE(started.output.value(u"verificationUriComplete").toString(),
             m_standIn.baseUrl().toString() + QStringLiteral("/device?user_code=") + userCode);
    QCOMPARE(started.output.value(u"expiresIn").toInt(), 600);
    QCOMPARE(started.output.value(u"interval").toInt(), 1);

    const QStringList poll = substituted(
        {QStringLiteral("sso-oidc"), QStringLiteral("create-token"), QStringLiteral("--client-id"),
         QStringLiteral("{clientId}"), QStringLiteral("--client-secret"),
         QStringLiteral("{clientSecret}"), QStringLiteral("--grant-type"), deviceGrant,
         QStringLiteral("--device-code"), deviceCode});
    const CliResult pending = run(poll);
    QVERIFY(pending.exitCode != 0);
    QVERIFY2(pending.errorText.contains(QStringLiteral(
                 "(AuthorizationPendingException) when calling the CreateToken operation")),
             qPrintable(pending.errorText));

    QVERIFY(m_standIn.approve(userCode));
    const CliResult granted = run(poll);
    QVERIFY2(granted.exitCode == 0, qPrintable(granted.errorText));
    const QString accessToken = granted.output.value(u"accessToken").toString();
    const QString refreshToken = granted.output.value(u"refreshToken").toString();
    QVERIFY(!accessToken.isEmpty());
    QVERIFY(!refreshToken.isEmpty());
    QCOMPARE(granted.output.value(u"tokenType").toString(), QStringLiteral("Bearer"));
    QCOMPARE(granted.output.value(u"expiresIn").toInt(), 3600);

    const QStringList refresh = substituted(
        {QStringLiteral("sso-oidc"), QStringLiteral("create-token"), QStringLiteral("--client-id"),
         QStringLiteral("{clientId}"), QStringLiteral("--client-secret"),
         QStringLiteral("{clientSecret}"), QStringLiteral("--grant-type"),
         QStringLiteral("refresh_token"), QStringLiteral("--refresh-token"), refreshToken});
    const CliResult refreshed = run(refresh);
    QVERIFY2(refreshed.exitCode == 0, qPrintable(refreshed.errorText));
    QVERIFY(!refreshed.output.value(u"accessToken").toString().isEmpty());
    QVERIFY(refreshed.output.value(u"accessToken").toString() != accessToken);
    QVERIFY(!refreshed.output.value(u"refreshToken").toString().isEmpty());
    QVERIFY(refreshed.output.value(u"refreshToken").toString() != refreshToken);

    // The refresh token was retired by its use.
    const CliResult reused = run(refresh);
    QVERIFY(reused.errorText.contains(QStringLiteral("(InvalidGrantException)")));

    // The freshly issued token opens the portal.
    const CliResult accounts =
        run({QStringLiteral("sso"), QStringLiteral("list-accounts"),
             QStringLiteral("--access-token"), refreshed.output.value(u"accessToken").toString()});
    QVERIFY2(accounts.exitCode == 0, qPrintable(accounts.errorText));
}

void TestStandInAwsCli::followsAccountPages()
{
    const CliResult result = run(substituted(
        {QStringLiteral("sso"), QStringLiteral("list-accounts"), QStringLiteral("--access-token"),
         QStringLiteral("{accessToken}"), QStringLiteral("--page-size"), QStringLiteral("3")}));
    QVERIFY2(result.exitCode == 0, qPrintable(result.errorText));

    const QJsonArray listed = result.output.value(u"accountList").toArray();
    const QList<StandInAccount> &accounts = m_standIn.options().accounts;
    QCOMPARE(listed.size(), accounts.size());
    for (qsizetype i = 0; i < accounts.size(); ++i) {
        const QJsonObject entry = listed[i].toObject();
        QCOMPARE(entry.value(u"accountId").toString(), accounts[i].accountId);
        QCOMPARE(entry.value(u"accountName").toString(), accounts[i].accountName);
        QCOMPARE(entry.value(u"emailAddress").toString(), accounts[i].emailAddress);
    }

    // 7 accounts in pages of 3: each request continues with the token of the one before.
    const QList<StandInRequest> requests = m_standIn.requests(StandInOperation::listAccounts);
    QCOMPARE(requests.size(), 3);
    QString previousToken;
    for (const StandInRequest &request : requests) {
        QCOMPARE(request.header("x-amz-sso_bearer_token"), m_accessToken.toUtf8());
        QCOMPARE(request.queryValue(QStringLiteral("max_result")), QStringLiteral("3"));
        if (previousToken.isEmpty()) {
            QVERIFY(!request.queryValue(QStringLiteral("next_token")));
        } else {
            QCOMPARE(request.queryValue(QStringLiteral("next_token")), previousToken);
        }
        previousToken =
            QJsonDocument::fromJson(request.responseBody).object().value(u"nextToken").toString();
    }
    QVERIFY(previousToken.isEmpty());
}

void TestStandInAwsCli::followsRolePages()
{
    const StandInAccount account = m_standIn.options().accounts[2];
    const CliResult result =
        run(substituted({QStringLiteral("sso"), QStringLiteral("list-account-roles"),
                         QStringLiteral("--access-token"), QStringLiteral("{accessToken}"),
                         QStringLiteral("--account-id"), account.accountId,
                         QStringLiteral("--page-size"), QStringLiteral("2")}));
    QVERIFY2(result.exitCode == 0, qPrintable(result.errorText));

    QStringList roleNames;
    for (const QJsonValue &entry : result.output.value(u"roleList").toArray()) {
        QCOMPARE(entry.toObject().value(u"accountId").toString(), account.accountId);
        roleNames.append(entry.toObject().value(u"roleName").toString());
    }
    QCOMPARE(roleNames, account.roleNames);
    const QList<StandInRequest> requests = m_standIn.requests(StandInOperation::listAccountRoles);
    QCOMPARE(requests.size(), 3);
    for (const StandInRequest &request : requests) {
        QCOMPARE(request.queryValue(QStringLiteral("account_id")), account.accountId);
    }
}

void TestStandInAwsCli::oidcErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("exception");
    QTest::addColumn<int>("status");

    const QStringList client = {QStringLiteral("--client-id"), QStringLiteral("{clientId}"),
                                QStringLiteral("--client-secret"),
                                QStringLiteral("{clientSecret}")};
    const QStringList token =
        QStringList{QStringLiteral("sso-oidc"), QStringLiteral("create-token")} + client;
    const QStringList poll =
        token + QStringList{QStringLiteral("--grant-type"), deviceGrant,
                            QStringLiteral("--device-code"), QStringLiteral("{deviceCode}")};
    const QStringList start =
        QStringList{QStringLiteral("sso-oidc"), QStringLiteral("start-device-authorization"),
                    QStringLiteral("--start-url"), QStringLiteral("{startUrl}")} +
        client;
    auto registration = [](const QString &type, const QString &scope) {
        return QStringList{QStringLiteral("sso-oidc"),      QStringLiteral("register-client"),
                           QStringLiteral("--client-name"), QStringLiteral("x"),
                           QStringLiteral("--client-type"), type,
                           QStringLiteral("--scopes"),      scope};
    };

    // Errors the stand-in reaches on its own.
    QTest::newRow("unknown device code")
        << QStringList(token + QStringList{QStringLiteral("--grant-type"), deviceGrant,
                                           QStringLiteral("--device-code"),
                                           QStringLiteral("nonsense")})
        << QString() << "InvalidGrantException" << 400;
    QTest::newRow("unsupported grant")
        << QStringList(token +
                       QStringList{QStringLiteral("--grant-type"), QStringLiteral("password")})
        << QString() << "UnsupportedGrantTypeException" << 400;
    QTest::newRow("device grant without a code")
        << QStringList(token + QStringList{QStringLiteral("--grant-type"), deviceGrant})
        << QString() << "InvalidRequestException" << 400;
    QTest::newRow("wrong client secret")
        << QStringList{QStringLiteral("sso-oidc"),
                       QStringLiteral("start-device-authorization"),
                       QStringLiteral("--client-id"),
                       QStringLiteral("{clientId}"),
                       QStringLiteral("--client-secret"),
                       QStringLiteral("wrong"),
                       QStringLiteral("--start-url"),
                       QStringLiteral("{startUrl}")}
        << QString() << "InvalidClientException" << 401;
    QTest::newRow("confidential client")
        << registration(QStringLiteral("confidential"), QStringLiteral("sso:account:access"))
        << QString() << "InvalidClientMetadataException" << 400;
    QTest::newRow("unknown scope") << registration(QStringLiteral("public"), QStringLiteral("s3"))
                                   << QString() << "InvalidScopeException" << 400;
    // Errors injected as faults, in the command-line form.
    QTest::newRow("slow down") << poll << "token:error=slow_down*1"
                               << "SlowDownException" << 400;
    QTest::newRow("expired") << poll << "token:error=expired_token*1"
                             << "ExpiredTokenException" << 400;
    QTest::newRow("denied") << poll << "token:error=access_denied*1"
                            << "AccessDeniedException" << 400;
    QTest::newRow("unauthorized client") << poll << "token:error=unauthorized_client*1"
                                         << "UnauthorizedClientException" << 400;
    QTest::newRow("server error") << poll << "token:error=server_error*1"
                                  << "InternalServerException" << 500;
    QTest::newRow("start slowed") << start << "device_authorization:error=SlowDownException*1"
                                  << "SlowDownException" << 400;
}

void TestStandInAwsCli::oidcErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, fault);
    QFETCH(QString, exception);
    QFETCH(int, status);
    QVERIFY(!m_clientId.isEmpty());
    if (m_pendingDeviceCode.isEmpty()) {
        const CliResult started = run(
            substituted({QStringLiteral("sso-oidc"), QStringLiteral("start-device-authorization"),
                         QStringLiteral("--client-id"), QStringLiteral("{clientId}"),
                         QStringLiteral("--client-secret"), QStringLiteral("{clientSecret}"),
                         QStringLiteral("--start-url"), QStringLiteral("{startUrl}")}));
        m_pendingDeviceCode = started.output.value(u"deviceCode").toString();
        QVERIFY(!m_pendingDeviceCode.isEmpty());
        m_standIn.clearRequestLog();
    }
    const QString faultError = inject(fault);
    QVERIFY2(faultError.isEmpty(), qPrintable(faultError));

    const CliResult result = run(substituted(arguments));
    QVERIFY(result.exitCode != 0);
    QVERIFY2(result.errorText.contains(QLatin1Char('(') + exception + QLatin1Char(')')),
             qPrintable(result.errorText));
    const QList<StandInRequest> log = m_standIn.requestLog();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.last().status, status);
    QCOMPARE(log.last().errorType, exception.toLatin1());
}

void TestStandInAwsCli::portalErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("status");

    const QStringList accounts = {QStringLiteral("sso"), QStringLiteral("list-accounts"),
                                  QStringLiteral("--access-token"),
                                  QStringLiteral("{accessToken}")};
    QTest::newRow("unknown token")
        << QStringList{QStringLiteral("sso"), QStringLiteral("list-accounts"),
                       QStringLiteral("--access-token"), QStringLiteral("not-a-token")}
        << QString()
        << QStringList{QStringLiteral("(UnauthorizedException) when calling the ListAccounts"),
                       QStringLiteral(": Session token not found or invalid")}
        << 401;
    QTest::newRow("unknown account")
        << QStringList{QStringLiteral("sso"),
                       QStringLiteral("list-account-roles"),
                       QStringLiteral("--access-token"),
                       QStringLiteral("{accessToken}"),
                       QStringLiteral("--account-id"),
                       QStringLiteral("000000000000")}
        << QString()
        << QStringList{QStringLiteral(
               "(ResourceNotFoundException) when calling the ListAccountRoles")}
        << 404;
    QTest::newRow("invalid request")
        << accounts << "accounts:error=InvalidRequestException*1"
        << QStringList{QStringLiteral("(InvalidRequestException)")} << 400;
    QTest::newRow("unauthorized fault")
        << accounts << "accounts:error=Unauthorized*1"
        << QStringList{QStringLiteral("(UnauthorizedException)")} << 401;
}

void TestStandInAwsCli::portalErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, fault);
    QFETCH(QStringList, expected);
    QFETCH(int, status);
    const QString faultError = inject(fault);
    QVERIFY2(faultError.isEmpty(), qPrintable(faultError));

    const CliResult result = run(substituted(arguments));
    QVERIFY(result.exitCode != 0);
    for (const QString &part : expected) {
        QVERIFY2(result.errorText.contains(part), qPrintable(result.errorText));
    }
    QCOMPARE(m_standIn.requestLog().size(), 1);
    QCOMPARE(m_standIn.requestLog().last().status, status);
}

void TestStandInAwsCli::throttlingIsRetriedAsThrottling()
{
    // botocore retries only what it recognises as throttling or a transient failure, so
    // a retry here proves the 429 reads as TooManyRequestsException.
    const QStringList listAccounts = substituted(
        {QStringLiteral("sso"), QStringLiteral("list-accounts"), QStringLiteral("--access-token"),
         QStringLiteral("{accessToken}"), QStringLiteral("--page-size"), QStringLiteral("1")});
    m_standIn.addFault(StandInFault::error(StandInOperation::listAccounts,
                                           QStringLiteral("TooManyRequestsException"))
                           .times(2));
    const CliResult result = run(listAccounts, 2);
    QVERIFY(result.exitCode != 0);
    QVERIFY2(result.errorText.contains(QStringLiteral("(TooManyRequestsException)")),
             qPrintable(result.errorText));
    const QList<StandInRequest> requests = m_standIn.requests(StandInOperation::listAccounts);
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].status, 429);
    QCOMPARE(requests[1].status, 429);
}

void TestStandInAwsCli::stopsOnARepeatedNextToken()
{
    m_standIn.addFault(StandInFault::repeatedNextToken(StandInOperation::listAccounts));
    const CliResult result = run(substituted(
        {QStringLiteral("sso"), QStringLiteral("list-accounts"), QStringLiteral("--access-token"),
         QStringLiteral("{accessToken}"), QStringLiteral("--page-size"), QStringLiteral("3")}));
    QVERIFY(result.exitCode != 0);
    QVERIFY2(result.errorText.contains(QStringLiteral("same next token"), Qt::CaseInsensitive),
             qPrintable(result.errorText));
    QCOMPARE(m_standIn.requests(StandInOperation::listAccounts).size(), 2);
}

QTEST_GUILESS_MAIN(TestStandInAwsCli)
#include "tst_standin_awscli.moc"
