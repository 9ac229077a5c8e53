#pragma once

// The sample organisation the benchmarks work on, and their statistics.
#include "accounts/accountstore.h"
#include "foundation/manualclock.h"
#include "storage/records.h"

#include <QList>
#include <QStringList>
#include <memory>
#include <vector>

namespace tessera::bench {

struct OrganisationSize
{
    int accounts = 10000;
    int rolesPerAccount = 5;
    int pinned = 200;
    int groups = 30;
};

struct Organisation
{
    QList<AWSAccount> accounts;
    Organization organization;
};

// Accounts named like a large company's, some grouped, some pinned; the same on every
// run. By default what Quick Search is measured on: 10,000 accounts of 5 roles, 30 groups,
// 200 pins.
Organisation makeOrganisation(const OrganisationSize &size = {});

// A store on in-memory settings (with their defaults) and secure store that loads the
// account cache and organisation saved in $XDG_DATA_HOME, as at a start after a sync.
std::unique_ptr<AccountStore> makeStoreOnFakes(
    std::shared_ptr<ManualClock> clock,
    std::shared_ptr<SettingsStore> settings = std::make_shared<InMemorySettingsStore>());

// What a user types: each query is typed letter by letter.
QStringList benchmarkQueries();

// CPU time of this thread: unlike the wall clock, not inflated when other processes
// share the cores.
double threadCpuMilliseconds();

double percentile(std::vector<double> values, double p);

} // namespace tessera::bench
