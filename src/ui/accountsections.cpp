#include "ui/accountsections.h"

#include <QHash>

namespace tessera {

QList<AccountSection> accountSections(const QList<AWSAccount> &accounts,
                                      const Organization &organization)
{
    // A name listed twice would show its accounts twice; the first mention counts.
    QHash<QString, int> pinOrder;
    for (const QString &id : organization.pinnedAccountIds) {
        pinOrder.insert(id, int(pinOrder.size()));
    }
    QHash<QString, int> groupOrder;
    QList<AccountSection> sections;
    sections.reserve(organization.groupNames.size() + 2);
    sections.append(
        {AccountSection::Kind::pinned, QLatin1String(pinnedSectionKey), qtTrId("Pinned"), {}});
    for (const QString &group : organization.groupNames) {
        if (!groupOrder.contains(group)) {
            groupOrder.insert(group, int(sections.size()));
            sections.append({AccountSection::Kind::group, group, group, {}});
        }
    }
    sections.append(
        {AccountSection::Kind::other, QLatin1String(otherSectionKey), qtTrId("Other"), {}});
    AccountSection &other = sections.last();

    // Pins come in pin order, not account order: the slot of each pin is filled by the
    // first account with its id.
    std::vector<int> pinned(size_t(pinOrder.size()), -1);
    for (qsizetype position = 0; position < accounts.size(); ++position) {
        const QString &id = accounts.at(position).accountId;
        if (const auto pin = pinOrder.constFind(id); pin != pinOrder.cend()) {
            int &slot = pinned[size_t(pin.value())];
            if (slot < 0) {
                slot = int(position);
            }
            continue;
        }
        const auto group = organization.accountGroups.constFind(id);
        const auto section = group == organization.accountGroups.cend()
                                 ? groupOrder.cend()
                                 : groupOrder.constFind(group.value());
        if (section != groupOrder.cend()) {
            sections[section.value()].accounts.push_back(int(position));
        } else {
            other.accounts.push_back(int(position));
        }
    }
    for (int position : pinned) {
        if (position >= 0) {
            sections.first().accounts.push_back(position);
        }
    }
    return sections;
}

} // namespace tessera
