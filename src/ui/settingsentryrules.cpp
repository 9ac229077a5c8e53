#include "ui/settingsentryrules.h"

#include "catalog/consolecatalog.h"
#include "storage/settings.h"
#include "ui/onboardingvalidation.h"

#include <algorithm>

namespace tessera {

namespace {
bool isBlankOrControl(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control ||
           c.category() == QChar::Other_Format || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}
} // namespace

std::optional<QString> startURLEntryProblem(const QString &text)
{
    const QString normalized = normalizeStartURL(text);
    if (normalized.isEmpty()) {
        return std::nullopt;
    }
    if (std::any_of(normalized.cbegin(), normalized.cend(), isBlankOrControl)) {
        return qtTrId("A start URL cannot contain spaces, line breaks or control characters.");
    }
    if (!isValidStartURLText(normalized)) {
        return qtTrId("Enter the full https:// URL of your access portal.");
    }
    return std::nullopt;
}

std::optional<QString> regionEntryProblem(const QString &text, bool mayBeEmpty)
{
    const QString region = normalizedRegionId(text);
    if (region.isEmpty()) {
        return mayBeEmpty ? std::nullopt
                          : std::optional(qtTrId("Enter a region (example: us-west-1)."));
    }
    const bool regionCharacters = std::all_of(region.cbegin(), region.cend(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
    });
    if (!regionCharacters) {
        return qtTrId("A region holds only letters, digits and hyphens (example: us-west-1).");
    }
    return std::nullopt;
}

} // namespace tessera
