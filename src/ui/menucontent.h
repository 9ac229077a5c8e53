#pragma once

#include "accounts/accountstore.h"

#include <QSet>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class QPushButton;
class QTimer;
class QAction;

namespace tessera {

class SigningInView;

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

private:
    void buildHeader(QVBoxLayout *layout);
    QWidget *buildSignedOutPage();
    QWidget *buildAccountsPage();
    QWidget *buildNewGroupSheet();

    void updateState();
    void updateStatusLine();
    void scheduleListRebuild();
    void rebuildList();
    QWidget *createSectionHeader(const QString &key, const QString &title, bool isGroup,
                                 qsizetype count);
    QWidget *createRow(const AWSAccount &account);
    QWidget *createSyncNowPlaceholder();

    AccountStore *m_store;
    Actions m_actions;

    QString m_query;
    QSet<QString> m_expanded;
    QSet<QString> m_collapsedSections;
    std::optional<QString> m_newGroupAccountId;

    QToolButton *m_syncButton = nullptr;
    QProgressBar *m_syncProgress = nullptr;
    QMenu *m_moreMenu = nullptr;
    QAction *m_signOutAction = nullptr;
    QLabel *m_statusLine = nullptr;
    QLabel *m_errorLine = nullptr;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_signedOutPage = nullptr;
    SigningInView *m_signingInPage = nullptr;
    QWidget *m_accountsPage = nullptr;
    QWidget *m_newGroupSheet = nullptr;
    QWidget *m_cachedBanner = nullptr;
    QLineEdit *m_searchField = nullptr;
    QAction *m_clearSearch = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
    QLineEdit *m_newGroupName = nullptr;
    QTimer *m_statusTimer = nullptr;
    bool m_rebuildPending = false;
};

} // namespace tessera
