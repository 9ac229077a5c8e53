#include "platform/popupplacement.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

namespace tessera {

bool desktopComposites()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("wayland")) {
        return true;
    }
    // Other platform plugins (offscreen) may offer the X11 interface without a connection.
    auto *x11 = platform == QLatin1String("xcb")
                    ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                    : nullptr;
    if (!x11 || !x11->connection()) {
        return false;
    }
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    xcb_connection_t *connection = x11->connection();
    const QByteArray name = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, quint16(name.size()), name.constData()),
        nullptr);
    if (!atom) {
        return false;
    }
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool composited = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return composited;
}

} // namespace tessera
