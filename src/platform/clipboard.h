#pragma once

#include <QString>

namespace tessera {

// Replaces the clipboard's content with plain text; false when the clipboard did not
// keep it.
bool copyTextToClipboard(const QString &text);

} // namespace tessera
