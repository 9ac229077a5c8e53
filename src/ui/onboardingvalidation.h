#pragma once

#include <QString>

namespace tessera {

// A start URL is usable once normalised, with the https scheme and a host.
bool isValidStartURLText(const QString &text);
// Trimmed, and matching the region pattern as typed: capitals are not accepted here.
bool isValidOnboardingRegion(const QString &text);

} // namespace tessera
