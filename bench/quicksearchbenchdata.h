#pragma once

// The organisation both Quick Search benchmarks work on, and their statistics.
#include "storage/records.h"

#include <QList>
#include <QStringList>
#include <vector>

namespace tessera::bench {

inline constexpr int accountCount = 10000;
inline constexpr int rolesPerAccount = 5;
inline constexpr int pinnedCount = 200;
inline constexpr int groupCount = 30;

struct Organisation
{
    QList<AWSAccount> accounts;
    Organization organization;
};

// 10,000 accounts of 5 roles, 30 groups, 200 pins; the same on every run.
Organisation makeOrganisation();

// What a user types: each query is typed letter by letter.
QStringList benchmarkQueries();

// CPU time of this thread: unlike the wall clock, not inflated when other processes
// share the cores.
double threadCpuMilliseconds();

double percentile(std::vector<double> values, double p);

} // namespace tessera::bench
