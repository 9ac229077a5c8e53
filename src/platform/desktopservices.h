#pragma once

#include <QString>
#include <QUrl>

namespace tessera {

// Hands the URL to the user's default browser; false when no handler took it.
bool openInDefaultBrowser(const QUrl &url);

// Replaces the clipboard's content with plain text; false when the clipboard did not
// keep it.
bool copyTextToClipboard(const QString &text);

} // namespace tessera
