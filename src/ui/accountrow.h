#pragma once

#include "catalog/consolecatalog.h"
#include "storage/records.h"

#include <QFrame>
#include <functional>

class QMenu;

namespace tessera {

class AccountStore;

// One account of the panel: its name, and when open its roles, each opening the console.
// Everything it changes goes through the store or the callbacks.
class AccountRow : public QFrame
{
    Q_OBJECT

public:
    struct Callbacks
    {
        std::function<void()> onToggle;
        std::function<void(const QString &role)> onOpen;
        std::function<void(const QString &role, const ConsoleService &service)> onOpenService;
        std::function<void()> onRequestNewGroup;
        std::function<void(const QString &accountId)> onCopyAccountId;
    };

    AccountRow(AccountStore *store, AWSAccount account, bool isExpanded, Callbacks callbacks,
               QWidget *parent = nullptr);

    const AWSAccount &account() const { return m_account; }
    bool isExpanded() const { return m_isExpanded; }

    // The menus a right click shows; the caller owns them.
    QMenu *createAccountMenu(QWidget *parent) const;
    QMenu *createRoleMenu(const QString &role, QWidget *parent) const;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void addServiceActions(QMenu *menu, const QString &role) const;
    QWidget *createRoleList();

    AccountStore *m_store;
    AWSAccount m_account;
    bool m_isExpanded;
    Callbacks m_callbacks;
};

} // namespace tessera
