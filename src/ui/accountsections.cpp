#include "ui/accountsections.h"

#include <QSet>

namespace tessera {

QList<AccountSection> accountSections(const QList<AWSAccount> &accounts,
                                      const Organization &organization)
{
    const QSet<QString> pinned(organization.pinnedAccountIds.cbegin(),
                               organization.pinnedAccountIds.cend());

    AccountSection pinnedSection{
        AccountSection::Kind::pinned, QLatin1String(pinnedSectionKey), qtTrId("Pinned"), {}};
    for (const QString &id : organization.pinnedAccountIds) {
        for (const AWSAccount &account : accounts) {
            if (account.accountId == id) {
                pinnedSection.accounts.append(account);
                break;
            }
        }
    }

    QList<AccountSection> sections{pinnedSection};
    for (const QString &group : organization.groupNames) {
        AccountSection section{AccountSection::Kind::group, group, group, {}};
        for (const AWSAccount &account : accounts) {
            if (!pinned.contains(account.accountId) &&
                organization.accountGroups.value(account.accountId) == group) {
                section.accounts.append(account);
            }
        }
        sections.append(section);
    }

    const QSet<QString> groups(organization.groupNames.cbegin(), organization.groupNames.cend());
    AccountSection other{
        AccountSection::Kind::other, QLatin1String(otherSectionKey), qtTrId("Other"), {}};
    for (const AWSAccount &account : accounts) {
        const auto group = organization.accountGroups.constFind(account.accountId);
        const bool grouped =
            group != organization.accountGroups.cend() && groups.contains(group.value());
        if (!pinned.contains(account.accountId) && !grouped) {
            other.accounts.append(account);
        }
    }
    sections.append(other);
    return sections;
}

} // namespace tessera
