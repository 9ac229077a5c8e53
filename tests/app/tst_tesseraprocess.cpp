// The real tessera binary: starts on a private HOME, reports what it loaded, and stops
// cleanly when asked to.
#include "storage/recordcoding.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A started tessera whose log lines are collected as they come.
class TesseraProcess
{
public:
    explicit TesseraProcess(const QString &home, const QStringList &extraEnvironment = {},
                            const QStringList &arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.remove(QStringLiteral("XCTestConfigurationFilePath"));
        env.remove(QStringLiteral("TESSERA_INERT"));
        for (const QString &assignment : extraEnvironment) {
            env.insert(assignment.section(QLatin1Char('='), 0, 0),
                       assignment.section(QLatin1Char('='), 1));
        }
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(TESSERA_BINARY), arguments);
    }

    ~TesseraProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    // The start-up summary, once it has been logged.
    QString waitForSummary()
    {
        tessera::test::processEventsUntil(
            [this] {
                m_output += QString::fromLocal8Bit(m_process.readAll());
                return m_output.contains(QLatin1Char('\n') + summaryPrefix()) ||
                       m_output.startsWith(summaryPrefix()) ||
                       m_process.state() == QProcess::NotRunning;
            },
            60000);
        for (const QString &line : m_output.split(QLatin1Char('\n'))) {
            if (line.startsWith(summaryPrefix())) {
                return line;
            }
        }
        return {};
    }

    bool stopWith(int signalNumber)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
        return m_process.waitForFinished(30000);
    }

    QProcess &process() { return m_process; }
    const QString &output() const { return m_output; }

private:
    static QString summaryPrefix()
    {
        return QStringLiteral("com.tessera.app.App: Tessera started");
    }
    QProcess m_process;
    QString m_output;
};

} // namespace

class TestTesseraProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A normal start loads the saved state and writes its first settings; an inert one
    // (the harness's variable, TESSERA_INERT=1, --inert) loads and writes nothing.
    void startsReportsAndStops_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("summary");
        const QString loaded = QStringLiteral(
            ": signed out, 2 accounts, last sync 2026-05-06T07:08:09Z, 1 pinned, 2 groups");
        const QString inert =
            QStringLiteral(" (inert): signed out, 0 accounts, last sync never, 0 pinned, 0 groups");
        QTest::newRow("SIGTERM") << SIGTERM << QStringList() << QStringList() << loaded;
        QTest::newRow("SIGINT") << SIGINT << QStringList() << QStringList() << loaded;
        QTest::newRow("harness variable")
            << SIGTERM << QStringList{QStringLiteral("XCTestConfigurationFilePath=")}
            << QStringList() << inert;
        QTest::newRow("TESSERA_INERT=1")
            << SIGTERM << QStringList{QStringLiteral("TESSERA_INERT=1")} << QStringList() << inert;
        QTest::newRow("--inert") << SIGTERM << QStringList()
                                 << QStringList{QStringLiteral("--inert")} << inert;
    }

    void startsReportsAndStops()
    {
        QFETCH(int, signalNumber);
        QFETCH(QStringList, environment);
        QFETCH(QStringList, arguments);
        QFETCH(QString, summary);
        QTemporaryDir home;
        const QString data = home.path() + QStringLiteral("/data/Tessera");
        const tessera::AccountCache cache{
            {tessera::AWSAccount{QStringLiteral("1"), QStringLiteral("One"), {QStringLiteral("R")}},
             tessera::AWSAccount{
                 QStringLiteral("2"), QStringLiteral("Two"), {QStringLiteral("R")}}},
            QDateTime(QDate(2026, 5, 6), QTime(7, 8, 9), Qt::UTC)};
        QVERIFY(writeBytes(data + QStringLiteral("/accounts.json"),
                           tessera::encodeAccountCache(cache)));
        QVERIFY(writeBytes(data + QStringLiteral("/organization.json"),
                           "{\"pinnedAccountIds\":[\"1\"],\"groupNames\":[\"A\",\"B\"]}"));

        TesseraProcess tessera(home.path(), environment, arguments);
        const QString line = tessera.waitForSummary();
        QVERIFY2(line.contains(QStringLiteral("Tessera started") + summary),
                 qPrintable(tessera.output()));
        const bool inert = summary.startsWith(QStringLiteral(" (inert)"));
        // No Secret Service on this bus: the private files are named.
        QCOMPARE(line.contains(data + QStringLiteral("/secrets")), !inert);
        // The first settings write is the naming migration's marker.
        QCOMPARE(QFileInfo::exists(home.path() + QStringLiteral("/config/Tessera/Tessera.conf")),
                 !inert);

        QVERIFY(tessera.stopWith(signalNumber));
        QCOMPARE(tessera.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(tessera.process().exitCode(), 0);
    }

    void anUnreadableOrganizationIsReportedAndKept()
    {
        QTemporaryDir home;
        const QString path = home.path() + QStringLiteral("/data/Tessera/organization.json");
        const QByteArray content("{\"groupNames\": \"not a list\"}");
        QVERIFY(writeBytes(path, content));

        TesseraProcess tessera(home.path());
        const QString summary = tessera.waitForSummary();
        QVERIFY2(summary.contains(QStringLiteral("Tessera could not load your saved organization. "
                                                 "The existing file was left untouched.")),
                 qPrintable(tessera.output()));
        QVERIFY2(tessera.output().contains(QStringLiteral(
                     "com.tessera.app.Persistence: Organization persistence failed: ")),
                 qPrintable(tessera.output()));
        QVERIFY(tessera.stopWith(SIGTERM));
        QCOMPARE(tessera.process().exitCode(), 0);
        QCOMPARE(readBytes(path), content);
    }

    // Answered without a display (none is configured here) and without a running instance.
    void printsWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("version")
            << QStringList{QStringLiteral("--version")} << 0
            << QStringLiteral("Tessera %1\n").arg(QLatin1String(TESSERA_VERSION));
        QTest::newRow("console link without a start URL")
            << QStringList{QStringLiteral("--print-console-url"), QStringLiteral("1"),
                           QStringLiteral("R")}
            << 1 << QStringLiteral("tessera: Set your access portal URL in Settings first.\n");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--bogus")} << 2
            << QStringLiteral("tessera: Unknown option 'bogus'.\nTry \"tessera --help\".\n");
    }

    void printsWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QTemporaryDir home;
        TesseraProcess tessera(home.path(),
                               {QStringLiteral("QT_QPA_PLATFORM="), QStringLiteral("DISPLAY="),
                                QStringLiteral("WAYLAND_DISPLAY=")},
                               arguments);
        QVERIFY(tessera.process().waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(tessera.process().readAll()), output);
        QCOMPARE(tessera.process().exitCode(), exitCode);
    }
};

QTEST_GUILESS_MAIN(TestTesseraProcess)
#include "tst_tesseraprocess.moc"
