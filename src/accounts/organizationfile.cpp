#include "accounts/organizationfile.h"

#include "catalog/consolecatalog.h"
#include "foundation/error.h"
#include "foundation/logging.h"
#include "storage/supportfiles.h"

#include <algorithm>
#include <utility>

namespace tessera {

namespace {
const QString organizationLoadFailedMessage = QStringLiteral(
    "Tessera could not load your saved organization. The existing file was left untouched.");
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

OrganizationFile::OrganizationFile(std::optional<QString> path, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
{}

void OrganizationFile::load()
{
    try {
        if (auto loaded = loadOrganization(m_path)) {
            m_organization = *std::move(loaded);
            Q_EMIT organizationChanged();
        }
    } catch (const Error &error) {
        m_blocked = true;
        reportFailure(organizationLoadFailedMessage, error.description());
    }
}

void OrganizationFile::reportFailure(const QString &message, const QString &failureDescription)
{
    qCCritical(lcPersistence).noquote() << "Organization persistence failed:" << failureDescription;
    m_failureMessage = message;
    Q_EMIT failed(message);
}

void OrganizationFile::update(const std::function<void(Organization &)> &change)
{
    // A file we could not read at start-up is never overwritten: it may hold the user's
    // arrangement in a form this run does not understand.
    if (m_blocked) {
        if (m_failureMessage) {
            Q_EMIT failed(*m_failureMessage);
        }
        return;
    }

    Organization changed = m_organization;
    change(changed);
    try {
        saveOrganization(changed, m_path);
    } catch (...) {
        reportFailure(organizationSaveFailedMessage, describeException(std::current_exception()));
        return;
    }

    if (m_organization != changed) {
        m_organization = std::move(changed);
        Q_EMIT organizationChanged();
    }
    if (const std::optional<QString> shown = std::exchange(m_failureMessage, std::nullopt)) {
        Q_EMIT recovered(*shown);
    }
}

void OrganizationFile::togglePinnedAccount(const QString &accountId)
{
    update([&](Organization &o) { toggle(o.pinnedAccountIds, accountId); });
}

void OrganizationFile::togglePinnedService(const QString &serviceName)
{
    update([&](Organization &o) { toggle(o.pinnedServiceNames, serviceName); });
}

void OrganizationFile::setServiceEnabled(const QString &serviceName, bool enabled)
{
    update([&](Organization &o) {
        if (enabled) {
            o.disabledServiceNames.removeAll(serviceName);
        } else if (!o.disabledServiceNames.contains(serviceName)) {
            o.disabledServiceNames.append(serviceName);
        }
    });
}

void OrganizationFile::createGroup(const QString &name)
{
    const QString trimmed = trimmedGroupName(name);
    if (trimmed.isEmpty() || m_organization.groupNames.contains(trimmed)) {
        return;
    }
    update([&](Organization &o) { o.groupNames.append(trimmed); });
}

void OrganizationFile::setGroup(const QString &accountId, const std::optional<QString> &groupName)
{
    update([&](Organization &o) {
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

void OrganizationFile::deleteGroup(const QString &groupName)
{
    update([&](Organization &o) {
        o.groupNames.removeAll(groupName);
        o.accountGroups.removeIf(
            [&](QMap<QString, QString>::iterator entry) { return entry.value() == groupName; });
    });
}

void OrganizationFile::setConsoleRegion(const QString &regionText, const QString &accountId)
{
    const QString region = normalizedRegionId(regionText);
    if (!matchesRegionPattern(region) || m_organization.disabledConsoleRegionIds.contains(region)) {
        return;
    }
    update([&](Organization &o) { o.accountConsoleRegions.insert(accountId, region); });
}

void OrganizationFile::setConsoleRegionEnabled(const QString &regionId, bool enabled)
{
    if (!enabled && enabledConsoleRegions(m_organization.disabledConsoleRegionIds).size() < 2) {
        return;
    }
    update([&](Organization &o) {
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

void OrganizationFile::setEnabledConsoleRegions(const QSet<QString> &regionIds)
{
    const bool anyKnown = std::any_of(regionIds.cbegin(), regionIds.cend(), isCatalogRegionId);
    if (!anyKnown) {
        return;
    }
    update([&](Organization &o) {
        o.disabledConsoleRegionIds =
            catalogRegionIds([&](const QString &id) { return !regionIds.contains(id); });
    });
}

} // namespace tessera
