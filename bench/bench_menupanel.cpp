// The tray panel at the size of a large organization: the real MenuContent on a real
// store that loaded its accounts from the cache, drawn on the offscreen platform. Prints,
// per account count: the time to open the panel (shown and first painted), the time from
// a key typed in the search field to the list painted again (median, 99th percentile),
// and the resident memory after the opening and the first 20 keystrokes.
//
//   bench_menupanel [--sizes 1000,5000,10000]   one child process per size
//   bench_menupanel --size N [--screenshot PNG]  one size in this process
//   bench_menupanel --binary PATH [--size N]    the tessera binary: start-up and idle memory
#include "accounts/accountstore.h"
#include "aws/curlhttptransport.h"
#include "benchdata.h"
#include "foundation/manualclock.h"
#include "processstats.h"
#include "storage/inmemorykeychain.h"
#include "storage/recordcoding.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"
#include "ui/menucontent.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

using namespace tessera;
using bench::percentile;
using bench::threadCpuMilliseconds;

namespace {

constexpr int measuredRounds = 5;

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void writeSupportFiles(const QString &dataHome, int count)
{
    const bench::Organisation data = bench::makeOrganisation(
        {.accounts = count, .rolesPerAccount = 3, .pinned = 20, .groups = 12});
    AccountCache cache;
    cache.accounts = data.accounts;
    cache.lastSync = QDateTime::currentDateTimeUtc();
    const Organization &organization = data.organization;
    const QString folder = dataHome + QStringLiteral("/Tessera/");
    writeFile(folder + QLatin1String(accountCacheFileName), encodeAccountCache(cache));
    writeFile(folder + QLatin1String(organizationFileName), encodeOrganization(organization));
}

qint64 statusKiB(const QString &statusPath, const QByteArray &field)
{
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

// User plus system CPU time of another process, from /proc (in clock ticks of 10 ms).
double cpuMilliseconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // The fields after the command name, which is in parentheses and may hold blanks.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = double(fields.value(11).toLongLong() + fields.value(12).toLongLong());
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double mebibytes(qint64 kib)
{
    return double(kib) / 1024.0;
}

// Notes when a widget has been painted.
class PaintWatch : public QObject
{
public:
    bool painted = false;
    void watch(QWidget *widget) { widget->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return false;
    }
};

// Runs the event loop until the list (or what stands in for it) has been painted; the
// paint itself happens inside the processEvents call that delivered it.
bool waitForPaint(PaintWatch &watch)
{
    QElapsedTimer timer;
    timer.start();
    while (!watch.painted && timer.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return watch.painted;
}

int runPanel(int count, const QString &screenshot)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    writeSupportFiles(dataHome.path(), count);

    auto clock = std::make_shared<ManualClock>();
    const std::unique_ptr<AccountStore> loaded = bench::makeStoreOnFakes(clock);
    AccountStore &store = *loaded;
    const qint64 rssLoaded = statusKiB(QStringLiteral("/proc/self/status"), "VmRSS:");

    // As the desktop shell opens it: a window holding the panel.
    QElapsedTimer timer;
    const double cpuBeforeOpen = threadCpuMilliseconds();
    timer.start();
    auto *window = new QWidget(nullptr, Qt::Window);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *panel = new MenuContent(&store, {}, window);
    layout->addWidget(panel);
    auto *view = panel->findChild<QTreeView *>(QStringLiteral("accountList"));
    auto *noResults = panel->findChild<QWidget *>(QStringLiteral("noResults"));
    PaintWatch watch;
    watch.watch(view->viewport());
    watch.watch(noResults);
    window->adjustSize();
    window->show();
    const bool opened = waitForPaint(watch);
    const double openMs = double(timer.nsecsElapsed()) / 1e6;
    const double openCpuMs = threadCpuMilliseconds() - cpuBeforeOpen;
    if (!screenshot.isEmpty()) {
        // A look at the rows as drawn: one account unfolded, one group folded.
        panel->toggleExpanded(store.organization().pinnedAccountIds.value(1));
        panel->toggleSection(store.organization().groupNames.value(0));
        QCoreApplication::processEvents();
        window->grab().save(screenshot);
    }

    // What the panel does once it is on screen, before anyone can type (the search tables).
    const double cpuBeforeSettling = threadCpuMilliseconds();
    // Waits in an event loop, which sleeps when there is nothing to do: polling
    // processEvents would count its own spinning as the panel's work.
    QEventLoop settling;
    QTimer::singleShot(300, &settling, &QEventLoop::quit);
    settling.exec();
    const double settleCpuMs = threadCpuMilliseconds() - cpuBeforeSettling;

    auto *field = panel->findChild<QLineEdit *>(QStringLiteral("searchField"));
    field->setFocus();
    const QStringList queries = {
        s("payments prod"), s("sec aud"), s("ml staging"), s("acme web dev"),  s("1000"),
        s("team infra"),    s("read"),    s("obs perf"),   s("checkout qa 4"),
    };
    std::vector<double> wall;
    std::vector<double> cpu;
    qint64 rssAfterTyping = -1;
    for (int round = 0; round < measuredRounds; ++round) {
        for (const QString &query : queries) {
            for (const QChar letter : query) {
                watch.painted = false;
                const double cpuStart = threadCpuMilliseconds();
                timer.restart();
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(letter));
                QCoreApplication::sendEvent(field, &press);
                QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(letter));
                QCoreApplication::sendEvent(field, &release);
                if (!waitForPaint(watch)) {
                    std::printf("  no repaint after typing \"%s\"\n", qPrintable(field->text()));
                }
                wall.push_back(double(timer.nsecsElapsed()) / 1e6);
                cpu.push_back(threadCpuMilliseconds() - cpuStart);
                if (wall.size() == 20) {
                    rssAfterTyping = statusKiB(QStringLiteral("/proc/self/status"), "VmRSS:");
                }
            }
            field->clear();
            QCoreApplication::processEvents();
        }
    }

    std::printf(
        "%6d accounts | open %7.1f ms (CPU %6.1f)%s, then %.1f ms CPU idle work | key→rows median "
        "%5.2f ms, p99 "
        "%5.2f ms, max %5.2f, first %5.2f (CPU median %5.2f, p99 %5.2f, first %5.2f; %zu keys) | "
        "RSS loaded "
        "%.1f MB, after open + 20 keys %.1f MB, peak %.1f MB\n",
        count, openMs, openCpuMs, opened ? "" : " (no paint!)", settleCpuMs, percentile(wall, 0.5),
        percentile(wall, 0.99), *std::max_element(wall.begin(), wall.end()), wall.front(),
        percentile(cpu, 0.5), percentile(cpu, 0.99), cpu.front(), wall.size(), mebibytes(rssLoaded),
        mebibytes(rssAfterTyping), mebibytes(bench::peakResidentKiB()));
    std::fflush(stdout);
    delete window;
    return 0;
}

// The binary on a private home with `count` cached accounts: the time from starting it to
// its "Tessera started" line, and its resident memory once idle.
int runBinary(const QString &binary, int count)
{
    constexpr int starts = 5;
    std::vector<double> times;
    std::vector<double> cpuTimes;
    qint64 idleKiB = -1;
    for (int run = 0; run < starts; ++run) {
        QTemporaryDir home;
        writeSupportFiles(home.path() + QStringLiteral("/data"), count);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(binary, {});
        QByteArray output;
        double startedMs = -1;
        while (timer.elapsed() < 30000 && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(5);
            output += process.readAll();
            if (output.contains("Tessera started")) {
                startedMs = double(timer.nsecsElapsed()) / 1e6;
                cpuTimes.push_back(cpuMilliseconds(process.processId()));
                break;
            }
        }
        times.push_back(startedMs);
        if (run == starts - 1) {
            // Idle: the panel window (no tray offscreen) has been shown and painted.
            QThread::msleep(3000);
            idleKiB =
                statusKiB(QStringLiteral("/proc/%1/status").arg(process.processId()), "VmRSS:");
        }
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(10000);
    }
    std::printf("binary, %d cached accounts | start → \"Tessera started\": median %.1f ms, min "
                "%.1f ms, max %.1f ms (%d starts), CPU by then median %.0f ms | idle RSS %.1f MB\n",
                count, percentile(times, 0.5), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), starts,
                cpuTimes.empty() ? -1.0 : percentile(cpuTimes, 0.5), mebibytes(idleKiB));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto option = [&arguments](const char *name) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
    };
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray loadAverage =
        load.open(QIODevice::ReadOnly) ? load.readAll().trimmed() : QByteArray("?");

    if (const QString binary = option("--binary"); !binary.isEmpty()) {
        const QString size = option("--size");
        std::printf("load average %s\n", loadAverage.constData());
        return runBinary(binary, size.isEmpty() ? 5000 : size.toInt());
    }
    if (const QString size = option("--size"); !size.isEmpty()) {
        return runPanel(size.toInt(), option("--screenshot"));
    }
    QString sizes = option("--sizes");
    if (sizes.isEmpty()) {
        sizes = QStringLiteral("1000,5000,10000");
    }
    std::printf("load average %s\n", loadAverage.constData());
    std::fflush(stdout);
    for (const QString &size : sizes.split(QLatin1Char(','))) {
        // One process per size, so that each figure of memory is its own.
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--size"), size});
        child.waitForFinished(-1);
        if (child.exitCode() != 0) {
            return 1;
        }
    }
    return 0;
}
