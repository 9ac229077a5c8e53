#include "ui/relativetime.h"

#include <QCoreApplication>

namespace tessera {

QString relativeTimeText(const QDateTime &then, const QDateTime &now)
{
    const qint64 seconds = then.secsTo(now);
    // A clock that was set back makes a recent sync look like the future.
    if (seconds < 60) {
        return qtTrId("just now");
    }
    struct Unit
    {
        qint64 seconds;
        const char *text;
    };
    static const Unit units[] = {
        {365 * 86400, "%n year(s) ago"}, {30 * 86400, "%n month(s) ago"},
        {7 * 86400, "%n week(s) ago"},   {86400, "%n day(s) ago"},
        {3600, "%n hour(s) ago"},        {60, "%n minute(s) ago"},
    };
    for (const Unit &unit : units) {
        if (seconds >= unit.seconds) {
            const int count = int(seconds / unit.seconds);
            // Without a translation qtTrId gives back the id; plural forms are then ours.
            QString text = qtTrId(unit.text, count);
            if (text.contains(QLatin1String("(s)"))) {
                text.replace(QLatin1String("(s)"), count == 1 ? QString() : QStringLiteral("s"));
            }
            return text;
        }
    }
    return qtTrId("just now");
}

} // namespace tessera
