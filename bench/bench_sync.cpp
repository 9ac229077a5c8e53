// bench_sync: how long an account sync takes against the local stand-in for IAM Identity
// Center, compared with the least time the portal's latency or throttling allows.
//
//   bench_sync [--sizes 100,1000,5000] [--case ab] [--latency 20] [--rate 100] [--roles 3]
//
// Case a adds the latency to every portal answer; case b also throttles each portal
// operation at --rate requests per second, with a burst of one second's worth. The
// service allows 20; 100 keeps the large runs short. Without --sizes, --case and --rate,
// case b also runs 34 and 100 accounts at 20 requests a second: a new user's first sync,
// where the burst is spent at once and the client's back-off after the first 429s decides
// the time. Exits with 1 when any sync did not succeed, so a tiny run works as a smoke
// test.
//
// Columns beyond the figures themselves: "ms/round" is the wall time over the rounds the
// bound counts; "hold ms" is how long the stand-in held a role listing's answer on average
// (it aims its timers early by their usual lateness, so this stays at the latency asked
// for); "CPU wait c/s" is the time the client and the stand-in waited for a CPU; "load1
// b/a" is the load average before and after, so a run on a busy machine shows as such.
//
// The stand-in runs in this process; each sync runs in a child process (this program with
// --run-client) so that its CPU time and peak memory are the client's alone. Setting
// BENCH_SYNC_CLIENT_WRAPPER (e.g. to valgrind) runs that child under the named program.

#include "syncbench_client.h"
#include "syncbench_run.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>
#include <cstdio>

using namespace tessera::bench;

namespace {

const QString clientArgument = QStringLiteral("--run-client");

struct Run
{
    char caseName;
    int size;
    double rate; // case b only
};

struct Options
{
    QList<Run> runs;
    int latencyMs = 20;
    int roles = 3;
};

// Runs the grid of cases × sizes, case b at `rate`, in that order.
QList<Run> grid(const QString &cases, const QList<int> &sizes, double rate)
{
    QList<Run> runs;
    for (const QChar caseName : cases) {
        for (const int size : sizes) {
            runs.append({char(caseName.unicode()), size, rate});
        }
    }
    return runs;
}

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "bench_sync: %s\n", qPrintable(message));
    std::exit(2);
}

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times account syncs against the local IAM Identity Center stand-in."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("sizes"), QStringLiteral("Account counts, comma-separated."),
         QStringLiteral("N,N,..."), QStringLiteral("100,1000,5000")},
        {QStringLiteral("case"),
         QStringLiteral("a: latency only; b: latency and throttling; ab: both."),
         QStringLiteral("a|b|ab"), QStringLiteral("ab")},
        {QStringLiteral("latency"), QStringLiteral("Milliseconds added to every portal answer."),
         QStringLiteral("MS"), QStringLiteral("20")},
        {QStringLiteral("rate"),
         QStringLiteral("Case b: portal requests per second per operation."), QStringLiteral("N"),
         QStringLiteral("100")},
        {QStringLiteral("roles"), QStringLiteral("Roles per account."), QStringLiteral("N"),
         QStringLiteral("3")},
    });
    parser.process(app);

    Options options;
    QList<int> sizes;
    for (const QString &part : parser.value(QStringLiteral("sizes")).split(QLatin1Char(','))) {
        bool ok = false;
        const int size = part.trimmed().toInt(&ok);
        if (!ok || size < 0) {
            usageError(QStringLiteral("--sizes expects account counts such as 100,1000"));
        }
        sizes.append(size);
    }
    const QString cases = parser.value(QStringLiteral("case"));
    if (!QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("ab"),
                     QStringLiteral("ba")}
             .contains(cases)) {
        usageError(QStringLiteral("--case expects a, b or ab"));
    }
    bool ok = false;
    options.latencyMs = parser.value(QStringLiteral("latency")).toInt(&ok);
    if (!ok || options.latencyMs < 0) {
        usageError(QStringLiteral("--latency expects milliseconds"));
    }
    const double rate = parser.value(QStringLiteral("rate")).toDouble(&ok);
    if (!ok || rate <= 0) {
        usageError(QStringLiteral("--rate expects a positive number"));
    }
    options.runs = grid(cases, sizes, rate);
    if (!parser.isSet(QStringLiteral("sizes")) && !parser.isSet(QStringLiteral("case")) &&
        !parser.isSet(QStringLiteral("rate"))) {
        options.runs.append(grid(QStringLiteral("b"), {34, 100}, 20));
    }
    options.roles = parser.value(QStringLiteral("roles")).toInt(&ok);
    if (!ok || options.roles < 0) {
        usageError(QStringLiteral("--roles expects a count"));
    }
    return options;
}

void printHeader(const Options &options)
{
    std::printf("bench_sync: %d roles per account, %d ms latency per portal answer, case b "
                "throttled at \"rate\" requests/s per operation; %d CPUs\n",
                options.roles, options.latencyMs, QThread::idealThreadCount());
    std::printf("%-4s %5s %8s %8s %8s %6s %8s %8s %5s %8s %8s %11s %8s %11s %11s  %s\n", "case",
                "rate", "accounts", "wall s", "bound s", "ratio", "inflight", "requests", "429s",
                "ms/round", "hold ms", "CPU us/acct", "peak MiB", "CPU wait c/s", "load1 b/a",
                "result");
    std::fflush(stdout);
}

void printRow(char caseName, const SyncScenario &scenario, const SyncRunResult &run)
{
    const double bound = lowerBoundSeconds(scenario);
    const double wall = run.client.wallSeconds;
    const double cpuPerAccount =
        scenario.accountCount > 0 ? run.client.cpuSeconds * 1e6 / scenario.accountCount : 0;
    QString outcome;
    if (run.succeeded(scenario)) {
        outcome = QStringLiteral("ok");
    } else if (!run.failure.isEmpty()) {
        outcome = QStringLiteral("FAILED: ") + run.failure;
    } else {
        outcome = QStringLiteral("FAILED: %1 accounts, %2 roles, %3")
                      .arg(run.client.accountCount)
                      .arg(run.client.roleCount)
                      .arg(run.client.errorMessage.isEmpty()
                               ? QStringLiteral("signed out")
                               : QStringLiteral("\"%1\"").arg(run.client.errorMessage));
    }
    if (run.otherFailedAnswers > 0) {
        outcome +=
            QStringLiteral(" (%1 answers other than 200 and 429)").arg(run.otherFailedAnswers);
    }
    std::printf(
        "%-4c %5s %8d %8.3f %8.3f %6.3f %8d %8d %5d %8.2f %8.2f %11.1f %8.1f "
        "%5.1f/%-5.1f %5.1f/%-5.1f  %s\n",
        caseName,
        scenario.throttleRate > 0 ? qPrintable(QString::number(scenario.throttleRate)) : "-",
        scenario.accountCount, wall, bound, bound > 0 ? wall / bound : 0.0, run.highestInFlight,
        run.accountPageRequests + run.roleListingRequests, run.throttledAnswers,
        wall * 1000 / sequentialRounds(scenario), run.meanHoldMs, cpuPerAccount,
        double(run.client.peakResidentKiB) / 1024.0, run.client.runQueueWaitSeconds,
        run.standInRunQueueWaitSeconds, run.loadBefore, run.loadAfter, qPrintable(outcome));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && clientArgument == QLatin1String(argv[1])) {
        return runSyncClient(argc, argv);
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench_sync"));
    const Options options = parseOptions(app);
    printHeader(options);

    bool allSucceeded = true;
    for (const Run &planned : options.runs) {
        SyncScenario scenario;
        scenario.accountCount = planned.size;
        scenario.rolesPerAccount = options.roles;
        scenario.latency = std::chrono::milliseconds(options.latencyMs);
        scenario.throttleRate = planned.caseName == 'b' ? planned.rate : 0;
        const SyncRunResult run =
            runSyncScenario(scenario, QCoreApplication::applicationFilePath(), clientArgument);
        printRow(planned.caseName, scenario, run);
        allSucceeded = allSucceeded && run.succeeded(scenario);
    }
    return allSucceeded ? 0 : 1;
}
