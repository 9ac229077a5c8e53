#include "platform/singleinstance.h"

#include "foundation/logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <array>
#include <unistd.h>

namespace tessera {

namespace {
constexpr int connectTimeoutMs = 1000;
// A request is one short line; anything longer is not from Tessera.
constexpr qsizetype longestRequest = 64;

constexpr std::array<std::pair<InstanceCommand, const char *>, 6> commandNames{{
    {InstanceCommand::reopen, "reopen"},
    {InstanceCommand::show, "show"},
    {InstanceCommand::quickSearch, "quick-search"},
    {InstanceCommand::settings, "settings"},
    {InstanceCommand::signIn, "sign-in"},
    {InstanceCommand::sync, "sync"},
}};
} // namespace

QByteArray instanceCommandName(InstanceCommand command)
{
    for (const auto &[candidate, name] : commandNames) {
        if (candidate == command) {
            return QByteArray(name);
        }
    }
    return {};
}

std::optional<InstanceCommand> instanceCommandFromName(const QByteArray &name)
{
    for (const auto &[command, candidate] : commandNames) {
        if (name == candidate) {
            return command;
        }
    }
    return std::nullopt;
}

SingleInstance::SingleInstance(QString socketName, QObject *parent)
    : QObject(parent)
    , m_socketName(std::move(socketName))
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketName()
{
    // One instance per settings profile: a Tessera started with another configuration
    // folder (a demo, a test) is a different instance and must not wake this one.
    const QByteArray profile =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toUtf8();
    const QString suffix = QString::fromLatin1(
        QCryptographicHash::hash(profile, QCryptographicHash::Sha256).toHex().left(12));
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QDir(runtimeDir).exists()) {
        return runtimeDir + QStringLiteral("/tessera-") + suffix + QStringLiteral(".socket");
    }
    return QStringLiteral("tessera-%1-%2").arg(::getuid()).arg(suffix);
}

bool SingleInstance::claim(InstanceCommand command)
{
    if (m_server) {
        return true;
    }
    if (notifyRunningInstance(command)) {
        return false;
    }
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_socketName)) {
        // Nobody answered, so the socket file is left over from a crashed run.
        QLocalServer::removeServer(m_socketName);
        if (!server->listen(m_socketName)) {
            qCWarning(lcApp).noquote() << "Could not listen for later starts on" << m_socketName
                                       << "-" << server->errorString();
            delete server;
            return false;
        }
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

bool SingleInstance::notifyRunningInstance(InstanceCommand command) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(connectTimeoutMs)) {
        return false;
    }
    socket.write(instanceCommandName(command) + '\n');
    const bool sent = socket.waitForBytesWritten(connectTimeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(longestRequest).trimmed();
                if (const auto command = instanceCommandFromName(line)) {
                    Q_EMIT commandReceived(*command);
                } else {
                    qCWarning(lcApp) << "Ignored an unknown request from a later start:" << line;
                }
            }
            if (socket->bytesAvailable() > longestRequest) {
                socket->abort();
            }
        });
    }
}

} // namespace tessera
