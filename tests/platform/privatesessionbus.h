#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace tessera::test {

// A D-Bus session bus of the test's own, optionally with an unlocked GNOME Keyring on
// it, all under a temporary HOME. Nothing reaches the user's session or keyring; both
// daemons die with the test process even if it crashes.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();

    // Starts the bus. `activatableNames` get service files, so the bus reports them as
    // startable (their Exec is /bin/false). Returns an empty string or what went wrong.
    QString start(const QStringList &activatableNames = {});
    // Starts gnome-keyring-daemon with only its Secret Service component, unlocking a
    // fresh login keyring with a password given on standard input, and waits until it
    // owns org.freedesktop.secrets.
    QString startKeyring();
    void stopKeyring();

    const QString &address() const { return m_address; }
    QString homePath() const { return m_root.path() + QStringLiteral("/home"); }
    // The environment the daemons run in; tests that must see the same folders apply it
    // to themselves with applyToThisProcess().
    void applyToThisProcess() const;

private:
    QProcessEnvironment environment() const;

    QTemporaryDir m_root;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_keyring;
    QString m_address;
};

} // namespace tessera::test
