#include "ui/accountrow.h"

#include "accounts/accountstore.h"
#include "ui/icons.h"

#include <QMenu>

namespace tessera {

QString menuItemText(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

AccountRow::AccountRow(AccountStore *store, AWSAccount account, bool isExpanded,
                       Callbacks callbacks)
    : m_store(store)
    , m_account(std::move(account))
    , m_isExpanded(isExpanded)
    , m_callbacks(std::move(callbacks))
{}

void AccountRow::addServiceActions(QMenu *menu, const QString &role) const
{
    const Organization &organization = m_store->organization();
    const auto services =
        orderedConsoleServices(organization.pinnedServiceNames, organization.disabledServiceNames);
    const auto onOpenService = m_callbacks.onOpenService;
    for (const ConsoleService &service : services) {
        menu->addAction(menuItemText(service.name), menu,
                        [onOpenService, role, service] { onOpenService(role, service); });
    }
}

QMenu *AccountRow::createRoleMenu(const QString &role, QWidget *parent) const
{
    auto *menu = new QMenu(parent);
    addServiceActions(menu, role);
    return menu;
}

QMenu *AccountRow::createAccountMenu(QWidget *parent) const
{
    auto *menu = new QMenu(parent);
    const Organization &organization = m_store->organization();
    const QString &id = m_account.accountId;
    AccountStore *store = m_store;

    const bool pinned = organization.pinnedAccountIds.contains(id);
    menu->addAction(pinned ? qtTrId("Unpin") : qtTrId("Pin to Top"), menu,
                    [store, id] { store->togglePinnedAccount(id); });

    QMenu *groups = menu->addMenu(qtTrId("Move to Group"));
    const QString currentGroup = organization.accountGroups.value(id);
    for (const QString &group : organization.groupNames) {
        QAction *action = groups->addAction(menuItemText(group), menu,
                                            [store, id, group] { store->setGroup(id, group); });
        if (group == currentGroup) {
            action->setIcon(symbolIcon(Symbol::checkmark));
        }
    }
    groups->addSeparator();
    groups->addAction(qtTrId("New Group…"), menu, m_callbacks.onRequestNewGroup);
    if (organization.accountGroups.contains(id)) {
        groups->addAction(qtTrId("Remove from Group"), menu,
                          [store, id] { store->setGroup(id, std::nullopt); });
    }

    if (m_account.roles.size() == 1) {
        QMenu *services = menu->addMenu(qtTrId("Open Service"));
        addServiceActions(services, m_account.roles.constFirst());
    }

    QMenu *regions = menu->addMenu(qtTrId("Console Region"));
    const QString currentRegion = m_store->consoleRegionForAccount(id);
    for (const ConsoleRegion &region :
         enabledConsoleRegions(organization.disabledConsoleRegionIds)) {
        QAction *action = regions->addAction(
            menuItemText(QStringLiteral("%1 (%2)").arg(region.name, region.id)), menu,
            [store, id, regionId = region.id] { store->setConsoleRegion(regionId, id); });
        action->setData(region.id);
        if (region.id == currentRegion) {
            action->setIcon(symbolIcon(Symbol::checkmark));
        }
    }

    menu->addSeparator();
    menu->addAction(qtTrId("Copy Account ID"), menu,
                    [copy = m_callbacks.onCopyAccountId, id] { copy(id); });
    return menu;
}

} // namespace tessera
