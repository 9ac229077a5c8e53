#pragma once

#include <QJsonObject>
#include <QString>

namespace tessera::bench {

// What the driver hands the client process on its standard input: where the portal's
// start URL is, and the access token of a sign-in that has already happened.
struct SyncJob
{
    QString startUrl;
    QString region;
    QString accessToken;

    QJsonObject toJson() const;
    static SyncJob fromJson(const QJsonObject &object);
};

// What the client process reports on its standard output after one sync.
struct SyncClientReport
{
    double wallSeconds = 0;
    double cpuSeconds = 0;          // user + system time of the client process during the sync
    double runQueueWaitSeconds = 0; // its threads' time waiting for a CPU during the sync
    qint64 peakResidentKiB = 0;
    qint64 residentBeforeSyncKiB = 0;
    int accountCount = 0;
    int roleCount = 0;
    bool signedIn = false;
    QString errorMessage;

    QJsonObject toJson() const;
    static SyncClientReport fromJson(const QJsonObject &object);
};

// The client process: builds an account store as the application does (production HTTPS
// transport, the endpoint and CA bundle from the environment), with the job's token in an
// in-memory secure store, runs one sync and prints its report as JSON. It runs apart from
// the stand-in so that its CPU time and peak memory are its own.
int runSyncClient(int argc, char **argv);

} // namespace tessera::bench
