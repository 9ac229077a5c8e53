#include "platform/clipboard.h"

#include "foundation/logging.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tessera {

bool copyTextToClipboard(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        qCWarning(lcApp) << "No clipboard: Tessera runs without a display";
        return false;
    }
    clipboard->clear();
    clipboard->setText(text);
    // Without a running clipboard owner (no X selection, a Wayland session without focus)
    // the text is silently dropped.
    if (clipboard->text() != text) {
        qCWarning(lcApp) << "The clipboard did not keep the copied text";
        return false;
    }
    return true;
}

} // namespace tessera
