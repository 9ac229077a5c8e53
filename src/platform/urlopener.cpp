#include "platform/urlopener.h"

#include <QDesktopServices>

namespace tessera {

bool openURLInDesktopBrowser(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace tessera
