#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace tessera::test {

// A D-Bus session bus of the test's own under a temporary HOME, optionally with an
// unlocked GNOME Keyring on it. Nothing reaches the user's session or keyring; both
// daemons die with the test process even if it crashes.
class PrivateSessionBus
{
public:
    ~PrivateSessionBus();

    // `activatableNames` get service files (Exec=/bin/false), so the bus reports them as
    // startable. Both starts answer what went wrong, or nothing.
    QString start(const QStringList &activatableNames = {});
    // gnome-keyring-daemon with only its Secret Service and a fresh login keyring,
    // unlocked; done once it owns org.freedesktop.secrets.
    QString startKeyring();
    void stopKeyring();

    const QString &address() const { return m_address; }
    QString homePath() const { return m_root.path() + QStringLiteral("/home"); }
    // Points this process's HOME, XDG folders and session bus where the daemons' point.
    void applyToThisProcess() const;

private:
    QProcessEnvironment environment() const;
    std::unique_ptr<QProcess> launch(const QString &program, const QStringList &arguments,
                                     QString &failure) const;

    QTemporaryDir m_root;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_keyring;
    QString m_address;
};

} // namespace tessera::test
