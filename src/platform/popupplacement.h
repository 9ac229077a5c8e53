#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tessera {

// Where the panel pops up: under (or above) the tray icon, horizontally centred on it;
// near the pointer when the tray gives no geometry (StatusNotifierItem hosts give none).
// Always kept inside the screen's available area.
QPoint popupPosition(const QRect &trayIconGeometry, const QPoint &pointer, const QSize &popupSize,
                     const QRect &availableScreen);

} // namespace tessera

namespace tessera {

// Where Quick Search opens on a screen: centred horizontally, its top edge at 28 % of the
// available height, the eye's resting place a little above the middle.
QPoint centredPanelPosition(const QSize &panelSize, const QRect &availableScreen);

// Whether windows can be translucent: a compositing manager runs (always on Wayland).
bool desktopComposites();

} // namespace tessera
