#include "syncbench_run.h"

#include "processstats.h"
#include "standin.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>

namespace tessera::bench {

namespace {

using namespace tessera::standin;

constexpr int portalPageSize = 100;     // what the portal client asks for
constexpr int roleListingsInFlight = 6; // what a sync allows
constexpr auto clientTimeout = std::chrono::minutes(30);

double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return file.readLine().split(' ').value(0).toDouble();
}

// A fresh HOME and XDG folders for the client, so nothing it saves lands in the user's
// real ones, and the stand-in's endpoint and authority as the AWS SDKs read them.
QProcessEnvironment clientEnvironment(const StandIn &standIn, const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const auto set = [&environment](const QString &name, const QString &value) {
        environment.insert(name, value);
    };
    set(QStringLiteral("HOME"), home);
    set(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    set(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    set(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    set(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    set(QStringLiteral("AWS_CONFIG_FILE"), home + QStringLiteral("/aws/config"));
    set(QStringLiteral("AWS_SHARED_CREDENTIALS_FILE"), home + QStringLiteral("/aws/credentials"));
    set(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    for (const QString &name :
         {QStringLiteral("AWS_ENDPOINT_URL"), QStringLiteral("AWS_IGNORE_CONFIGURED_ENDPOINT_URLS"),
          QStringLiteral("HTTPS_PROXY"), QStringLiteral("https_proxy"), QStringLiteral("ALL_PROXY"),
          QStringLiteral("all_proxy")}) {
        environment.remove(name);
    }
    for (const auto &[name, value] : standIn.clientEnvironment()) {
        set(QString::fromLatin1(name), QString::fromLocal8Bit(value));
    }
    return environment;
}

} // namespace

bool SyncRunResult::succeeded(const SyncScenario &scenario) const
{
    return failure.isEmpty() && client.errorMessage.isEmpty() && client.signedIn &&
           client.accountCount == scenario.accountCount &&
           client.roleCount == scenario.accountCount * scenario.rolesPerAccount;
}

int accountPageCount(const SyncScenario &scenario)
{
    return std::max(1, (scenario.accountCount + portalPageSize - 1) / portalPageSize);
}

int sequentialRounds(const SyncScenario &scenario)
{
    return accountPageCount(scenario) +
           (scenario.accountCount + roleListingsInFlight - 1) / roleListingsInFlight;
}

double lowerBoundSeconds(const SyncScenario &scenario)
{
    const double latencyBound = double(sequentialRounds(scenario)) *
                                std::chrono::duration<double>(scenario.latency).count();
    if (scenario.throttleRate > 0) {
        return std::max(latencyBound, double(accountPageCount(scenario) + scenario.accountCount) /
                                          scenario.throttleRate);
    }
    return latencyBound;
}

SyncRunResult runSyncScenario(const SyncScenario &scenario, const QString &program,
                              const QString &clientArgument)
{
    SyncRunResult result;
    // One authority for every run of this process: making a key pair takes a while.
    static QTemporaryDir certificates;

    StandInOptions options;
    options.certificateDirectory = certificates.path();
    options.accounts = generateAccounts(scenario.accountCount, scenario.rolesPerAccount);
    options.throttleRate = scenario.throttleRate;
    StandIn standIn(options);
    // Started with the stand-in's own clock, which stamps each request's arrival.
    QElapsedTimer standInClock;
    standInClock.start();
    QString error;
    if (!standIn.start(&error)) {
        result.failure = QStringLiteral("the stand-in did not start: ") + error;
        return result;
    }
    standIn.addFault(StandInFault::delay(StandInOperation::listAccounts, scenario.latency));
    standIn.addFault(StandInFault::delay(StandInOperation::listAccountRoles, scenario.latency));

    // Counted as answered rather than read from the log, which is bounded.
    qint64 heldMs = 0;
    int heldListings = 0;
    QObject::connect(&standIn, &StandIn::requestAnswered, &standIn,
                     [&](const StandInRequest &request) {
                         if (request.operation == StandInOperation::listAccounts) {
                             ++result.accountPageRequests;
                         } else if (request.operation == StandInOperation::listAccountRoles) {
                             ++result.roleListingRequests;
                             if (request.status == 200) {
                                 heldMs += standInClock.elapsed() - request.receivedMs;
                                 ++heldListings;
                             }
                         }
                         if (request.status == 429) {
                             ++result.throttledAnswers;
                         } else if (request.status >= 300) {
                             ++result.otherFailedAnswers;
                         }
                     });

    QTemporaryDir home;
    const SyncJob job{standIn.startUrl().toString(), QStringLiteral("us-east-1"),
                      standIn.issueAccessToken()};

    QProcess client;
    const QString wrapper = qEnvironmentVariable("BENCH_SYNC_CLIENT_WRAPPER");
    client.setProgram(wrapper.isEmpty() ? program : wrapper);
    client.setArguments(wrapper.isEmpty() ? QStringList{clientArgument}
                                          : QStringList{program, clientArgument});
    client.setProcessEnvironment(clientEnvironment(standIn, home.path()));
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    QEventLoop loop;
    QObject::connect(&client, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&client, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            loop.quit();
        }
    });
    QTimer::singleShot(clientTimeout, &loop, [&client] { client.kill(); });

    result.loadBefore = loadAverage();
    const double waitBefore = runQueueWaitSeconds();
    client.start();
    client.write(QJsonDocument(job.toJson()).toJson(QJsonDocument::Compact));
    client.closeWriteChannel();
    loop.exec();
    result.loadAfter = loadAverage();
    result.standInRunQueueWaitSeconds = runQueueWaitSeconds() - waitBefore;
    result.highestInFlight = standIn.maxRequestsInFlight();
    result.meanHoldMs = heldListings > 0 ? double(heldMs) / heldListings : 0;

    if (client.error() == QProcess::FailedToStart) {
        result.failure = QStringLiteral("the client did not start: ") + client.errorString();
        return result;
    }
    if (client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0) {
        result.failure =
            QStringLiteral("the client ended abnormally (exit code %1)").arg(client.exitCode());
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument report =
        QJsonDocument::fromJson(client.readAllStandardOutput().trimmed(), &parseError);
    if (!report.isObject()) {
        result.failure =
            QStringLiteral("the client's report is unreadable: ") + parseError.errorString();
        return result;
    }
    result.client = SyncClientReport::fromJson(report.object());
    return result;
}

} // namespace tessera::bench
