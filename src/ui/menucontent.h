#pragma once

#include "accounts/accountstore.h"
#include "quicksearch/accountsearch.h"
#include "ui/accountrow.h"

#include <QSet>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class QPushButton;
class QTimer;
class QAction;
class QModelIndex;

namespace tessera {

class SigningInView;
class BusyIndicator;
class ElidingLabel;
class DeviceAuthorizationFallbackView;
class AccountListModel;
class AccountListView;

// The tray panel: header, session state, search and the sectioned account list. It keeps
// only view state (query, open accounts, folded sections, the new-group sheet); every
// change of substance is a store operation.
class MenuContent : public QWidget
{
    Q_OBJECT

public:
    struct Actions
    {
        // Closes the panel.
        std::function<void()> dismiss;
        std::function<void()> openSettings;
        std::function<void()> showQuickSearch;
        std::function<void()> quit;
        // Writes plain text to the clipboard; false when the clipboard refused it.
        std::function<bool(const QString &)> copyToClipboard;
        // Opens a link shown in the panel (the verification page).
        OpenURLFunction openURL;
    };

    MenuContent(AccountStore *store, Actions actions, QWidget *parent = nullptr);

    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    const QSet<QString> &expanded() const { return m_expanded; }
    const QSet<QString> &collapsedSections() const { return m_collapsedSections; }
    const std::optional<QString> &newGroupAccountId() const { return m_newGroupAccountId; }

    void toggleExpanded(const QString &accountId);
    void toggleSection(const QString &key);
    void requestNewGroup(const QString &accountId);
    void cancelNewGroup();
    void createNewGroup();

    void openRole(const AWSAccount &account, const QString &role,
                  const std::optional<ConsoleService> &service = std::nullopt);
    void copyAccountId(const QString &accountId);

    // The "More actions" menu, for the header button and for tests.
    QMenu *moreActionsMenu() const { return m_moreMenu; }
    QMenu *createSectionMenu(const QString &groupName, QWidget *parent);
    // What a listed account offers (its menus); none when the list does not show it.
    std::optional<AccountRow> accountRow(const QString &accountId);

    // A click on a row of the list, or Return on it (`byKey`): a section folds or unfolds,
    // a role opens its console, an account unfolds; by key, an account with one role
    // opens that role's console instead.
    void activateEntry(const QModelIndex &index, bool byKey);
    // Right and Left on a row: unfold or fold it, or step into or out of it when it is
    // already so.
    void foldEntry(const QModelIndex &index, bool unfold);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildHeader(QVBoxLayout *layout);
    QWidget *buildSignedOutPage();
    QWidget *buildAccountsPage();
    QWidget *buildNewGroupSheet();

    void updateState();
    void updateStatusLine();
    void refreshList();
    void prepareSearch();
    void applyFolding();
    void updateEmptyList();
    void showContextMenu(const QPoint &position);
    AccountRow rowFor(const AWSAccount &account);
    void escape();
    void dropConsoleError();

    AccountStore *m_store;
    Actions m_actions;

    QString m_query;
    QSet<QString> m_expanded;
    QSet<QString> m_collapsedSections;
    std::optional<QString> m_newGroupAccountId;

    QToolButton *m_syncButton = nullptr;
    BusyIndicator *m_syncProgress = nullptr;
    QMenu *m_moreMenu = nullptr;
    QAction *m_signOutAction = nullptr;
    ElidingLabel *m_statusLine = nullptr;
    QLabel *m_errorLine = nullptr;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_signedOutPage = nullptr;
    SigningInView *m_signingInPage = nullptr;
    QWidget *m_accountsPage = nullptr;
    QWidget *m_newGroupSheet = nullptr;
    QWidget *m_cachedBanner = nullptr;
    QLineEdit *m_searchField = nullptr;
    QAction *m_clearSearch = nullptr;
    AccountListModel *m_model = nullptr;
    AccountListView *m_view = nullptr;
    QWidget *m_emptyList = nullptr;
    QLabel *m_emptyListText = nullptr;
    QPushButton *m_syncNow = nullptr;
    QLabel *m_noResults = nullptr;
    QLineEdit *m_newGroupName = nullptr;
    QTimer *m_statusTimer = nullptr;
    // A failed console click's message, its expiry, and the link to open or copy by hand.
    QString m_consoleError;
    QTimer *m_consoleErrorExpiry = nullptr;
    DeviceAuthorizationFallbackView *m_consoleLinkFallback = nullptr;
    // Built when the account list or the groups change, used by every keystroke.
    AccountSearchIndex m_searchIndex;
};

} // namespace tessera
