#include "privatesessionbus.h"

#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <csignal>
#include <sys/prctl.h>

namespace tessera::test {

namespace {

void dieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

void stopProcess(std::unique_ptr<QProcess> &process)
{
    if (!process) {
        return;
    }
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    process.reset();
}

} // namespace

PrivateSessionBus::PrivateSessionBus() = default;

PrivateSessionBus::~PrivateSessionBus()
{
    stopKeyring();
    stopProcess(m_bus);
}

QProcessEnvironment PrivateSessionBus::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = homePath();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.path() + QStringLiteral("/runtime"));
    if (!m_address.isEmpty()) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    }
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

void PrivateSessionBus::applyToThisProcess() const
{
    const QProcessEnvironment env = environment();
    for (const auto &name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                             "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        qputenv(name, env.value(QLatin1String(name)).toLocal8Bit());
    }
}

QString PrivateSessionBus::start(const QStringList &activatableNames)
{
    if (!m_root.isValid()) {
        return QStringLiteral("cannot create a temporary folder");
    }
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        return QStringLiteral("dbus-daemon is not installed (run scripts/setup.sh)");
    }
    const QString services = m_root.path() + QStringLiteral("/services");
    for (const QString &folder : QStringList{
             services, homePath() + QStringLiteral("/data"), homePath() + QStringLiteral("/config"),
             homePath() + QStringLiteral("/cache"), m_root.path() + QStringLiteral("/runtime")}) {
        QDir().mkpath(folder);
    }
    QFile::setPermissions(m_root.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString &name : activatableNames) {
        const QByteArray text = "[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=/bin/false\n";
        if (!writeText(services + QLatin1Char('/') + name + QStringLiteral(".service"), text)) {
            return QStringLiteral("cannot write a service file");
        }
    }
    // Only our own service folder: the system's would make the real keyring activatable.
    const QByteArray config =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:dir=" +
        m_root.path().toUtf8() +
        "</listen>\n"
        "  <servicedir>" +
        services.toUtf8() +
        "</servicedir>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n";
    const QString configPath = m_root.path() + QStringLiteral("/session.conf");
    if (!writeText(configPath, config)) {
        return QStringLiteral("cannot write the bus configuration");
    }

    m_bus = std::make_unique<QProcess>();
    m_bus->setProcessEnvironment(environment());
    m_bus->setChildProcessModifier(dieWithParent);
    m_bus->start(daemon, {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1")});
    if (!m_bus->waitForStarted(10000)) {
        return QStringLiteral("dbus-daemon did not start: ") + m_bus->errorString();
    }
    if (!processEventsUntil(
            [this] { return m_bus->canReadLine() || m_bus->state() == QProcess::NotRunning; },
            20000) ||
        !m_bus->canReadLine()) {
        return QStringLiteral("dbus-daemon printed no address: ") +
               QString::fromLocal8Bit(m_bus->readAllStandardError());
    }
    m_address = QString::fromUtf8(m_bus->readLine()).trimmed();
    return {};
}

QString PrivateSessionBus::startKeyring()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (daemon.isEmpty()) {
        return QStringLiteral("gnome-keyring-daemon is not installed (run scripts/setup.sh)");
    }
    m_keyring = std::make_unique<QProcess>();
    m_keyring->setProcessEnvironment(environment());
    m_keyring->setChildProcessModifier(dieWithParent);
    m_keyring->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_keyring->start(daemon, {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                              QStringLiteral("--components=secrets")});
    if (!m_keyring->waitForStarted(10000)) {
        return QStringLiteral("gnome-keyring-daemon did not start: ") + m_keyring->errorString();
    }
    m_keyring->write("test-keyring-password");
    m_keyring->closeWriteChannel();

    QDBusConnection probe =
        QDBusConnection::connectToBus(m_address, QStringLiteral("tessera-test-keyring-probe"));
    const bool owned = processEventsUntil(
        [&] {
            return m_keyring->state() == QProcess::NotRunning ||
                   probe.interface()->isServiceRegistered(
                       QStringLiteral("org.freedesktop.secrets"));
        },
        30000);
    const bool running = m_keyring->state() == QProcess::Running;
    QDBusConnection::disconnectFromBus(QStringLiteral("tessera-test-keyring-probe"));
    if (!owned || !running) {
        return QStringLiteral("gnome-keyring-daemon did not take org.freedesktop.secrets");
    }
    return {};
}

void PrivateSessionBus::stopKeyring()
{
    stopProcess(m_keyring);
}

} // namespace tessera::test
