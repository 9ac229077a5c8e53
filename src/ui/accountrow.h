#pragma once

#include "catalog/consolecatalog.h"
#include "storage/records.h"

#include <functional>

class QMenu;
class QWidget;

namespace tessera {

class AccountStore;

// What one account of the panel offers: its menu and its roles' service menus. The list
// paints the account; this is made when the user acts on it and dropped afterwards.
// Everything it changes goes through the store or the callbacks.
class AccountRow
{
public:
    struct Callbacks
    {
        std::function<void()> onToggle;
        std::function<void(const QString &role)> onOpen;
        std::function<void(const QString &role, const ConsoleService &service)> onOpenService;
        std::function<void()> onRequestNewGroup;
        std::function<void(const QString &accountId)> onCopyAccountId;
    };

    AccountRow(AccountStore *store, AWSAccount account, bool isExpanded, Callbacks callbacks);

    const AWSAccount &account() const { return m_account; }
    bool isExpanded() const { return m_isExpanded; }

    // The menus a right click shows; the caller owns them. Their actions keep working
    // after this row is gone.
    QMenu *createAccountMenu(QWidget *parent) const;
    QMenu *createRoleMenu(const QString &role, QWidget *parent) const;

private:
    void addServiceActions(QMenu *menu, const QString &role) const;

    AccountStore *m_store;
    AWSAccount m_account;
    bool m_isExpanded;
    Callbacks m_callbacks;
};

// A user's text as a menu item's label: "&" is an ampersand there, not a mnemonic.
QString menuItemText(QString text);

} // namespace tessera
