#include "storage/dates.h"

#include <cmath>

namespace tessera {

namespace {
constexpr qint64 referenceDateUnixMilliseconds = 978307200000LL;
}

double secondsSinceReferenceDate(const QDateTime &date)
{
    return static_cast<double>(date.toMSecsSinceEpoch() - referenceDateUnixMilliseconds) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(referenceDateUnixMilliseconds +
                                              static_cast<qint64>(std::llround(seconds * 1000.0)),
                                          Qt::UTC);
}

QDateTime dateFromUnixSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(seconds * 1000.0)),
                                          Qt::UTC);
}

} // namespace tessera
