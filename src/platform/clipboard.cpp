#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tessera {

bool copyTextToClipboard(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        return false;
    }
    clipboard->clear();
    clipboard->setText(text);
    return clipboard->text() == text;
}

} // namespace tessera
