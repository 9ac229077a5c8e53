#include "ui/hotkeychoice.h"

#include <QCoreApplication>

namespace tessera {

QString hotKeyChoiceText(const HotKeyPreset &preset)
{
    if (preset.isOff()) {
        return preset.label;
    }
    QString text = QStringLiteral("%1    (%2)").arg(preset.nativeChordText(), preset.label);
    // GNOME, KDE, Xfce and openbox open the window menu with Alt+Space.
    if (preset.chord == QKeySequence(Qt::AltModifier | Qt::Key_Space)) {
        text += QStringLiteral(" — ") + qtTrId("the window-menu shortcut on most Linux desktops");
    }
    return text;
}

} // namespace tessera
