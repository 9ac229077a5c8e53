#include "platform/hotkeymanager.h"

#include "foundation/logging.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace tessera {

HotKeyError::HotKeyError(Kind kind, int status)
    : Error(QStringLiteral("Could not register the global hotkey. It may already be in use."))
    , m_kind(kind)
    , m_status(status)
{}

HotKeyError HotKeyError::installationFailed(int status)
{
    return HotKeyError(Kind::installationFailed, status);
}

HotKeyError HotKeyError::registrationFailed(int status)
{
    return HotKeyError(Kind::registrationFailed, status);
}

namespace {
class UnavailableHotKeyManager : public HotKeyManager
{
public:
    QCoro::Task<void> registerChord(QKeyCombination chord) override
    {
        if (chord.key() != Qt::Key_unknown) {
            throw HotKeyError::installationFailed(-1);
        }
        co_return;
    }
    bool isRegistered() const override { return false; }
};
} // namespace

std::unique_ptr<HotKeyManager> makeUnavailableHotKeyManager()
{
    return std::make_unique<UnavailableHotKeyManager>();
}

std::unique_ptr<HotKeyManager> makeDesktopHotKeyManager()
{
    // In a Wayland session an X11 grab would only see keys typed into X clients.
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
        QGuiApplication::platformName() == QLatin1String("wayland")) {
        qCInfo(lcHotKey) << "Using the desktop portal's global shortcuts";
        return makePortalHotKeyManager(QDBusConnection::sessionBus());
    }
    if (auto x11 = makeX11HotKeyManager()) {
        return x11;
    }
    qCInfo(lcHotKey) << "No global hotkey facility on platform" << QGuiApplication::platformName();
    return makeUnavailableHotKeyManager();
}

} // namespace tessera
