#include "quicksearch/localizedtext.h"

namespace tessera {

QString localizedText(const char *id, const char *defaultText)
{
    const QString translated = qtTrId(id);
    if (translated.isEmpty() || translated == QString::fromUtf8(id)) {
        return QString::fromUtf8(defaultText);
    }
    return translated;
}

} // namespace tessera
