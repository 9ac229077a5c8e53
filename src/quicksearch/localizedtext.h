#pragma once

#include <QString>

namespace tessera {

// The translation of `id` from the loaded string tables, or `defaultText` when there is
// none: qtTrId answers a missing translation with the id itself, which is not meant for
// the user. Where a text is its own key, pass it twice.
QString localizedText(const char *id, const char *defaultText);

} // namespace tessera
