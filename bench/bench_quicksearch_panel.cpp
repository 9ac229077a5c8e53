// The Quick Search panel as the user meets it (offscreen platform): the time from a key
// press in the search field to the result list holding the new rows, and to the rows
// painted; and the time from the hotkey to the panel's first paint. The same organisation
// and queries as bench_quicksearch, so the two sets of figures can be compared.
#include "accounts/accountstore.h"
#include "aws/curlhttptransport.h"
#include "benchdata.h"
#include "foundation/manualclock.h"
#include "platform/hotkeymanager.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"
#include "ui/quickswitchercontroller.h"
#include "ui/quickswitcherlistmodel.h"
#include "ui/quickswitcherpanel.h"
#include "ui/quickswitcherview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

using namespace tessera;
using namespace tessera::bench;

namespace {
constexpr int rounds = 5;
constexpr int showings = 30;

using Stopwatch = std::chrono::steady_clock;

double millisecondsSince(Stopwatch::time_point start)
{
    return std::chrono::duration<double, std::milli>(Stopwatch::now() - start).count();
}

// A hotkey the benchmark presses itself.
class BenchHotKey : public HotKeyManager
{
public:
    QCoro::Task<void> registerChord(QKeyCombination) override { co_return; }
    bool isRegistered() const override { return true; }
    void press() { Q_EMIT activated(); }
};

// Notes the first paint a widget receives after being armed.
class PaintWatch : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return false;
    }
};

void sendKey(QWidget *target, int key, const QString &text, Qt::KeyboardModifiers modifiers = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

template<typename Predicate> void processUntil(Predicate done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void report(const char *what, const std::vector<double> &times)
{
    std::printf("%s: median %.3f ms, p99 %.3f ms, max %.3f ms (n=%zu)\n", what,
                percentile(times, 0.5), percentile(times, 0.99),
                *std::max_element(times.begin(), times.end()), times.size());
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());

    const Organisation data = makeOrganisation();
    saveAccountCache({data.accounts, QDateTime::currentDateTimeUtc()});
    saveOrganization(data.organization);

    auto clock = std::make_shared<ManualClock>();
    auto settings = std::make_shared<InMemorySettingsStore>();
    const std::unique_ptr<AccountStore> loaded = bench::makeStoreOnFakes(clock, settings);
    AccountStore &store = *loaded;
    std::printf("accounts %lld x %d roles\n", static_cast<long long>(store.accounts().size()),
                OrganisationSize().rolesPerAccount);

    auto hotKey = std::make_unique<BenchHotKey>();
    BenchHotKey *chord = hotKey.get();
    QuickSwitcherController::Services services;
    services.settings = settings;
    services.copyToPasteboard = [](const QString &) { return true; };
    services.hotKeys = std::move(hotKey);
    services.clock = clock;
    services.translucent = false;
    QuickSwitcherController controller(std::move(services));
    controller.setStore(&store);
    // As the application does once start-up is done.
    const double cpuBeforePreparing = threadCpuMilliseconds();
    controller.prepare();
    std::printf("preparing the panel and the search tables at start-up: CPU %.3f ms\n",
                threadCpuMilliseconds() - cpuBeforePreparing);

    // Hotkey to first paint of the result list; the first showing also builds the panel
    // and the search tables.
    std::vector<double> showTimes;
    std::vector<double> showCpuTimes;
    double firstShowing = 0;
    double firstShowingCpu = 0;
    PaintWatch watch;
    for (int i = 0; i < showings; ++i) {
        if (controller.panel()) {
            controller.panel()->view()->resultList()->viewport()->installEventFilter(&watch);
        }
        watch.painted = false;
        const double cpuStart = threadCpuMilliseconds();
        const auto start = Stopwatch::now();
        chord->press();
        processUntil([&] {
            if (controller.panel() && !watch.painted) {
                controller.panel()->view()->resultList()->viewport()->installEventFilter(&watch);
            }
            return watch.painted;
        });
        const double elapsed = millisecondsSince(start);
        if (i == 0) {
            firstShowing = elapsed;
            firstShowingCpu = threadCpuMilliseconds() - cpuStart;
        } else {
            showTimes.push_back(elapsed);
            showCpuTimes.push_back(threadCpuMilliseconds() - cpuStart);
        }
        chord->press();
        processUntil([&] { return !controller.isShown(); });
    }
    std::printf("hotkey to first paint, first showing: %.3f ms (CPU %.3f ms)\n", firstShowing,
                firstShowingCpu);
    report("hotkey to first paint, later showings", showTimes);
    report("CPU time, hotkey to first paint, later showings", showCpuTimes);

    // Typing.
    chord->press();
    processUntil([&] { return controller.isShown(); });
    QuickSwitcherView *view = controller.panel()->view();
    QLineEdit *field = view->searchField();
    QuickSwitcherListModel *list = view->listModel();
    bool refreshed = false;
    QObject::connect(list, &QuickSwitcherListModel::refreshed, [&] { refreshed = true; });

    std::vector<double> updateTimes;
    std::vector<double> paintTimes;
    std::vector<double> cpuTimes;
    std::vector<double> updateCpuTimes;
    long long rows = 0;
    const QStringList queries = benchmarkQueries();
    for (int round = 0; round < rounds; ++round) {
        for (const QString &query : queries) {
            field->selectAll();
            sendKey(field, Qt::Key_Backspace, QString());
            QCoreApplication::processEvents();
            for (const QChar letter : query) {
                refreshed = false;
                const double cpuStart = threadCpuMilliseconds();
                const auto start = Stopwatch::now();
                sendKey(field, letter == QLatin1Char(' ') ? Qt::Key_Space : Qt::Key_A,
                        QString(letter));
                processUntil([&] { return refreshed; });
                updateTimes.push_back(millisecondsSince(start));
                updateCpuTimes.push_back(threadCpuMilliseconds() - cpuStart);
                view->resultList()->viewport()->repaint();
                paintTimes.push_back(millisecondsSince(start));
                cpuTimes.push_back(threadCpuMilliseconds() - cpuStart);
                rows += list->rowCount();
            }
        }
    }
    std::printf("keystrokes %zu (%lld queries, %d rounds), mean rows %.0f\n", updateTimes.size(),
                static_cast<long long>(queries.size()), rounds,
                double(rows) / double(updateTimes.size()));
    report("key press to rows updated", updateTimes);
    report("key press to rows painted", paintTimes);
    report("CPU time, key press to rows updated", updateCpuTimes);
    report("CPU time, key press to rows painted", cpuTimes);
    return 0;
}
