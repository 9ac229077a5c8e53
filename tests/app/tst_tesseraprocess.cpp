// The real tessera binary: starts on a private HOME, reports what it loaded, and stops
// cleanly when asked to.
#include "storage/recordcoding.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;

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
        env.insert(u"HOME"_s, home);
        env.insert(u"XDG_DATA_HOME"_s, home + u"/data"_s);
        env.insert(u"XDG_CONFIG_HOME"_s, home + u"/config"_s);
        env.insert(u"XDG_CACHE_HOME"_s, home + u"/cache"_s);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"disabled:"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"QT_FORCE_STDERR_LOGGING"_s, u"1"_s);
        env.remove(u"XCTestConfigurationFilePath"_s);
        env.remove(u"TESSERA_INERT"_s);
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

    // The start-up summary line, once it has been logged whole.
    QString waitForSummary()
    {
        static const QRegularExpression summary(
            u"^com\\.tessera\\.app\\.App: Tessera started.*\n"_s,
            QRegularExpression::MultilineOption);
        QRegularExpressionMatch match;
        tessera::test::processEventsUntil(
            [&] {
                m_output += QString::fromLocal8Bit(m_process.readAll());
                match = summary.match(m_output);
                return match.hasMatch() || m_process.state() == QProcess::NotRunning;
            },
            60000);
        return match.captured().trimmed();
    }

    bool stopWith(int signalNumber)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
        return m_process.waitForFinished(30000);
    }

    QProcess &process() { return m_process; }
    const QString &output() const { return m_output; }

private:
    QProcess m_process;
    QString m_output;
};

} // namespace

class TestTesseraProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A normal start loads the saved state, removes what interrupted writes left and writes
    // its first settings; an inert one (the harness's variable, TESSERA_INERT=1, --inert)
    // loads, removes and writes nothing. An
    // organization that cannot be read is reported and left as it is.
    void startsReportsAndStops_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("organization");
        QTest::addColumn<QString>("summary");
        const QByteArray saved("{\"pinnedAccountIds\":[\"1\"],\"groupNames\":[\"A\",\"B\"]}");
        const QString loaded = u"Tessera started: signed out, 2 accounts, last sync "
                               "2026-05-06T07:08:09Z, 1 pinned, 2 groups"_s;
        const QString inert =
            u"Tessera started (inert): signed out, 0 accounts, last sync never, 0 pinned, 0 groups"_s;
        QTest::newRow("SIGTERM") << SIGTERM << QStringList() << QStringList() << saved << loaded;
        QTest::newRow("SIGINT") << SIGINT << QStringList() << QStringList() << saved << loaded;
        QTest::newRow("harness variable")
            << SIGTERM << QStringList{u"XCTestConfigurationFilePath="_s} << QStringList() << saved
            << inert;
        QTest::newRow("TESSERA_INERT=1")
            << SIGTERM << QStringList{u"TESSERA_INERT=1"_s} << QStringList() << saved << inert;
        QTest::newRow("--inert") << SIGTERM << QStringList() << QStringList{u"--inert"_s} << saved
                                 << inert;
        QTest::newRow("unreadable organization")
            << SIGTERM << QStringList() << QStringList()
            << QByteArray("{\"groupNames\": \"not a list\"}")
            << u"Tessera could not load your saved organization. The existing file "
               "was left untouched."_s;
    }

    void startsReportsAndStops()
    {
        QFETCH(int, signalNumber);
        QFETCH(QStringList, environment);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, organization);
        QFETCH(QString, summary);
        QTemporaryDir home;
        const QString data = home.path() + u"/data/Tessera"_s;
        const tessera::AccountCache cache{{tessera::AWSAccount{u"1"_s, u"One"_s, {u"R"_s}},
                                           tessera::AWSAccount{u"2"_s, u"Two"_s, {u"R"_s}}},
                                          QDateTime(QDate(2026, 5, 6), QTime(7, 8, 9), Qt::UTC)};
        QVERIFY(writeBytes(data + u"/accounts.json"_s, tessera::encodeAccountCache(cache)));
        QVERIFY(writeBytes(data + u"/organization.json"_s, organization));
        // What a write interrupted by a kill left behind.
        const QString leftover = data + u"/organization.json.AbCdEf"_s;
        QVERIFY(writeBytes(leftover, "{"));

        TesseraProcess tessera(home.path(), environment, arguments);
        const QString line = tessera.waitForSummary();
        QVERIFY2(line.contains(summary), qPrintable(tessera.output()));
        const bool inert = line.contains(u"(inert)"_s);
        // No Secret Service on this bus: the private files are named.
        QCOMPARE(line.contains(data + u"/secrets"_s), !inert);
        // The first settings write is the naming migration's marker.
        QCOMPARE(QFileInfo::exists(home.path() + u"/config/Tessera/Tessera.conf"_s), !inert);
        QCOMPARE(QFileInfo::exists(leftover), inert);

        QVERIFY(tessera.stopWith(signalNumber));
        QCOMPARE(tessera.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(tessera.process().exitCode(), 0);
        QCOMPARE(readBytes(data + u"/organization.json"_s), organization);
    }

    // Answered without a display (none is configured here) and without a running instance.
    void printsWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("version") << QStringList{u"--version"_s} << 0
                                 << u"Tessera %1\n"_s.arg(QLatin1String(TESSERA_VERSION));
        QTest::newRow("console link without a start URL")
            << QStringList{u"--print-console-url"_s, u"1"_s, u"R"_s} << 1
            << u"tessera: Set your access portal URL in Settings first.\n"_s;
        QTest::newRow("unknown option")
            << QStringList{u"--bogus"_s} << 2
            << u"tessera: Unknown option 'bogus'.\nTry \"tessera --help\".\n"_s;
    }

    void printsWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QTemporaryDir home;
        TesseraProcess tessera(
            home.path(), {u"QT_QPA_PLATFORM="_s, u"DISPLAY="_s, u"WAYLAND_DISPLAY="_s}, arguments);
        QVERIFY(tessera.process().waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(tessera.process().readAll()), output);
        QCOMPARE(tessera.process().exitCode(), exitCode);
    }
};

QTEST_GUILESS_MAIN(TestTesseraProcess)
#include "tst_tesseraprocess.moc"
