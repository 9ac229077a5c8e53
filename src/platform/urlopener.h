#pragma once

#include <QUrl>

namespace tessera {

// Hands the URL to the desktop's default handler for its scheme (the browser for https).
// Returns false when no handler could be started. Needs a QGuiApplication.
bool openURLInDesktopBrowser(const QUrl &url);

} // namespace tessera
