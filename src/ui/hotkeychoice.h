#pragma once

#include "quicksearch/hotkeypreset.h"

#include <QString>

namespace tessera {

// A hotkey preset as the pickers list it: the chord in this desktop's notation first, the
// preset's own label after it, and a warning where the chord is commonly taken already.
QString hotKeyChoiceText(const HotKeyPreset &preset);

} // namespace tessera
