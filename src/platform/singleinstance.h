#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QLocalServer;

namespace tessera {

// What a later start asks the running Tessera to do. The wire names are the channel's
// protocol: one line per request.
enum class InstanceCommand
{
    reopen,      // started again without options: bring Tessera forward
    show,        // --show: the menu panel
    quickSearch, // --quick-search
    settings,    // --settings
    signIn,      // --sign-in
    sync,        // --sync
};

QByteArray instanceCommandName(InstanceCommand command);
std::optional<InstanceCommand> instanceCommandFromName(const QByteArray &name);

// Keeps one Tessera per user: the first process listens on a per-user local socket,
// later ones hand it their command and leave.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QString socketName = defaultSocketName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Per user and settings profile; in $XDG_RUNTIME_DIR when there is one (private to
    // the user), otherwise a name that carries the user id.
    static QString defaultSocketName();

    // True when this process is now the running instance (the caller then carries out
    // `command` itself). False when another instance answered and was handed `command`,
    // or when listening failed.
    bool claim(InstanceCommand command = InstanceCommand::reopen);
    bool isPrimary() const { return m_server != nullptr; }

Q_SIGNALS:
    // A later start handed over a command.
    void commandReceived(tessera::InstanceCommand command);

private:
    bool notifyRunningInstance(InstanceCommand command) const;
    void acceptConnections();

    QString m_socketName;
    QLocalServer *m_server = nullptr;
};

} // namespace tessera
