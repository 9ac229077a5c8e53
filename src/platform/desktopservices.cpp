#include "platform/desktopservices.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

namespace tessera {

bool openInDefaultBrowser(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

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
