#pragma once

#include <QDateTime>
#include <QTimeZone>

namespace tessera {

// Dates in Tessera's own JSON are seconds (with fraction) since 2001-01-01 00:00:00 UTC.
double secondsSinceReferenceDate(const QDateTime &date);
QDateTime dateFromReferenceSeconds(double seconds);
// The OIDC service counts from 1970 instead.
QDateTime dateFromUnixSeconds(double seconds);

} // namespace tessera
