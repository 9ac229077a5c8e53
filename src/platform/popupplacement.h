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
