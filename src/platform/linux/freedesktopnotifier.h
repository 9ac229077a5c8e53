#pragma once

#include "platform/desktopnotifier.h"

class QDBusConnection;

namespace tessera {

// org.freedesktop.Notifications on `bus`; `fallback` where no service answers there.
std::unique_ptr<DesktopNotifier> makeFreedesktopNotifier(const QDBusConnection &bus,
                                                         DesktopNotifier::Fallback fallback);

} // namespace tessera
