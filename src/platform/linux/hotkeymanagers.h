#pragma once

#include "platform/hotkeymanager.h"

class QDBusConnection;

namespace tessera {

// Needs the xcb platform plugin; nullptr elsewhere.
std::unique_ptr<HotKeyManager> makeX11HotKeyManager();
// Talks to org.freedesktop.portal.Desktop on `bus`.
std::unique_ptr<HotKeyManager> makePortalHotKeyManager(const QDBusConnection &bus);

} // namespace tessera
