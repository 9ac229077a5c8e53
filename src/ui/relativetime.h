#pragma once

#include <QDateTime>
#include <QString>

namespace tessera {

// "5 minutes ago", "2 days ago", "just now": the time from `then` to `now` spelled out.
QString relativeTimeText(const QDateTime &then, const QDateTime &now);

} // namespace tessera
