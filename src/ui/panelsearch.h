#pragma once

#include "storage/records.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

namespace tessera {

// The panel's search over every loaded account, ranked as Quick Search ranks them.
QList<AWSAccount> searchPanelAccounts(const QList<AWSAccount> &accounts, const QString &query,
                                      const QSet<QString> &pinnedAccountIds,
                                      const QMap<QString, QString> &accountGroups);

} // namespace tessera
