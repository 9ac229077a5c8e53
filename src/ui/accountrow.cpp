#include "ui/accountrow.h"

#include "accounts/accountstore.h"
#include "ui/icons.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

AccountRow::AccountRow(AccountStore *store, AWSAccount account, bool isExpanded,
                       Callbacks callbacks, QWidget *parent)
    : QFrame(parent)
    , m_store(store)
    , m_account(std::move(account))
    , m_isExpanded(isExpanded)
    , m_callbacks(std::move(callbacks))
{
    setObjectName(QStringLiteral("account:") + m_account.accountId);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QWidget(this);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(4, 3, 8, 3);
    headerLayout->setSpacing(6);

    auto *disclosure = new QToolButton(header);
    disclosure->setObjectName(QStringLiteral("disclosure"));
    disclosure->setAutoRaise(true);
    disclosure->setIconSize(QSize(12, 12));
    disclosure->setIcon(symbolIcon(m_isExpanded ? Symbol::unfolded : Symbol::folded));
    disclosure->setToolTip(m_isExpanded ? qtTrId("Hide roles") : qtTrId("Show roles"));
    connect(disclosure, &QToolButton::clicked, this, [this] { m_callbacks.onToggle(); });
    headerLayout->addWidget(disclosure);

    auto *name = new QLabel(m_account.accountName, header);
    name->setObjectName(QStringLiteral("accountName"));
    headerLayout->addWidget(name, 1);

    if (m_store->organization().pinnedAccountIds.contains(m_account.accountId)) {
        auto *pin = new QLabel(header);
        pin->setObjectName(QStringLiteral("pinnedMark"));
        pin->setPixmap(symbolIcon(Symbol::pin).pixmap(12, 12));
        headerLayout->addWidget(pin);
    }
    auto *id = new QLabel(m_account.accountId, header);
    id->setObjectName(QStringLiteral("accountId"));
    id->setForegroundRole(QPalette::PlaceholderText);
    headerLayout->addWidget(id);
    layout->addWidget(header);

    if (m_isExpanded) {
        layout->addWidget(createRoleList());
    }
}

QWidget *AccountRow::createRoleList()
{
    auto *list = new QWidget(this);
    list->setObjectName(QStringLiteral("roles"));
    auto *layout = new QVBoxLayout(list);
    layout->setContentsMargins(26, 0, 8, 4);
    layout->setSpacing(0);
    if (m_account.roles.isEmpty()) {
        auto *none = new QLabel(qtTrId("No roles"), list);
        none->setForegroundRole(QPalette::PlaceholderText);
        layout->addWidget(none);
    }
    for (const QString &role : m_account.roles) {
        auto *button = new QToolButton(list);
        button->setObjectName(QStringLiteral("role:") + role);
        button->setText(role);
        button->setIcon(symbolIcon(Symbol::openConsole));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setToolTip(qtTrId("Click for console home · right-click for a specific service"));
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QToolButton::clicked, this, [this, role] { m_callbacks.onOpen(role); });
        connect(button, &QWidget::customContextMenuRequested, this,
                [this, button, role](const QPoint &position) {
                    QMenu *menu = createRoleMenu(role, this);
                    menu->setAttribute(Qt::WA_DeleteOnClose);
                    menu->popup(button->mapToGlobal(position));
                });
        layout->addWidget(button);
    }
    return list;
}

void AccountRow::addServiceActions(QMenu *menu, const QString &role) const
{
    const Organization &organization = m_store->organization();
    const auto services =
        orderedConsoleServices(organization.pinnedServiceNames, organization.disabledServiceNames);
    for (const ConsoleService &service : services) {
        menu->addAction(service.name, this,
                        [this, role, service] { m_callbacks.onOpenService(role, service); });
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
        QAction *action =
            groups->addAction(group, menu, [store, id, group] { store->setGroup(id, group); });
        if (group == currentGroup) {
            action->setIcon(symbolIcon(Symbol::checkmark));
        }
    }
    groups->addSeparator();
    groups->addAction(qtTrId("New Group…"), menu, [this] { m_callbacks.onRequestNewGroup(); });
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
            QStringLiteral("%1 (%2)").arg(region.name, region.id), menu,
            [store, id, regionId = region.id] { store->setConsoleRegion(regionId, id); });
        action->setData(region.id);
        if (region.id == currentRegion) {
            action->setIcon(symbolIcon(Symbol::checkmark));
        }
    }

    menu->addSeparator();
    menu->addAction(qtTrId("Copy Account ID"), menu,
                    [this, id] { m_callbacks.onCopyAccountId(id); });
    return menu;
}

void AccountRow::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createAccountMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void AccountRow::mouseReleaseEvent(QMouseEvent *event)
{
    // The whole name line toggles, not only the chevron.
    if (event->button() == Qt::LeftButton) {
        m_callbacks.onToggle();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

} // namespace tessera
