#pragma once

#include <Qt>

namespace tessera {

class QuickSwitcherModel;

// What the key handler needs to know about the search field's caret. `present` is false
// when the field is not being edited (it does not hold the keyboard focus); the caret
// conditions then always hold.
struct SearchFieldCaret
{
    bool present = false;
    int cursor = 0;
    int length = 0;
    bool hasSelection = false;
};

// Quick Search's key table: runs the operation a key press stands for and answers whether
// the key was used. An unused key belongs to the search field (Left and Right move the
// caret, Backspace deletes, Ctrl+C copies selected text). Ctrl with Shift, Alt or Meta is
// never taken, so such chords keep their usual meaning.
bool handleQuickSwitcherKey(QuickSwitcherModel &model, int key, Qt::KeyboardModifiers modifiers,
                            const SearchFieldCaret &field);

} // namespace tessera
