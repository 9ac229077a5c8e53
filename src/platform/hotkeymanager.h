#pragma once

#include "foundation/error.h"

#include <QKeyCombination>
#include <QObject>
#include <QString>
#include <memory>
#include <qcoro/qcorotask.h>

namespace tessera {

// A global chord could not be registered. The status is the desktop service's own code
// (an X11 error code, or the portal's response code) for the log.
class HotKeyError : public Error
{
public:
    enum class Kind
    {
        installationFailed,
        registrationFailed
    };

    static HotKeyError installationFailed(int status);
    static HotKeyError registrationFailed(int status);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }

private:
    HotKeyError(Kind kind, int status);
    Kind m_kind;
    int m_status;
};

// The one global chord that opens Quick Search, registered with whatever facility the
// desktop offers. Lives for the process; `activated` always arrives on the main thread.
class HotKeyManager : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Replaces the current registration by `chord`. An empty chord (Qt::Key_unknown)
    // only releases the current one. Throws HotKeyError; no chord is registered then.
    virtual QCoro::Task<void> registerChord(QKeyCombination chord) = 0;
    virtual bool isRegistered() const = 0;

Q_SIGNALS:
    void activated();
};

// The passive key grab on the X11 root window, or the xdg-desktop-portal GlobalShortcuts
// session in a Wayland session, or, where neither exists, a manager whose every
// registration fails.
std::unique_ptr<HotKeyManager> makeDesktopHotKeyManager();
// A manager whose every registration fails, for a process without a desktop facility.
std::unique_ptr<HotKeyManager> makeUnavailableHotKeyManager();

} // namespace tessera
