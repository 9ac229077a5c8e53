#pragma once

#include <QIcon>

namespace tessera {

enum class Symbol
{
    cloud,
    cloudSignedOut,
    cloudSigningIn,
    cloudError,
    sync,
    settings,
    moreActions,
    signIn,
    warning,
    search,
    clearText,
    pin,
    folded,
    unfolded,
    openConsole,
    checkmark,
    valid,
    invalid,
    globe,
    grid,
    terminal,
};

// The icon theme's icon where the theme has one, otherwise the bundled drawing. The
// tray clouds and the orange pin are always the bundled ones: they are Tessera's own marks.
QIcon symbolIcon(Symbol symbol);

} // namespace tessera
