#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace tessera {

// Keeps one Tessera per user: the first process listens on a per-user local socket,
// later ones hand it a reopen request and leave.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QString socketName = defaultSocketName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Per user and settings profile; in $XDG_RUNTIME_DIR when there is one (private to
    // the user), otherwise a name that carries the user id.
    static QString defaultSocketName();

    // True when this process is now the running instance. False when another instance
    // answered (it has been asked to reopen), or when listening failed.
    bool claim();
    bool isPrimary() const { return m_server != nullptr; }

Q_SIGNALS:
    // Someone started Tessera again.
    void reopenRequested();

private:
    bool notifyRunningInstance() const;
    void acceptConnections();

    QString m_socketName;
    QLocalServer *m_server = nullptr;
};

} // namespace tessera
