#include "ui/menucontent.h"

#include "ui/accountlistdelegate.h"
#include "ui/accountlistmodel.h"
#include "ui/accountlistview.h"
#include "ui/busyindicator.h"
#include "ui/deviceauthorizationfallbackview.h"
#include "ui/elidinglabel.h"
#include "ui/icons.h"
#include "ui/relativetime.h"
#include "ui/signinginview.h"
#include "ui/windowfocus.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

namespace {
constexpr int panelWidth = 380;
constexpr int listHeight = 420;
constexpr auto settingsDelay = std::chrono::milliseconds(100);
constexpr auto statusRefreshInterval = std::chrono::seconds(30);
constexpr auto consoleErrorLifetime = std::chrono::seconds(30);

QToolButton *headerButton(Symbol symbol, const QString &toolTip, const char *name, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(symbolIcon(symbol));
    button->setToolTip(toolTip);
    // Only an icon shows; assistive technology reads the name.
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    return button;
}

QLabel *wrappedLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QCoro::Task<void> syncIfAlive(QPointer<AccountStore> store)
{
    if (store) {
        co_await store->sync();
    }
}

// The panel may close while the sync runs; the task owns itself and ends with the store.
void startSync(AccountStore *store)
{
    startTask<void>(
        [store = QPointer<AccountStore>(store)](CancellationToken) { return syncIfAlive(store); });
}

} // namespace

MenuContent::MenuContent(AccountStore *store, Actions actions, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_actions(std::move(actions))
    , m_statusTimer(new QTimer(this))
    , m_consoleErrorExpiry(new QTimer(this))
{
    setObjectName(QStringLiteral("menuContent"));
    setFixedWidth(panelWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->setSpacing(6);
    buildHeader(layout);

    m_statusLine = new ElidingLabel(this);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_statusLine);

    m_errorLine = wrappedLabel(QString(), this);
    m_errorLine->setObjectName(QStringLiteral("errorLine"));
    m_errorLine->setStyleSheet(QStringLiteral("color: #d70015;"));
    m_errorLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_errorLine);

    m_consoleLinkFallback = new DeviceAuthorizationFallbackView(
        m_actions.openURL, m_actions.copyToClipboard, qtTrId("Open AWS console"), this);
    m_consoleLinkFallback->setObjectName(QStringLiteral("consoleLinkFallback"));
    m_consoleLinkFallback->hide();
    layout->addWidget(m_consoleLinkFallback);
    m_consoleErrorExpiry->setObjectName(QStringLiteral("consoleErrorExpiry"));
    m_consoleErrorExpiry->setSingleShot(true);
    m_consoleErrorExpiry->setInterval(consoleErrorLifetime);
    connect(m_consoleErrorExpiry, &QTimer::timeout, this, &MenuContent::dropConsoleError);

    m_pages = new QStackedWidget(this);
    m_signedOutPage = buildSignedOutPage();
    m_signingInPage =
        new SigningInView(m_store, m_actions.openURL, m_actions.copyToClipboard, this);
    m_accountsPage = buildAccountsPage();
    m_newGroupSheet = buildNewGroupSheet();
    for (QWidget *page : {m_signedOutPage, static_cast<QWidget *>(m_signingInPage), m_accountsPage,
                          m_newGroupSheet}) {
        m_pages->addWidget(page);
    }
    layout->addWidget(m_pages, 1);

    for (auto signal : {&AccountStore::sessionChanged, &AccountStore::accountsChanged,
                        &AccountStore::syncingChanged, &AccountStore::lastSyncChanged,
                        &AccountStore::errorMessageChanged, &AccountStore::tokenExpiresAtChanged,
                        &AccountStore::hasRefreshTokenChanged}) {
        connect(m_store, signal, this, &MenuContent::updateState);
    }
    connect(m_store, &AccountStore::accountsChanged, this, &MenuContent::refreshList);
    connect(m_store, &AccountStore::organizationChanged, this, &MenuContent::refreshList);

    // "5 minutes ago" ages while the panel is open.
    m_statusTimer->setInterval(statusRefreshInterval);
    connect(m_statusTimer, &QTimer::timeout, this, &MenuContent::updateStatusLine);
    m_statusTimer->start();

    updateState();
    refreshList();
}

void MenuContent::buildHeader(QVBoxLayout *layout)
{
    auto *header = new QHBoxLayout;
    header->setSpacing(2);
    auto *title = new QLabel(qtTrId("Tessera"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    title->setFont(titleFont);
    header->addWidget(title);
    header->addStretch(1);

    m_syncProgress = new BusyIndicator(this);
    m_syncProgress->setObjectName(QStringLiteral("syncProgress"));
    header->addWidget(m_syncProgress);

    m_syncButton =
        headerButton(Symbol::sync, qtTrId("Sync accounts and roles now"), "syncButton", this);
    connect(m_syncButton, &QToolButton::clicked, m_store, [this] { startSync(m_store); });
    header->addWidget(m_syncButton);

    auto *settings = headerButton(Symbol::settings, qtTrId("Settings"), "settingsButton", this);
    connect(settings, &QToolButton::clicked, this, [this] {
        if (m_actions.dismiss) {
            m_actions.dismiss();
        }
        // The panel must be gone before the settings window can take the focus.
        auto openSettings = m_actions.openSettings;
        QTimer::singleShot(settingsDelay, qApp, [openSettings] {
            if (openSettings) {
                openSettings();
            }
            focusSettingsWindow(20);
        });
    });
    header->addWidget(settings);

    auto *more =
        headerButton(Symbol::moreActions, qtTrId("More actions"), "moreActionsButton", this);
    m_moreMenu = new QMenu(more);
    m_moreMenu->setTitle(qtTrId("More actions"));
    // Offered only once there is a Quick Search to show.
    if (m_actions.showQuickSearch) {
        m_moreMenu->addAction(qtTrId("Quick Search"), this, [this] {
            if (m_actions.dismiss) {
                m_actions.dismiss();
            }
            m_actions.showQuickSearch();
        });
    }
    m_signOutAction =
        m_moreMenu->addAction(qtTrId("Sign Out"), m_store, [this] { m_store->signOut(); });
    m_moreMenu->addAction(qtTrId("Quit Tessera"), this, [this] {
        if (m_actions.quit) {
            m_actions.quit();
        }
    });
    more->setMenu(m_moreMenu);
    more->setPopupMode(QToolButton::InstantPopup);
    header->addWidget(more);
    layout->addLayout(header);
}

QWidget *MenuContent::buildSignedOutPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("signedOut"));
    auto *layout = new QVBoxLayout(page);
    layout->setSpacing(10);
    layout->addStretch(1);
    auto *symbol = new QLabel(page);
    symbol->setPixmap(symbolIcon(Symbol::signIn).pixmap(40, 40));
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);
    auto *text = wrappedLabel(
        qtTrId("Sign in to your AWS access portal to load your accounts and roles."), page);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    auto *signIn = new QPushButton(qtTrId("Sign In"), page);
    signIn->setObjectName(QStringLiteral("signInButton"));
    signIn->setDefault(true);
    connect(signIn, &QPushButton::clicked, m_store, &AccountStore::signIn);
    layout->addWidget(signIn, 0, Qt::AlignCenter);
    layout->addStretch(1);
    return page;
}

QWidget *MenuContent::buildAccountsPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("accountsPage"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_cachedBanner = new QFrame(page);
    m_cachedBanner->setObjectName(QStringLiteral("signedOutBanner"));
    m_cachedBanner->setStyleSheet(QStringLiteral(
        "#signedOutBanner { background: rgba(232,164,0,0.14); border-radius: 6px; }"));
    auto *banner = new QGridLayout(m_cachedBanner);
    auto *warning = new QLabel(m_cachedBanner);
    warning->setPixmap(symbolIcon(Symbol::warning).pixmap(16, 16));
    banner->addWidget(warning, 0, 0, Qt::AlignTop);
    auto *bannerTitle = wrappedLabel(qtTrId("Signed out — sign in to sync"), m_cachedBanner);
    QFont bold = bannerTitle->font();
    bold.setBold(true);
    bannerTitle->setFont(bold);
    banner->addWidget(bannerTitle, 0, 1);
    auto *note =
        wrappedLabel(qtTrId("Console links still work while your browser portal session lasts."),
                     m_cachedBanner);
    note->setForegroundRole(QPalette::PlaceholderText);
    banner->addWidget(note, 1, 1);
    auto *signIn = new QPushButton(qtTrId("Sign In"), m_cachedBanner);
    signIn->setObjectName(QStringLiteral("bannerSignInButton"));
    connect(signIn, &QPushButton::clicked, m_store, &AccountStore::signIn);
    banner->addWidget(signIn, 0, 2, 2, 1, Qt::AlignVCenter);
    banner->setColumnStretch(1, 1);
    layout->addWidget(m_cachedBanner);

    m_searchField = new QLineEdit(page);
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(qtTrId("Search accounts, IDs, roles"));
    m_searchField->addAction(symbolIcon(Symbol::search), QLineEdit::LeadingPosition);
    m_clearSearch =
        m_searchField->addAction(symbolIcon(Symbol::clearText), QLineEdit::TrailingPosition);
    m_clearSearch->setObjectName(QStringLiteral("clearSearch"));
    m_clearSearch->setToolTip(qtTrId("Clear"));
    m_clearSearch->setVisible(false);
    connect(m_clearSearch, &QAction::triggered, m_searchField, &QLineEdit::clear);
    connect(m_searchField, &QLineEdit::textChanged, this, &MenuContent::setQuery);
    layout->addWidget(m_searchField);

    m_searchField->installEventFilter(this);

    m_model = new AccountListModel(this);
    m_view = new AccountListView(page);
    m_view->setObjectName(QStringLiteral("accountList"));
    m_view->setModel(m_model);
    m_view->setItemDelegate(new AccountListDelegate(m_view));
    m_view->setMinimumHeight(listHeight);
    // The search tables are prepared once the list has been painted, not on the first key.
    m_view->viewport()->installEventFilter(this);
    // After the view's own reset handling: folding is applied to the new rows.
    connect(m_model, &QAbstractItemModel::modelReset, this, &MenuContent::applyFolding);
    connect(m_view, &QAbstractItemView::clicked, this,
            [this](const QModelIndex &index) { activateEntry(index, false); });
    connect(m_view, &AccountListView::activatedByKey, this,
            [this](const QModelIndex &index) { activateEntry(index, true); });
    connect(m_view, &AccountListView::foldRequested, this, &MenuContent::foldEntry);
    connect(m_view, &AccountListView::leftAtTop, m_searchField,
            [this] { m_searchField->setFocus(Qt::BacktabFocusReason); });
    connect(m_view, &AccountListView::escapePressed, this, &MenuContent::escape);
    connect(m_view, &AccountListView::textTyped, this, [this](const QString &text) {
        m_searchField->setFocus(Qt::OtherFocusReason);
        m_searchField->insert(text);
    });
    connect(m_view, &QWidget::customContextMenuRequested, this, &MenuContent::showContextMenu);
    layout->addWidget(m_view, 1);

    m_emptyList = new QWidget(page);
    m_emptyList->setObjectName(QStringLiteral("emptyList"));
    auto *emptyLayout = new QVBoxLayout(m_emptyList);
    m_emptyListText = new QLabel(m_emptyList);
    m_emptyListText->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(m_emptyListText);
    m_syncNow = new QPushButton(qtTrId("Sync Now"), m_emptyList);
    m_syncNow->setObjectName(QStringLiteral("syncNowButton"));
    connect(m_syncNow, &QPushButton::clicked, m_store, [this] { startSync(m_store); });
    emptyLayout->addWidget(m_syncNow, 0, Qt::AlignCenter);
    emptyLayout->addStretch(1);
    layout->addWidget(m_emptyList, 1);

    m_noResults = new QLabel(qtTrId("No matching accounts"), page);
    m_noResults->setObjectName(QStringLiteral("noResults"));
    m_noResults->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_noResults->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_noResults, 1);
    return page;
}

QWidget *MenuContent::buildNewGroupSheet()
{
    auto *sheet = new QWidget(this);
    sheet->setObjectName(QStringLiteral("newGroupSheet"));
    auto *layout = new QVBoxLayout(sheet);
    layout->setSpacing(8);
    auto *title = new QLabel(qtTrId("New Group"), sheet);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    layout->addWidget(new QLabel(qtTrId("Group name"), sheet));
    m_newGroupName = new QLineEdit(sheet);
    m_newGroupName->setObjectName(QStringLiteral("newGroupName"));
    m_newGroupName->setPlaceholderText(qtTrId("Group name"));
    connect(m_newGroupName, &QLineEdit::returnPressed, this, &MenuContent::createNewGroup);
    layout->addWidget(m_newGroupName);
    auto *note = wrappedLabel(qtTrId("The account will be moved into the new group."), sheet);
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(note);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(qtTrId("Cancel"), sheet);
    cancel->setObjectName(QStringLiteral("cancelNewGroup"));
    connect(cancel, &QPushButton::clicked, this, &MenuContent::cancelNewGroup);
    auto *create = new QPushButton(qtTrId("Create"), sheet);
    create->setObjectName(QStringLiteral("createNewGroup"));
    create->setDefault(true);
    connect(create, &QPushButton::clicked, this, &MenuContent::createNewGroup);
    buttons->addWidget(cancel);
    buttons->addWidget(create);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return sheet;
}

void MenuContent::updateState()
{
    const AccountStoreSession &session = m_store->session();
    const bool syncing = m_store->syncing();
    m_syncProgress->setVisible(syncing);
    m_syncButton->setVisible(!syncing);
    m_syncButton->setEnabled(session.isSignedIn());
    m_signOutAction->setVisible(!session.isSignedOut());

    const QString error = m_store->errorMessageOrEmpty();
    m_errorLine->setText(error);
    m_errorLine->setVisible(!error.isEmpty());
    if (error != m_consoleError) {
        // The console link failure was replaced or cleared by something newer.
        m_consoleError.clear();
        m_consoleErrorExpiry->stop();
        m_consoleLinkFallback->hide();
    }

    QWidget *page = m_accountsPage;
    if (m_newGroupAccountId) {
        page = m_newGroupSheet;
    } else if (session.isSigningIn()) {
        page = m_signingInPage;
    } else if (session.isSignedOut() && m_store->accounts().isEmpty()) {
        page = m_signedOutPage;
    }
    m_pages->setCurrentWidget(page);
    m_cachedBanner->setVisible(session.isSignedOut());
    updateEmptyList();
    updateStatusLine();
}

void MenuContent::updateStatusLine()
{
    QStringList parts;
    const QDateTime lastSync = m_store->lastSyncOrNull();
    parts << (lastSync.isValid()
                  ? qtTrId("Synced ") +
                        relativeTimeText(lastSync, m_store->clock()->currentDateTime())
                  : qtTrId("Never synced"));
    parts << qtTrId("%lld accounts")
                 .replace(QLatin1String("%lld"), QString::number(m_store->accounts().size()));
    QString text = parts.join(QStringLiteral(" · "));
    if (m_store->session().isSignedIn()) {
        if (m_store->hasRefreshToken()) {
            text += QLatin1Char(' ') + qtTrId("· session auto-renews");
        } else if (const QDateTime expiry = m_store->tokenExpiresAtOrNull(); expiry.isValid()) {
            text += QLatin1Char(' ') + qtTrId("· session until ") +
                    expiry.toLocalTime().toString(QStringLiteral("HH:mm"));
        }
    }
    m_statusLine->setText(text);
}

void MenuContent::setQuery(const QString &query)
{
    if (query == m_query) {
        return;
    }
    m_query = query;
    if (m_searchField->text() != query) {
        m_searchField->setText(query);
    }
    m_clearSearch->setVisible(!query.isEmpty());
    refreshList();
}

void MenuContent::toggleExpanded(const QString &accountId)
{
    const bool open = !m_expanded.remove(accountId);
    if (open) {
        m_expanded.insert(accountId);
    }
    if (const QModelIndex index = m_model->accountIndex(accountId); index.isValid()) {
        m_view->setExpanded(index, open);
    }
}

void MenuContent::toggleSection(const QString &key)
{
    const bool open = m_collapsedSections.remove(key);
    if (!open) {
        m_collapsedSections.insert(key);
    }
    if (const QModelIndex index = m_model->sectionIndex(key); index.isValid()) {
        m_view->setExpanded(index, open);
    }
}

void MenuContent::requestNewGroup(const QString &accountId)
{
    m_newGroupAccountId = accountId;
    updateState();
    m_newGroupName->setFocus();
}

void MenuContent::cancelNewGroup()
{
    m_newGroupName->clear();
    m_newGroupAccountId.reset();
    updateState();
}

void MenuContent::createNewGroup()
{
    if (!m_newGroupAccountId) {
        return;
    }
    const QString accountId = *m_newGroupAccountId;
    const QString typed = m_newGroupName->text();
    m_store->createGroup(typed);
    const QString name = typed.trimmed();
    if (!name.isEmpty()) {
        m_store->setGroup(accountId, name);
    }
    cancelNewGroup();
}

void MenuContent::openRole(const AWSAccount &account, const QString &role,
                           const std::optional<ConsoleService> &service)
{
    QUrl unopened;
    if (m_store->openConsole(account, role, service, &unopened)) {
        if (m_actions.dismiss) {
            m_actions.dismiss();
        }
        return;
    }
    // The complaint is about this click; it goes away after a while or with the next
    // change of the store's message.
    m_consoleError = m_store->errorMessageOrEmpty();
    m_consoleErrorExpiry->start();
    if (!unopened.isEmpty()) {
        m_consoleLinkFallback->setUrl(unopened);
        m_consoleLinkFallback->show();
    }
}

void MenuContent::dropConsoleError()
{
    if (!m_consoleError.isEmpty() && m_store->errorMessageOrEmpty() == m_consoleError) {
        m_store->setErrorMessage(std::nullopt);
    }
}

void MenuContent::copyAccountId(const QString &accountId)
{
    if (!m_actions.copyToClipboard || !m_actions.copyToClipboard(accountId)) {
        m_store->setErrorMessage(qtTrId("Could not copy to the clipboard."));
    }
}

QMenu *MenuContent::createSectionMenu(const QString &groupName, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    AccountStore *store = m_store;
    menu->addAction(qtTrId("Delete Group"), menu,
                    [store, groupName] { store->deleteGroup(groupName); });
    return menu;
}

void MenuContent::refreshList()
{
    const QList<AWSAccount> &accounts = m_store->accounts();
    const Organization &organization = m_store->organization();
    const bool searching = !m_query.trimmed().isEmpty();
    if (accounts.isEmpty()) {
        m_model->clear();
    } else if (searching) {
        prepareSearch();
        m_model->showResults(m_searchIndex.search(m_query), organization);
    } else {
        m_model->showSections(accounts, organization);
    }
    m_view->setVisible(!accounts.isEmpty() && m_model->rowCount() > 0);
    m_noResults->setVisible(!accounts.isEmpty() && searching && m_model->rowCount() == 0);
    updateEmptyList();
}

void MenuContent::prepareSearch()
{
    // Unchanged lists are recognised by their shared data: only the first search after a
    // change of the accounts or groups builds the tables again.
    const Organization &organization = m_store->organization();
    m_searchIndex.update(m_store->accounts(), organization.accountGroups);
    m_searchIndex.setPinnedAccountIds(organization.pinnedAccountIds);
}

void MenuContent::applyFolding()
{
    // The view has dropped its unfolded rows with the reset; folding is the panel's.
    for (int row = 0, rows = m_model->rowCount(); row < rows && !m_model->showsResults(); ++row) {
        const QModelIndex section = m_model->index(row, 0);
        if (!m_collapsedSections.contains(m_model->sectionKey(section))) {
            m_view->expand(section);
        }
    }
    for (const QString &id : std::as_const(m_expanded)) {
        if (const QModelIndex account = m_model->accountIndex(id); account.isValid()) {
            m_view->expand(account);
        }
    }
}

void MenuContent::updateEmptyList()
{
    const bool empty = m_store->accounts().isEmpty();
    m_emptyList->setVisible(empty);
    if (!empty) {
        return;
    }
    const bool syncing = m_store->syncing();
    m_emptyListText->setText(syncing ? qtTrId("Syncing accounts…")
                                     : qtTrId("No accounts loaded yet."));
    m_syncNow->setVisible(!syncing);
}

AccountRow MenuContent::rowFor(const AWSAccount &account)
{
    const QString id = account.accountId;
    AccountRow::Callbacks callbacks{
        [this, id] { toggleExpanded(id); },
        [this, account](const QString &role) { openRole(account, role); },
        [this, account](const QString &role, const ConsoleService &service) {
            openRole(account, role, service);
        },
        [this, id] { requestNewGroup(id); },
        [this](const QString &accountId) { copyAccountId(accountId); },
    };
    return AccountRow(m_store, account, m_expanded.contains(id), std::move(callbacks));
}

std::optional<AccountRow> MenuContent::accountRow(const QString &accountId)
{
    if (const AWSAccount *account = m_model->account(m_model->accountIndex(accountId))) {
        return rowFor(*account);
    }
    return std::nullopt;
}

void MenuContent::showContextMenu(const QPoint &position)
{
    const QModelIndex index = m_view->indexAt(position);
    if (!index.isValid()) {
        return;
    }
    QMenu *menu = nullptr;
    switch (m_model->kind(index)) {
    case AccountListModel::Kind::section:
        if (m_model->isGroupSection(index)) {
            menu = createSectionMenu(m_model->sectionKey(index), m_view);
        }
        break;
    case AccountListModel::Kind::account:
        menu = rowFor(*m_model->account(index)).createAccountMenu(m_view);
        break;
    case AccountListModel::Kind::role:
        menu = rowFor(*m_model->account(index)).createRoleMenu(m_model->roleName(index), m_view);
        break;
    default:
        break;
    }
    if (menu) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_view->viewport()->mapToGlobal(position));
    }
}

void MenuContent::activateEntry(const QModelIndex &index, bool byKey)
{
    if (!index.isValid()) {
        return;
    }
    switch (m_model->kind(index)) {
    case AccountListModel::Kind::section:
        toggleSection(m_model->sectionKey(index));
        break;
    case AccountListModel::Kind::account: {
        const AWSAccount account = *m_model->account(index);
        if (byKey && account.roles.size() == 1) {
            openRole(account, account.roles.constFirst());
        } else {
            toggleExpanded(account.accountId);
        }
        break;
    }
    case AccountListModel::Kind::role:
        openRole(*m_model->account(index), m_model->roleName(index));
        break;
    default:
        break;
    }
}

void MenuContent::foldEntry(const QModelIndex &index, bool unfold)
{
    const auto kind = m_model->kind(index);
    const bool foldable =
        kind == AccountListModel::Kind::section || kind == AccountListModel::Kind::account;
    const bool open = foldable && m_view->isExpanded(index);
    if (foldable && open != unfold) {
        if (kind == AccountListModel::Kind::section) {
            toggleSection(m_model->sectionKey(index));
        } else {
            toggleExpanded(m_model->account(index)->accountId);
        }
        return;
    }
    // Already as asked: Right steps into the row, Left out to its parent.
    const QModelIndex next =
        unfold ? (open ? m_model->index(0, 0, index) : QModelIndex()) : index.parent();
    if (next.isValid()) {
        m_view->setCurrentIndex(next);
    }
}

void MenuContent::escape()
{
    if (!m_query.isEmpty()) {
        m_searchField->clear();
        m_searchField->setFocus(Qt::OtherFocusReason);
    } else if (m_actions.dismiss) {
        m_actions.dismiss();
    }
}

void MenuContent::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_pages->currentWidget() == m_accountsPage) {
        m_searchField->setFocus(Qt::ActiveWindowFocusReason);
    }
}

bool MenuContent::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::Paint) {
        m_view->viewport()->removeEventFilter(this);
        QTimer::singleShot(0, this, &MenuContent::prepareSearch);
        return false;
    }
    if (watched != m_searchField || event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Down:
        if (m_model->rowCount() > 0) {
            if (!m_view->currentIndex().isValid()) {
                m_view->setCurrentIndex(m_model->index(0, 0));
            }
            m_view->setFocus(Qt::TabFocusReason);
        }
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QModelIndex current = m_view->currentIndex();
        activateEntry(current.isValid() ? current : m_model->index(0, 0), true);
        return true;
    }
    case Qt::Key_Escape:
        escape();
        return true;
    default:
        return false;
    }
}

} // namespace tessera
