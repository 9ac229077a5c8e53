#include "ui/panelsearch.h"

#include <QRegularExpression>

namespace tessera {

// Until Quick Search's ranking is available this keeps every account whose name, id,
// roles or group contain all the terms, in list order, pinned accounts first.
QList<AWSAccount> searchPanelAccounts(const QList<AWSAccount> &accounts, const QString &query,
                                      const QSet<QString> &pinnedAccountIds,
                                      const QMap<QString, QString> &accountGroups)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList terms = query.toLower().split(blanks, Qt::SkipEmptyParts);
    if (terms.isEmpty()) {
        return accounts;
    }
    QList<AWSAccount> pinned, rest;
    for (const AWSAccount &account : accounts) {
        const QString haystack = (QStringList{account.accountName, account.accountId,
                                              accountGroups.value(account.accountId)} +
                                  account.roles)
                                     .join(QLatin1Char('\n'))
                                     .toLower();
        const bool matches = std::all_of(terms.cbegin(), terms.cend(), [&](const QString &term) {
            return haystack.contains(term);
        });
        if (matches) {
            (pinnedAccountIds.contains(account.accountId) ? pinned : rest).append(account);
        }
    }
    return pinned + rest;
}

} // namespace tessera
