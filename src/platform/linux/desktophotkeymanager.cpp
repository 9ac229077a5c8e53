#include "foundation/logging.h"
#include "platform/linux/hotkeymanagers.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace tessera {

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
