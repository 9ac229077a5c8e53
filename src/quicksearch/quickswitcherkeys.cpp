#include "quicksearch/quickswitcherkeys.h"

#include "quicksearch/quickswitchermodel.h"

namespace tessera {

namespace {
bool caretAtStart(const SearchFieldCaret &field)
{
    return !field.present || (!field.hasSelection && field.cursor == 0);
}

bool caretAtEnd(const SearchFieldCaret &field)
{
    return !field.present || (!field.hasSelection && field.cursor == field.length);
}
} // namespace

bool handleQuickSwitcherKey(QuickSwitcherModel &model, int key, Qt::KeyboardModifiers modifiers,
                            const SearchFieldCaret &field)
{
    // The keypad flag says where a key sits, not how it was chorded.
    const Qt::KeyboardModifiers chord =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool controlAlone = chord == Qt::ControlModifier;

    switch (key) {
    case Qt::Key_Down:
        model.moveSelection(+1);
        return true;
    case Qt::Key_Up:
        model.moveSelection(-1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        model.activateSelection();
        return true;
    case Qt::Key_Escape:
        model.cancelOrBack();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Focus stays in the search field.
        return true;
    case Qt::Key_Backspace:
        return model.deleteBackwardOrBack();
    case Qt::Key_Home:
        model.resetToHome();
        return true;
    case Qt::Key_End:
        model.selectLast();
        return true;
    case Qt::Key_Left:
        return caretAtStart(field) && model.goBack();
    case Qt::Key_Right:
        return caretAtEnd(field) && model.drillIn();
    case Qt::Key_C:
        return controlAlone && (!field.present || !field.hasSelection) &&
               model.copySelectedAccountId();
    case Qt::Key_P:
        return controlAlone && model.toggleSelectedPin();
    case Qt::Key_R:
        return controlAlone && model.openRegionPickerForSelection();
    default:
        return false;
    }
}

} // namespace tessera
