#include "storage/records.h"

#include "catalog/consolecatalog.h"

#include <QSet>

namespace tessera {

size_t qHash(const AWSAccount &account, size_t seed)
{
    return qHashMulti(seed, account.accountId, account.accountName, account.roles);
}

QStringList uniqued(const QStringList &values)
{
    QStringList result;
    QSet<QString> seen;
    result.reserve(values.size());
    for (const auto &value : values) {
        if (!seen.contains(value)) {
            seen.insert(value);
            result.append(value);
        }
    }
    return result;
}

Organization Organization::normalized() const
{
    Organization result;
    result.pinnedAccountIds = uniqued(pinnedAccountIds);
    result.groupNames = uniqued(groupNames);
    for (auto it = accountGroups.cbegin(); it != accountGroups.cend(); ++it) {
        if (result.groupNames.contains(it.value())) {
            result.accountGroups.insert(it.key(), it.value());
        }
    }
    for (const auto &name : uniqued(pinnedServiceNames)) {
        if (isCatalogServiceName(name)) {
            result.pinnedServiceNames.append(name);
        }
    }
    for (const auto &name : uniqued(disabledServiceNames)) {
        if (isCatalogServiceName(name)) {
            result.disabledServiceNames.append(name);
        }
    }
    for (auto it = accountConsoleRegions.cbegin(); it != accountConsoleRegions.cend(); ++it) {
        if (isCatalogRegionId(it.value())) {
            result.accountConsoleRegions.insert(it.key(), it.value());
        }
    }
    for (const auto &id : uniqued(disabledConsoleRegionIds)) {
        if (isCatalogRegionId(id)) {
            result.disabledConsoleRegionIds.append(id);
        }
    }
    if (result.disabledConsoleRegionIds.size() == consoleRegionCatalog().size()) {
        result.disabledConsoleRegionIds.removeAll(QStringLiteral("us-east-1"));
    }
    return result;
}

} // namespace tessera
