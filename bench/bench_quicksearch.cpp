// Quick Search keystroke cost: a large organization's account list ranked after every
// letter typed, as the panel does. Prints the time per keystroke (median, 99th percentile,
// worst) and the heap allocations made per keystroke.
#include "accounts/accountstore.h"
#include "aws/curlhttptransport.h"
#include "benchdata.h"
#include "foundation/manualclock.h"
#include "quicksearch/quickswitchermodel.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <vector>

// Every heap allocation of the process is counted; the benchmark reads the counter around
// each keystroke. C++ allocations come through the replaced operator new; Qt's containers
// allocate with malloc directly, so malloc, calloc and realloc are interposed as well
// (glibc's own entry points do the work). AddressSanitizer brings its own allocator, so
// counting is off there.
#if defined(__SANITIZE_ADDRESS__) || !defined(__GLIBC__)
#define TESSERA_COUNT_ALLOCATIONS 0
#else
#define TESSERA_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<long long> allocationCount{0};
}

#if TESSERA_COUNT_ALLOCATIONS
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void __libc_free(void *pointer);

void *malloc(std::size_t size) noexcept
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) noexcept
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *pointer, std::size_t size) noexcept
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void free(void *pointer) noexcept
{
    __libc_free(pointer);
}
}

void *operator new(std::size_t size)
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void *p = __libc_malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void *operator new[](std::size_t size)
{
    return operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void *p) noexcept
{
    __libc_free(p);
}
void operator delete[](void *p) noexcept
{
    __libc_free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    __libc_free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    __libc_free(p);
}
#endif

using namespace tessera;

namespace {
constexpr int rounds = 20;

QString s(const char *text)
{
    return QString::fromUtf8(text);
}
} // namespace

using namespace tessera::bench;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());

    const Organisation data = makeOrganisation();
    saveAccountCache({data.accounts, QDateTime::currentDateTimeUtc()});
    saveOrganization(data.organization);

    auto clock = std::make_shared<ManualClock>();
    const std::unique_ptr<AccountStore> loaded = bench::makeStoreOnFakes(clock);
    AccountStore &store = *loaded;
    std::printf("accounts %lld, pinned %lld, grouped %lld, groups %lld\n",
                static_cast<long long>(store.accounts().size()),
                static_cast<long long>(store.organization().pinnedAccountIds.size()),
                static_cast<long long>(store.organization().accountGroups.size()),
                static_cast<long long>(store.organization().groupNames.size()));

    QuickSwitcherModel model(store, {}, clock);

    using Clock = std::chrono::steady_clock;
    const auto millisecondsSince = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };

    // The first list of a new model builds the search tables: the cost of opening the panel.
    const double cpuBeforeTables = threadCpuMilliseconds();
    auto start = Clock::now();
    qsizetype listed = model.accountResults().size();
    std::printf("first list (tables built): %.2f ms (CPU %.2f ms), %lld rows\n",
                millisecondsSince(start), threadCpuMilliseconds() - cpuBeforeTables,
                static_cast<long long>(listed));

    const QStringList queries = benchmarkQueries();

    std::vector<double> times;
    std::vector<double> cpuTimes;
    std::vector<double> allocations;
    long long rows = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const QString &query : queries) {
            for (qsizetype length = 1; length <= query.size(); ++length) {
                model.setQuery(query.left(length));
                const long long allocationsBefore = allocationCount.load();
                const double cpuStart = threadCpuMilliseconds();
                start = Clock::now();
                const AccountList results = model.accountResults();
                times.push_back(millisecondsSince(start));
                cpuTimes.push_back(threadCpuMilliseconds() - cpuStart);
                allocations.push_back(double(allocationCount.load() - allocationsBefore));
                rows += results.size();
            }
        }
    }

    std::printf("keystrokes %zu (%d queries typed letter by letter, %d rounds), mean rows %.0f\n",
                times.size(), int(queries.size()), rounds, double(rows) / double(times.size()));
    std::printf("time per keystroke: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                percentile(times, 0.5), percentile(times, 0.99),
                *std::max_element(times.begin(), times.end()));
    std::printf("CPU time per keystroke: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                percentile(cpuTimes, 0.5), percentile(cpuTimes, 0.99),
                *std::max_element(cpuTimes.begin(), cpuTimes.end()));
#if TESSERA_COUNT_ALLOCATIONS
    double total = 0;
    for (double a : allocations) {
        total += a;
    }
    std::printf("allocations per keystroke: median %.0f, mean %.1f, max %.0f\n",
                percentile(allocations, 0.5), total / double(allocations.size()),
                *std::max_element(allocations.begin(), allocations.end()));
#else
    std::printf("allocations per keystroke: not counted under AddressSanitizer\n");
#endif

    // Clearing the field lists pinned, grouped, then the rest.
    std::vector<double> browseTimes;
    for (int round = 0; round < rounds; ++round) {
        model.setQuery(s("x"));
        model.setQuery(QString());
        start = Clock::now();
        listed = model.accountResults().size();
        browseTimes.push_back(millisecondsSince(start));
    }
    std::printf("empty query (three blocks): median %.3f ms, %lld rows\n",
                percentile(browseTimes, 0.5), static_cast<long long>(listed));
    return 0;
}
