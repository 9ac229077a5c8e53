#pragma once

#include "syncbench_client.h"

#include <QString>
#include <chrono>

namespace tessera::bench {

struct SyncScenario
{
    int accountCount = 100;
    int rolesPerAccount = 3;
    std::chrono::milliseconds latency{20}; // added to every portal answer
    double throttleRate = 0;               // portal requests per second per operation; 0: none
};

struct SyncRunResult
{
    SyncClientReport client;
    QString failure; // set when the client could not run or report at all

    // As the stand-in saw the run.
    int accountPageRequests = 0;
    int roleListingRequests = 0;
    int throttledAnswers = 0; // 429
    int otherFailedAnswers = 0;
    int highestInFlight = 0;
    // How long the stand-in held a successful role listing on average, from receipt to
    // answer: the latency plus how late its timer fired.
    double meanHoldMs = 0;
    double standInRunQueueWaitSeconds = 0; // the stand-in's (this process's) wait for a CPU
    double loadBefore = 0;                 // one-minute load average
    double loadAfter = 0;

    bool succeeded(const SyncScenario &scenario) const;
};

// Serves the scenario's organization from an in-process stand-in over TLS on 127.0.0.1,
// runs the client process (this program again with `clientArgument`) against it, and
// collects what both saw. Needs a running QCoreApplication.
SyncRunResult runSyncScenario(const SyncScenario &scenario, const QString &program,
                              const QString &clientArgument);

// The least possible wall time of a sync of the scenario: without throttling, the pages
// of the account listing one after another, then ceil(N / 6) rounds of role listings,
// each taking the latency; with throttling, also every request paced at the rate, so the
// larger of the two.
double lowerBoundSeconds(const SyncScenario &scenario);
int accountPageCount(const SyncScenario &scenario);
// The rounds of requests a sync without throttling waits for, one after another.
int sequentialRounds(const SyncScenario &scenario);

} // namespace tessera::bench
