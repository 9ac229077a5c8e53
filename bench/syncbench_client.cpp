#include "syncbench_client.h"

#include "accounts/accountstore.h"
#include "aws/curlhttptransport.h"
#include "processstats.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>

namespace tessera::bench {

namespace {

// Kept free of captures: the store and the report outlive the event loop that runs it.
QCoro::Task<void> syncAndQuit(AccountStore *store, SyncClientReport *report)
{
    report->residentBeforeSyncKiB = peakResidentKiB();
    const double cpuBefore = processCpuSeconds();
    const double waitBefore = runQueueWaitSeconds();
    QElapsedTimer wall;
    wall.start();
    co_await store->sync();
    report->wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    report->cpuSeconds = processCpuSeconds() - cpuBefore;
    report->runQueueWaitSeconds = runQueueWaitSeconds() - waitBefore;
    report->peakResidentKiB = peakResidentKiB();

    report->accountCount = int(store->accounts().size());
    for (const AWSAccount &account : store->accounts()) {
        report->roleCount += int(account.roles.size());
    }
    report->signedIn = store->session().isSignedIn();
    report->errorMessage = store->errorMessageOrEmpty();
    QCoreApplication::quit();
}

} // namespace

QJsonObject SyncJob::toJson() const
{
    return {{QStringLiteral("startUrl"), startUrl},
            {QStringLiteral("region"), region},
            {QStringLiteral("accessToken"), accessToken}};
}

SyncJob SyncJob::fromJson(const QJsonObject &object)
{
    return {object.value(QStringLiteral("startUrl")).toString(),
            object.value(QStringLiteral("region")).toString(),
            object.value(QStringLiteral("accessToken")).toString()};
}

QJsonObject SyncClientReport::toJson() const
{
    return {{QStringLiteral("wallSeconds"), wallSeconds},
            {QStringLiteral("cpuSeconds"), cpuSeconds},
            {QStringLiteral("runQueueWaitSeconds"), runQueueWaitSeconds},
            {QStringLiteral("peakResidentKiB"), peakResidentKiB},
            {QStringLiteral("residentBeforeSyncKiB"), residentBeforeSyncKiB},
            {QStringLiteral("accountCount"), accountCount},
            {QStringLiteral("roleCount"), roleCount},
            {QStringLiteral("signedIn"), signedIn},
            {QStringLiteral("errorMessage"), errorMessage}};
}

SyncClientReport SyncClientReport::fromJson(const QJsonObject &object)
{
    SyncClientReport report;
    report.wallSeconds = object.value(QStringLiteral("wallSeconds")).toDouble();
    report.cpuSeconds = object.value(QStringLiteral("cpuSeconds")).toDouble();
    report.runQueueWaitSeconds = object.value(QStringLiteral("runQueueWaitSeconds")).toDouble();
    report.peakResidentKiB = object.value(QStringLiteral("peakResidentKiB")).toInteger();
    report.residentBeforeSyncKiB =
        object.value(QStringLiteral("residentBeforeSyncKiB")).toInteger();
    report.accountCount = object.value(QStringLiteral("accountCount")).toInt();
    report.roleCount = object.value(QStringLiteral("roleCount")).toInt();
    report.signedIn = object.value(QStringLiteral("signedIn")).toBool();
    report.errorMessage = object.value(QStringLiteral("errorMessage")).toString();
    return report;
}

int runSyncClient(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        std::fputs("bench_sync client: cannot read the job\n", stderr);
        return 2;
    }
    const SyncJob job = SyncJob::fromJson(QJsonDocument::fromJson(input.readAll()).object());

    auto settings = std::make_shared<InMemorySettingsStore>();
    registerTesseraDefaults(*settings);
    settings->setString(key(settingskey::startUrl), job.startUrl);
    settings->setString(key(settingskey::ssoRegion), job.region);
    // Only the portal traffic is measured; the AWS CLI profile update stays off.
    settings->setBool(key(settingskey::awsProfileAutoSync), false);

    // The token a completed sign-in would have left in the secure store.
    InMemoryKeychainStore keychainStore;
    const Keychain keychain(keychainStore.operations());
    SSOToken token;
    token.accessToken = job.accessToken;
    token.expiresAt = QDateTime::currentDateTimeUtc().addSecs(3600);
    token.region = job.region;
    token.startUrl = normalizedStartURL(*settings);
    QCoro::waitFor(keychain.save(token, QLatin1String(keychainTokenAccount)));

    // Made here, after the driver set AWS_ENDPOINT_URL_SSO and AWS_CA_BUNDLE, as the
    // application's default session would be.
    AccountStore::Options storeOptions;
    storeOptions.loadPersistedState = true;
    storeOptions.keychain = keychain;
    storeOptions.settings = settings;
    storeOptions.openURL = [](const QUrl &) { return false; };
    storeOptions.transport = defaultHttpTransport();
    AccountStore store(std::move(storeOptions));
    if (!store.session().isSignedIn()) {
        std::fputs("bench_sync client: the stored token was not taken up\n", stderr);
        return 2;
    }

    SyncClientReport report;
    syncAndQuit(&store, &report);
    app.exec();

    const QByteArray json = QJsonDocument(report.toJson()).toJson(QJsonDocument::Compact);
    std::fwrite(json.constData(), 1, std::size_t(json.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace tessera::bench
