#include "platform/popupplacement.h"

#include <algorithm>

namespace tessera {

namespace {
constexpr int gap = 4;

int clamped(int value, int low, int length, int available)
{
    // When the popup is larger than the screen its top-left corner stays visible.
    return std::max(low, std::min(value, low + available - length));
}
} // namespace

QPoint popupPosition(const QRect &trayIconGeometry, const QPoint &pointer, const QSize &popupSize,
                     const QRect &availableScreen)
{
    const QRect anchor =
        trayIconGeometry.isValid() ? trayIconGeometry : QRect(pointer, QSize(1, 1));
    int x = anchor.center().x() - popupSize.width() / 2;
    // A tray at the bottom of the screen opens upwards, one at the top downwards.
    const bool roomBelow =
        anchor.bottom() + gap + popupSize.height() <= availableScreen.bottom() + 1;
    const bool anchorInLowerHalf = anchor.center().y() > availableScreen.center().y();
    int y = (anchorInLowerHalf || !roomBelow) ? anchor.top() - gap - popupSize.height()
                                              : anchor.bottom() + 1 + gap;
    x = clamped(x, availableScreen.left(), popupSize.width(), availableScreen.width());
    y = clamped(y, availableScreen.top(), popupSize.height(), availableScreen.height());
    return {x, y};
}

} // namespace tessera

namespace tessera {

QPoint centredPanelPosition(const QSize &panelSize, const QRect &availableScreen)
{
    return {availableScreen.x() + (availableScreen.width() - panelSize.width()) / 2,
            availableScreen.y() + qRound(0.28 * availableScreen.height())};
}

} // namespace tessera
