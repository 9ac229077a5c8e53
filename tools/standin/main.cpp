// tessera-standin: serves the stand-in for IAM Identity Center until interrupted.
// Run with --help for the options.

#include "standin.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace tessera::standin;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop normally, so the temporary certificate folder
// is removed and the ready file is not left behind.
void quitOnSignals()
{
    if (::pipe(signalPipe) != 0) {
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

void printLine(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("tessera-standin: ") + message + QLatin1Char('\n')),
               stderr);
    std::exit(2);
}

int positiveInt(const QCommandLineParser &parser, const QString &name, int minimum)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum) {
        fail(QStringLiteral("--%1 needs a whole number of at least %2").arg(name).arg(minimum));
    }
    return value;
}

double nonNegativeDouble(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0) {
        fail(QStringLiteral("--%1 needs a number of at least 0").arg(name));
    }
    return value;
}

StandInOptions optionsFrom(const QCommandLineParser &parser)
{
    StandInOptions options;
    options.port = quint16(positiveInt(parser, QStringLiteral("port"), 0));
    options.certificateDirectory = parser.value(QStringLiteral("cert-dir"));

    if (parser.isSet(QStringLiteral("accounts"))) {
        QString error;
        const auto accounts = loadAccounts(parser.value(QStringLiteral("accounts")), &error);
        if (!accounts) {
            fail(QStringLiteral("cannot read %1: %2")
                     .arg(parser.value(QStringLiteral("accounts")), error));
        }
        options.accounts = *accounts;
    } else {
        static const QRegularExpression shape(QStringLiteral("^(\\d+)(?:x(\\d+))?$"));
        const QRegularExpressionMatch match = shape.match(parser.value(QStringLiteral("generate")));
        if (!match.hasMatch()) {
            fail(QStringLiteral("--generate expects N or NxM, e.g. 1000x3"));
        }
        const int roles = match.hasCaptured(2) ? match.captured(2).toInt() : 3;
        options.accounts =
            generateAccounts(match.captured(1).toInt(), roles,
                             quint32(positiveInt(parser, QStringLiteral("seed"), 0)));
    }

    options.accessTokenLifetime =
        std::chrono::seconds(positiveInt(parser, QStringLiteral("token-lifetime"), 1));
    options.issueRefreshTokens = !parser.isSet(QStringLiteral("no-refresh-tokens"));
    options.deviceCodeLifetime =
        std::chrono::seconds(positiveInt(parser, QStringLiteral("device-code-lifetime"), 1));
    options.pollingIntervalSeconds = positiveInt(parser, QStringLiteral("interval"), 1);

    const QString approval = parser.value(QStringLiteral("approve"));
    if (approval == u"manual") {
        options.approvalMode = ApprovalMode::manual;
    } else if (approval == u"first-poll") {
        options.approvalMode = ApprovalMode::onFirstPoll;
    } else if (approval.startsWith(u"after=")) {
        bool ok = false;
        const double seconds = approval.mid(6).toDouble(&ok);
        if (!ok || seconds < 0) {
            fail(QStringLiteral("--approve after=SECONDS needs a number of seconds"));
        }
        options.approvalMode = ApprovalMode::afterDelay;
        options.approvalDelay = std::chrono::milliseconds(qint64(seconds * 1000));
    } else {
        fail(QStringLiteral("--approve expects manual, first-poll or after=SECONDS"));
    }

    options.throttleRate = nonNegativeDouble(parser, QStringLiteral("throttle"));
    options.throttleBurst = nonNegativeDouble(parser, QStringLiteral("burst"));
    options.defaultPageSize = positiveInt(parser, QStringLiteral("page-size"), 1);
    if (options.defaultPageSize > 100) {
        fail(QStringLiteral("--page-size is at most 100"));
    }
    options.acceptAnyAccessToken = parser.isSet(QStringLiteral("accept-any-token"));
    return options;
}

void writeReadyFile(const QString &path, const StandIn &standIn)
{
    QSaveFile file(path);
    const QJsonObject ready{
        {QStringLiteral("port"), standIn.port()},
        {QStringLiteral("baseUrl"), standIn.baseUrl().toString()},
        {QStringLiteral("startUrl"), standIn.startUrl().toString()},
        {QStringLiteral("caBundle"), standIn.caBundlePath()},
        {QStringLiteral("pid"), qint64(QCoreApplication::applicationPid())},
    };
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(ready).toJson()) < 0 ||
        !file.commit()) {
        fail(QStringLiteral("cannot write %1").arg(path));
    }
}

QString describe(const StandInRequest &request)
{
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) +
                   QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path;
    if (!request.queryItems.isEmpty()) {
        QStringList items;
        for (const auto &[name, value] : request.queryItems) {
            items.append(name + QLatin1Char('=') + value);
        }
        line += QLatin1Char('?') + items.join(QLatin1Char('&'));
    }
    line += QStringLiteral(" -> %1").arg(request.status);
    if (!request.errorType.isEmpty()) {
        line += QLatin1Char(' ') + QString::fromLatin1(request.errorType);
    }
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessera-standin"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A local stand-in for AWS IAM Identity Center: the OIDC service (RegisterClient,\n"
        "StartDeviceAuthorization, CreateToken) and the access portal (ListAccounts,\n"
        "ListAccountRoles) over HTTPS on 127.0.0.1, with a certificate made at start.\n"
        "Point a client at it with the AWS_ENDPOINT_URL_SSO_OIDC, AWS_ENDPOINT_URL_SSO and\n"
        "AWS_CA_BUNDLE lines it prints. The verification page (verificationUriComplete)\n"
        "has Approve and Deny buttons; the start URL's page shows what a console deep\n"
        "link asked for.\n\n"
        "Faults (--fault, repeatable): OPERATION:KIND[=VALUE][*COUNT], where OPERATION is\n"
        "RegisterClient, StartDeviceAuthorization, CreateToken, ListAccounts or\n"
        "ListAccountRoles (or register, device_authorization, token, accounts, roles) and\n"
        "KIND is latency=MS, error=CODE (an OAuth code such as authorization_pending,\n"
        "slow_down, expired_token, invalid_grant, or an exception name such as\n"
        "UnauthorizedException, TooManyRequestsException), status=N, malformed,\n"
        "repeated-token or endless. COUNT limits how many requests it affects (default:\n"
        "all). Examples: token:error=slow_down*2  roles:latency=300  accounts:status=503*1"));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: any free port)."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("cert-dir"),
         QStringLiteral("Keep ca.pem, cert.pem and key.pem in DIR and reuse them on the next "
                        "start (default: a temporary folder removed at exit)."),
         QStringLiteral("DIR")},
        {QStringLiteral("accounts"),
         QStringLiteral("Accounts and roles from a JSON file: {\"accounts\": [{\"accountId\", "
                        "\"accountName\", \"emailAddress\", \"roles\": [...]}]}."),
         QStringLiteral("FILE")},
        {QStringLiteral("generate"),
         QStringLiteral("Generate N accounts with M roles each when --accounts is not given "
                        "(default: 12x3)."),
         QStringLiteral("NxM"), QStringLiteral("12x3")},
        {QStringLiteral("seed"), QStringLiteral("Seed for the generated accounts (default: 1)."),
         QStringLiteral("S"), QStringLiteral("1")},
        {QStringLiteral("write-accounts"),
         QStringLiteral("Write the accounts as JSON to FILE (a start for --accounts)."),
         QStringLiteral("FILE")},
        {QStringLiteral("token-lifetime"),
         QStringLiteral("Access-token lifetime in seconds (default: 3600)."),
         QStringLiteral("SECONDS"), QStringLiteral("3600")},
        {QStringLiteral("no-refresh-tokens"), QStringLiteral("Issue no refresh tokens.")},
        {QStringLiteral("device-code-lifetime"),
         QStringLiteral("Lifetime of a device authorization in seconds (default: 600)."),
         QStringLiteral("SECONDS"), QStringLiteral("600")},
        {QStringLiteral("interval"),
         QStringLiteral("Polling interval announced to clients (default: 1)."),
         QStringLiteral("SECONDS"), QStringLiteral("1")},
        {QStringLiteral("approve"),
         QStringLiteral("How device codes are approved: manual (the verification page), "
                        "first-poll, or after=SECONDS (default: manual)."),
         QStringLiteral("MODE"), QStringLiteral("manual")},
        {QStringLiteral("throttle"),
         QStringLiteral("Requests per second per portal operation before 429 "
                        "TooManyRequestsException (0: no limit; default: 20)."),
         QStringLiteral("RATE"), QStringLiteral("20")},
        {QStringLiteral("burst"), QStringLiteral("Throttle bucket size (0: one second's worth)."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("page-size"),
         QStringLiteral("Page size when a listing sends no max_result (default: 20)."),
         QStringLiteral("N"), QStringLiteral("20")},
        {QStringLiteral("accept-any-token"),
         QStringLiteral("Let the portal accept any access token.")},
        {QStringLiteral("fault"), QStringLiteral("Inject a fault (see above); repeatable."),
         QStringLiteral("FAULT")},
        {QStringLiteral("ready-file"),
         QStringLiteral("Once listening, write {port, baseUrl, startUrl, caBundle, pid} as JSON "
                        "to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("quiet"), QStringLiteral("Do not print each request.")},
    });
    parser.process(app);

    StandIn standIn(optionsFrom(parser));
    for (const QString &faultText : parser.values(QStringLiteral("fault"))) {
        QString error;
        const std::optional<StandInFault> fault = StandInFault::parse(faultText, &error);
        if (!fault) {
            fail(error);
        }
        standIn.addFault(*fault);
    }
    if (parser.isSet(QStringLiteral("write-accounts"))) {
        QSaveFile file(parser.value(QStringLiteral("write-accounts")));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(accountsToJson(standIn.options().accounts)) < 0 || !file.commit()) {
            fail(QStringLiteral("cannot write %1").arg(file.fileName()));
        }
    }

    QString error;
    if (!standIn.start(&error)) {
        fail(error);
    }
    quitOnSignals();

    qsizetype roleCount = 0;
    for (const StandInAccount &account : standIn.options().accounts) {
        roleCount += account.roleNames.size();
    }
    printLine(
        QStringLiteral("Stand-in for IAM Identity Center on %1").arg(standIn.baseUrl().toString()));
    printLine(QStringLiteral("start URL: %1   accounts: %2   roles: %3")
                  .arg(standIn.startUrl().toString())
                  .arg(standIn.options().accounts.size())
                  .arg(roleCount));
    for (const auto &[name, value] : standIn.clientEnvironment()) {
        printLine(QStringLiteral("export %1=%2")
                      .arg(QString::fromLatin1(name), QString::fromUtf8(value)));
    }
    if (!parser.isSet(QStringLiteral("quiet"))) {
        QObject::connect(&standIn, &StandIn::requestAnswered, &standIn,
                         [](const StandInRequest &request) { printLine(describe(request)); });
        QObject::connect(
            &standIn, &StandIn::deviceAuthorizationStarted, &standIn,
            [](const QString &userCode, const QUrl &url) {
                printLine(
                    QStringLiteral("device authorization %1: %2").arg(userCode, url.toString()));
            });
    }

    const QString readyFile = parser.value(QStringLiteral("ready-file"));
    if (!readyFile.isEmpty()) {
        writeReadyFile(readyFile, standIn);
    }
    const int status = app.exec();
    if (!readyFile.isEmpty()) {
        QFile::remove(readyFile);
    }
    return status;
}
