#include "platform/urlopener.h"

#include "foundation/logging.h"

#include <QDesktopServices>

namespace tessera {

bool openURLInDesktopBrowser(const QUrl &url)
{
    if (QDesktopServices::openUrl(url)) {
        return true;
    }
    // Scheme and host only: the query may hold a sign-in code or a console token.
    qCWarning(lcApp).noquote() << "No desktop handler opened" << url.scheme() << "URL for"
                               << url.host();
    return false;
}

} // namespace tessera
