#include "ui/menucontent.h"

#include "quicksearch/accountsearch.h"
#include "ui/accountrow.h"
#include "ui/accountsections.h"
#include "ui/icons.h"
#include "ui/relativetime.h"
#include "ui/signinginview.h"
#include "ui/windowfocus.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
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

QToolButton *headerButton(Symbol symbol, const QString &toolTip, const char *name, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(symbolIcon(symbol));
    button->setToolTip(toolTip);
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

// A section header that folds on click and offers "Delete Group" on group headers.
class SectionHeader : public QToolButton
{
public:
    SectionHeader(std::function<QMenu *(QWidget *)> menuFactory, QWidget *parent)
        : QToolButton(parent)
        , m_menuFactory(std::move(menuFactory))
    {}

protected:
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        if (!m_menuFactory) {
            return;
        }
        QMenu *menu = m_menuFactory(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }

private:
    std::function<QMenu *(QWidget *)> m_menuFactory;
};
} // namespace

MenuContent::MenuContent(AccountStore *store, Actions actions, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_actions(std::move(actions))
    , m_statusTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("menuContent"));
    setFixedWidth(panelWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->setSpacing(6);
    buildHeader(layout);

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setForegroundRole(QPalette::PlaceholderText);
    m_statusLine->setWordWrap(true);
    layout->addWidget(m_statusLine);

    m_errorLine = wrappedLabel(QString(), this);
    m_errorLine->setObjectName(QStringLiteral("errorLine"));
    m_errorLine->setStyleSheet(QStringLiteral("color: #d70015;"));
    m_errorLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_errorLine);

    m_pages = new QStackedWidget(this);
    m_signedOutPage = buildSignedOutPage();
    m_signingInPage = new SigningInView(m_store, m_actions.openURL, this);
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
    connect(m_store, &AccountStore::accountsChanged, this, &MenuContent::scheduleListRebuild);
    connect(m_store, &AccountStore::organizationChanged, this, &MenuContent::scheduleListRebuild);
    connect(m_store, &AccountStore::syncingChanged, this, &MenuContent::scheduleListRebuild);

    // "5 minutes ago" ages while the panel is open.
    m_statusTimer->setInterval(statusRefreshInterval);
    connect(m_statusTimer, &QTimer::timeout, this, &MenuContent::updateStatusLine);
    m_statusTimer->start();

    updateState();
    rebuildList();
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

    m_syncProgress = new QProgressBar(this);
    m_syncProgress->setObjectName(QStringLiteral("syncProgress"));
    m_syncProgress->setRange(0, 0);
    m_syncProgress->setTextVisible(false);
    m_syncProgress->setFixedSize(22, 8);
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

    auto *scroll = new QScrollArea(page);
    scroll->setObjectName(QStringLiteral("accountList"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumHeight(listHeight);
    m_list = new QWidget(scroll);
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(0);
    scroll->setWidget(m_list);
    layout->addWidget(scroll, 1);
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
    scheduleListRebuild();
}

void MenuContent::toggleExpanded(const QString &accountId)
{
    if (!m_expanded.remove(accountId)) {
        m_expanded.insert(accountId);
    }
    scheduleListRebuild();
}

void MenuContent::toggleSection(const QString &key)
{
    if (!m_collapsedSections.remove(key)) {
        m_collapsedSections.insert(key);
    }
    scheduleListRebuild();
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
    if (m_store->openConsole(account, role, service) && m_actions.dismiss) {
        m_actions.dismiss();
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

void MenuContent::scheduleListRebuild()
{
    // Rebuilding replaces the rows, and a row may be the one whose click or menu asked
    // for the change, so the rebuild waits until that event has been handled.
    if (m_rebuildPending) {
        return;
    }
    m_rebuildPending = true;
    QMetaObject::invokeMethod(this, &MenuContent::rebuildList, Qt::QueuedConnection);
}

void MenuContent::rebuildList()
{
    m_rebuildPending = false;
    while (QLayoutItem *item = m_listLayout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }

    const QList<AWSAccount> &accounts = m_store->accounts();
    const Organization &organization = m_store->organization();
    if (accounts.isEmpty()) {
        m_listLayout->addWidget(createSyncNowPlaceholder());
    } else if (!m_query.trimmed().isEmpty()) {
        const QSet<QString> pinned(organization.pinnedAccountIds.cbegin(),
                                   organization.pinnedAccountIds.cend());
        const auto results = searchAccounts(accounts, m_query, pinned, organization.accountGroups);
        if (results.isEmpty()) {
            auto *none = new QLabel(qtTrId("No matching accounts"), m_list);
            none->setObjectName(QStringLiteral("noResults"));
            none->setAlignment(Qt::AlignCenter);
            none->setForegroundRole(QPalette::PlaceholderText);
            m_listLayout->addWidget(none);
        }
        for (const AWSAccount &account : results) {
            m_listLayout->addWidget(createRow(account));
        }
    } else {
        for (const AccountSection &section : accountSections(accounts, organization)) {
            // An empty Pinned or Other section would only be noise; empty groups keep
            // their header so that they can be filled or deleted.
            if (section.accounts.isEmpty() && section.kind != AccountSection::Kind::group) {
                continue;
            }
            const bool isGroup = section.kind == AccountSection::Kind::group;
            m_listLayout->addWidget(
                createSectionHeader(section.key, section.title, isGroup, section.accounts.size()));
            if (m_collapsedSections.contains(section.key)) {
                continue;
            }
            if (isGroup && section.accounts.isEmpty()) {
                auto *hint = new QLabel(qtTrId("Right-click an account → Move to Group"), m_list);
                hint->setObjectName(QStringLiteral("emptyGroupHint"));
                hint->setContentsMargins(26, 2, 0, 4);
                hint->setForegroundRole(QPalette::PlaceholderText);
                m_listLayout->addWidget(hint);
            }
            for (const AWSAccount &account : section.accounts) {
                m_listLayout->addWidget(createRow(account));
            }
        }
    }
    m_listLayout->addStretch(1);
}

QWidget *MenuContent::createSyncNowPlaceholder()
{
    auto *box = new QWidget(m_list);
    box->setObjectName(QStringLiteral("emptyList"));
    auto *layout = new QVBoxLayout(box);
    if (m_store->syncing()) {
        auto *label = new QLabel(qtTrId("Syncing accounts…"), box);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
        return box;
    }
    auto *label = new QLabel(qtTrId("No accounts loaded yet."), box);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    auto *syncNow = new QPushButton(qtTrId("Sync Now"), box);
    syncNow->setObjectName(QStringLiteral("syncNowButton"));
    connect(syncNow, &QPushButton::clicked, m_store, [this] { startSync(m_store); });
    layout->addWidget(syncNow, 0, Qt::AlignCenter);
    return box;
}

QWidget *MenuContent::createSectionHeader(const QString &key, const QString &title, bool isGroup,
                                          qsizetype count)
{
    std::function<QMenu *(QWidget *)> menuFactory;
    if (isGroup) {
        menuFactory = [this, key](QWidget *parent) { return createSectionMenu(key, parent); };
    }
    auto *header = new SectionHeader(std::move(menuFactory), m_list);
    header->setObjectName(QStringLiteral("section:") + key);
    const bool folded = m_collapsedSections.contains(key);
    header->setIcon(symbolIcon(folded ? Symbol::folded : Symbol::unfolded));
    header->setIconSize(QSize(10, 10));
    header->setText(QStringLiteral("%1  %2").arg(title).arg(count));
    header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header->setAutoRaise(true);
    header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont font = header->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.9);
    header->setFont(font);
    connect(header, &QToolButton::clicked, this, [this, key] { toggleSection(key); });
    return header;
}

QWidget *MenuContent::createRow(const AWSAccount &account)
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
    return new AccountRow(m_store, account, m_expanded.contains(id), std::move(callbacks), m_list);
}

} // namespace tessera
