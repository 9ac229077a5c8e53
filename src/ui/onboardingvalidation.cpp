#include "ui/onboardingvalidation.h"

#include "catalog/consolecatalog.h"
#include "storage/settings.h"

#include <QUrl>

namespace tessera {

bool isValidStartURLText(const QString &text)
{
    const QUrl url(normalizeStartURL(text), QUrl::StrictMode);
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

bool isValidOnboardingRegion(const QString &text)
{
    const QString region = text.trimmed();
    const auto match = regionPattern().match(region);
    return match.hasMatch() && match.capturedStart() == 0 &&
           match.capturedLength() == region.size();
}

} // namespace tessera
