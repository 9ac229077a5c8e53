// Changes to the user's organization, each written atomically before it is taken.
#include "accounts/accountstore.h"
#include "foundation/error.h"
#include "storage/supportfiles.h"

#include <algorithm>

namespace tessera {

namespace {
const QString organizationSaveFailedMessage =
    QStringLiteral("Tessera could not save your organization change. Your previous settings "
                   "were left untouched.");

void toggle(QStringList &list, const QString &value)
{
    if (list.contains(value)) {
        list.removeAll(value);
    } else {
        list.append(value);
    }
}

// Group names lose spaces and tabs at both ends only: a line break is part of the name.
QString trimmedGroupName(const QString &name)
{
    const auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0;
    qsizetype end = name.size();
    while (begin < end && isBlank(name.at(begin))) {
        ++begin;
    }
    while (end > begin && isBlank(name.at(end - 1))) {
        --end;
    }
    return name.mid(begin, end - begin);
}

// The catalog's ids, in catalog order, for which `disabled` holds.
QStringList catalogRegionIds(const std::function<bool(const QString &)> &disabled)
{
    QStringList ids;
    for (const auto &region : consoleRegionCatalog()) {
        if (disabled(region.id)) {
            ids.append(region.id);
        }
    }
    return ids;
}
} // namespace

void AccountStore::updateOrganization(const std::function<void(Organization &)> &change)
{
    // A file we could not read at start-up is never overwritten: it may hold the user's
    // arrangement in a form this run does not understand.
    if (m_organizationPersistenceBlocked) {
        if (m_organizationErrorMessage) {
            setErrorMessage(m_organizationErrorMessage);
        }
        return;
    }

    Organization changed = m_organization;
    change(changed);
    try {
        saveOrganization(changed, m_organizationFileURL);
    } catch (...) {
        reportOrganizationFailure(organizationSaveFailedMessage,
                                  describeException(std::current_exception()));
        return;
    }

    setOrganization(std::move(changed));
    // Only our own earlier message is cleared; one another operation has shown since stays.
    if (m_errorMessage == m_organizationErrorMessage) {
        setErrorMessage(std::nullopt);
    }
    m_organizationErrorMessage.reset();
}

void AccountStore::togglePinnedAccount(const QString &accountId)
{
    updateOrganization([&](Organization &o) { toggle(o.pinnedAccountIds, accountId); });
}

void AccountStore::togglePinnedService(const QString &serviceName)
{
    updateOrganization([&](Organization &o) { toggle(o.pinnedServiceNames, serviceName); });
}

void AccountStore::setServiceEnabled(const QString &serviceName, bool enabled)
{
    updateOrganization([&](Organization &o) {
        if (enabled) {
            o.disabledServiceNames.removeAll(serviceName);
        } else if (!o.disabledServiceNames.contains(serviceName)) {
            o.disabledServiceNames.append(serviceName);
        }
    });
}

void AccountStore::createGroup(const QString &name)
{
    const QString trimmed = trimmedGroupName(name);
    if (trimmed.isEmpty() || m_organization.groupNames.contains(trimmed)) {
        return;
    }
    updateOrganization([&](Organization &o) { o.groupNames.append(trimmed); });
}

void AccountStore::setGroup(const QString &accountId, const std::optional<QString> &groupName)
{
    updateOrganization([&](Organization &o) {
        if (!groupName) {
            o.accountGroups.remove(accountId);
            return;
        }
        if (!o.groupNames.contains(*groupName)) {
            o.groupNames.append(*groupName);
        }
        o.accountGroups.insert(accountId, *groupName);
    });
}

void AccountStore::deleteGroup(const QString &groupName)
{
    updateOrganization([&](Organization &o) {
        o.groupNames.removeAll(groupName);
        o.accountGroups.removeIf(
            [&](QMap<QString, QString>::iterator entry) { return entry.value() == groupName; });
    });
}

void AccountStore::setConsoleRegion(const QString &regionText, const QString &accountId)
{
    const QString region = normalizedRegionId(regionText);
    if (!matchesRegionPattern(region) || m_organization.disabledConsoleRegionIds.contains(region)) {
        return;
    }
    updateOrganization([&](Organization &o) { o.accountConsoleRegions.insert(accountId, region); });
}

void AccountStore::setConsoleRegionEnabled(const QString &regionId, bool enabled)
{
    if (!enabled && enabledConsoleRegions(m_organization.disabledConsoleRegionIds).size() < 2) {
        return;
    }
    updateOrganization([&](Organization &o) {
        QSet<QString> disabled(o.disabledConsoleRegionIds.cbegin(),
                               o.disabledConsoleRegionIds.cend());
        if (enabled) {
            disabled.remove(regionId);
        } else {
            disabled.insert(regionId);
        }
        o.disabledConsoleRegionIds =
            catalogRegionIds([&](const QString &id) { return disabled.contains(id); });
    });
}

void AccountStore::setEnabledConsoleRegions(const QSet<QString> &regionIds)
{
    const bool anyKnown = std::any_of(regionIds.cbegin(), regionIds.cend(), isCatalogRegionId);
    if (!anyKnown) {
        return;
    }
    updateOrganization([&](Organization &o) {
        o.disabledConsoleRegionIds =
            catalogRegionIds([&](const QString &id) { return !regionIds.contains(id); });
    });
}

} // namespace tessera
