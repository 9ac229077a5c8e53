// Starts the real binary on a headless X display in a private profile: the first run
// shows onboarding, a second start leaves at once without a second instance, the
// command-line actions reach the running instance, SIGTERM ends it cleanly, and the global
// hotkey toggles Quick Search.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// A private profile for the binary, and the binary's path as TESSERA_BINARY.
QProcessEnvironment privateEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        env.insert(QLatin1String(name), home.filePath(QString::fromLatin1(name).toLower()));
    }
    const QString runtime = home.filePath(u"run"_s);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"disabled:"_s);
    env.insert(u"TESSERA_BINARY"_s, QStringLiteral(TESSERA_BINARY));
    env.remove(u"QT_QPA_PLATFORM"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.remove(u"XCTestConfigurationFilePath"_s);
    env.remove(u"TESSERA_INERT"_s);
    env.insert(u"QT_FORCE_STDERR_LOGGING"_s, u"1"_s);
    return env;
}

// Runs a shell script under a fresh Xvfb; its output.
QString runUnderXvfb(const QProcessEnvironment &env, const QString &script)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(u"xvfb-run"_s, {u"-a"_s, u"sh"_s, u"-c"_s, script});
    if (!process.waitForFinished(90000)) {
        process.kill();
        process.waitForFinished();
        return u"xvfb-run did not finish\n"_s + QString::fromUtf8(process.readAll());
    }
    return QString::fromUtf8(process.readAll());
}

} // namespace

class TestTesseraDisplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The first run shows onboarding. An action option starts Tessera when none runs and
    // carries the action out there; later starts hand theirs (a plain start: reopen) to it
    // and leave at once (one that stays is ended, and fails the test, after 20 seconds).
    // SIGTERM ends it cleanly.
    void firstRunAndLaterStartsReachTheRunningInstance()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        // Polls instead of sleeping a fixed time.
        const QString script = QStringLiteral(R"sh(
log="$XDG_RUNTIME_DIR/tessera.log"
count() { xwininfo -root -tree | grep -c '"Welcome to Tessera"'; }
carried() { for i in $(seq 1 150); do grep -q 'Carrying out the request "'"$1"'"' "$log" && return 0; sleep 0.1; done; return 1; }
"$TESSERA_BINARY" --settings >"$log" 2>&1 & pid=$!
carried settings && echo "first start carried out settings"
for i in $(seq 1 300); do [ "$(count)" -ge 1 ] && break; sleep 0.1; done
echo "onboarding windows: $(count)"
for action in reopen show quick-search sign-in sync; do
  flag=--$action; [ $action = reopen ] && flag=
  timeout 20 "$TESSERA_BINARY" $flag >>"$log.later" 2>&1; echo "$action: $?$(carried $action && echo ', carried out')"
done
echo "onboarding windows at the end: $(count)"
kill -0 $pid && echo "first still running"
kill -TERM $pid; wait $pid; echo "exit: $?"
echo "requests carried out: $(grep -c 'Carrying out the request' "$log")"
cat "$log" "$log.later"
)sh");
        const QString output = runUnderXvfb(privateEnvironment(home), script);
        // Each request carried out once: none by a second instance of its own.
        const QString expected = u"first start carried out settings\nonboarding windows: 1\n"
                                 "reopen: 0, carried out\nshow: 0, carried out\n"
                                 "quick-search: 0, carried out\nsign-in: 0, carried out\n"
                                 "sync: 0, carried out\nonboarding windows at the end: 1\n"
                                 "first still running\nexit: 0\nrequests carried out: 6\n"_s;
        QVERIFY2(output.contains(expected), qPrintable(output));
    }

    // Without a tray the panel is an ordinary window that stays; the global hotkey of the
    // real binary shows Quick Search, and again hides it.
    void withoutATrayThePanelStaysAndTheHotKeyToggles()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString settings = home.filePath(u"xdg_config_home/Tessera"_s);
        QVERIFY(QDir().mkpath(settings));
        QFile file(settings + u"/Tessera.conf"_s);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nonboardingComplete=true\n");
        file.close();
        const QString script = QStringLiteral(R"sh(
shown() { xdotool search --onlyvisible --name "^$1\$" | wc -l; }
"$TESSERA_BINARY" & pid=$!
for i in $(seq 1 300); do [ "$(shown Tessera)" -ge 1 ] && break; sleep 0.1; done
echo "panel: $(shown Tessera), before: $(shown 'Quick Search')"
xdotool key alt+space
for i in $(seq 1 100); do [ "$(shown 'Quick Search')" -ge 1 ] && break; sleep 0.1; done
echo "after the chord: $(shown 'Quick Search')"
xdotool key alt+space
for i in $(seq 1 100); do [ "$(shown 'Quick Search')" -eq 0 ] && break; sleep 0.1; done
echo "after the second chord: $(shown 'Quick Search'), panel: $(shown Tessera)"
kill -TERM $pid; wait $pid; echo "exit: $?"
)sh");
        const QString output = runUnderXvfb(privateEnvironment(home), script);
        for (const char *line : {"panel: 1, before: 0\n", "after the chord: 1\n",
                                 "after the second chord: 0, panel: 1\n", "exit: 0\n"}) {
            QVERIFY2(output.contains(QLatin1String(line)), qPrintable(output));
        }
    }
};

QTEST_GUILESS_MAIN(TestTesseraDisplay)
#include "tst_tesseradisplay.moc"
