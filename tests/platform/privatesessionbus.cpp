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
const QStringList folderVariables{QStringLiteral("HOME"),
                                  QStringLiteral("XDG_DATA_HOME"),
                                  QStringLiteral("XDG_CONFIG_HOME"),
                                  QStringLiteral("XDG_CACHE_HOME"),
                                  QStringLiteral("XDG_RUNTIME_DIR"),
                                  QStringLiteral("DBUS_SESSION_BUS_ADDRESS")};

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

void stop(std::unique_ptr<QProcess> &process)
{
    if (process) {
        process->kill();
        process->waitForFinished(5000);
        process.reset();
    }
}
} // namespace

PrivateSessionBus::~PrivateSessionBus()
{
    stopKeyring();
    stop(m_bus);
}

QProcessEnvironment PrivateSessionBus::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QStringList values{homePath(),
                             homePath() + QStringLiteral("/data"),
                             homePath() + QStringLiteral("/config"),
                             homePath() + QStringLiteral("/cache"),
                             m_root.path() + QStringLiteral("/runtime"),
                             m_address};
    for (qsizetype i = 0; i < folderVariables.size(); ++i) {
        env.insert(folderVariables.at(i), values.at(i));
    }
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

void PrivateSessionBus::applyToThisProcess() const
{
    const QProcessEnvironment env = environment();
    for (const QString &name : folderVariables) {
        qputenv(name.toLatin1().constData(), env.value(name).toLocal8Bit());
    }
}

std::unique_ptr<QProcess> PrivateSessionBus::launch(const QString &program,
                                                    const QStringList &arguments,
                                                    QString &failure) const
{
    const QString path = QStandardPaths::findExecutable(program);
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start(path, arguments);
    if (path.isEmpty() || !process->waitForStarted(10000)) {
        failure = program + QStringLiteral(" did not start (run scripts/setup.sh)");
    }
    return process;
}

QString PrivateSessionBus::start(const QStringList &activatableNames)
{
    const QString services = m_root.path() + QStringLiteral("/services");
    for (const QString &folder : QStringList{services, homePath() + QStringLiteral("/data"),
                                             homePath() + QStringLiteral("/config"),
                                             m_root.path() + QStringLiteral("/runtime")}) {
        QDir().mkpath(folder);
    }
    QFile::setPermissions(m_root.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString &name : activatableNames) {
        writeText(services + u'/' + name + QStringLiteral(".service"),
                  "[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=/bin/false\n");
    }
    // Only our own service folder: the system's would make the real keyring activatable.
    const QString configPath = m_root.path() + QStringLiteral("/session.conf");
    writeText(configPath,
              "<busconfig><type>session</type><listen>unix:dir=" + m_root.path().toUtf8() +
                  "</listen><servicedir>" + services.toUtf8() +
                  "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
                  "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                  "own=\"*\"/></policy></busconfig>\n");
    QString failure;
    m_bus = launch(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")},
                   failure);
    if (failure.isEmpty() && !processEventsUntil([this] { return m_bus->canReadLine(); }, 20000)) {
        failure = QStringLiteral("dbus-daemon printed no address: ") +
                  QString::fromLocal8Bit(m_bus->readAllStandardError());
    }
    m_address = QString::fromUtf8(m_bus->readLine()).trimmed();
    return failure;
}

QString PrivateSessionBus::startKeyring()
{
    QString failure;
    m_keyring = launch(QStringLiteral("gnome-keyring-daemon"),
                       {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                        QStringLiteral("--components=secrets")},
                       failure);
    m_keyring->write("test-keyring-password");
    m_keyring->closeWriteChannel();
    const QString probeName = QStringLiteral("tessera-test-keyring-probe");
    QDBusConnection probe = QDBusConnection::connectToBus(m_address, probeName);
    const bool owned = processEventsUntil(
        [&] {
            return probe.interface()
                ->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"))
                .value();
        },
        30000);
    QDBusConnection::disconnectFromBus(probeName);
    return !failure.isEmpty() || owned ? failure
                                       : QStringLiteral("the keyring did not take its bus name");
}

void PrivateSessionBus::stopKeyring()
{
    stop(m_keyring);
}

} // namespace tessera::test
