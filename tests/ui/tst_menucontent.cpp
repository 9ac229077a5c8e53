#include "support/testsupport.h"
#include "support/viewteststore.h"
#include "ui/accountlistmodel.h"
#include "ui/accountlistview.h"
#include "ui/accountrow.h"
#include "ui/menucontent.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using namespace tessera;
using namespace Qt::StringLiterals;

namespace {

QStringList words(const char *text, char separator = ' ')
{
    return QString::fromUtf8(text).split(QLatin1Char(separator));
}

QList<AWSAccount> demoAccounts()
{
    return {
        {u"111111111111"_s, u"Production"_s, {u"AdministratorAccess"_s, u"ReadOnly"_s}},
        {u"222222222222"_s, u"Development"_s, {u"PowerUser"_s}},
        {u"333333333333"_s, u"Sandbox"_s, {}},
        {u"444444444444"_s, u"Logging"_s, {u"ReadOnly"_s}},
    };
}

QString entryName(const QModelIndex &index)
{
    return index.data(AccountListModel::EntryNameRole).toString();
}

QAction *findAction(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text) {
            return action;
        }
        if (action->menu()) {
            if (QAction *inner = findAction(action->menu(), text)) {
                return inner;
            }
        }
    }
    return nullptr;
}

QStringList actionTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions()) {
        texts.append(action->isSeparator() ? u"-"_s : action->text());
    }
    return texts;
}

// A panel and everything it asked of its surroundings. With `signedIn`, over the demo
// accounts; with `persistent`, the organization is kept in a file, as the menus' changes
// need.
struct Harness
{
    explicit Harness(const Organization &organization = {}, bool persistent = false,
                     bool signedIn = true)
        : fixture(persistent ? std::optional(organizationFile()) : std::nullopt)
    {
        if (signedIn) {
            fixture.setSession(AccountStoreSession::signedIn());
            fixture.setAccounts(demoAccounts());
            fixture.setOrganization(organization);
        }
        fixture.store->defaults().setString(u"startUrl"_s, u"https://example.awsapps.com/start"_s);
        MenuContent::Actions actions;
        actions.dismiss = [this] { ++dismissed; };
        actions.quit = [this] { ++quitRequests; };
        actions.showQuickSearch = [this] { ++quickSearchRequests; };
        actions.copyToClipboard = [this](const QString &text) {
            if (clipboardWorks) {
                copied.append(text);
            }
            return clipboardWorks;
        };
        actions.openURL = [this](const QUrl &url) {
            links.append(url);
            return true;
        };
        panel = std::make_unique<MenuContent>(fixture.store.get(), std::move(actions));
    }
    static QString organizationFile()
    {
        static QTemporaryDir folder;
        static int files = 0;
        return folder.filePath(u"organization-%1.json"_s.arg(++files));
    }

    template<typename T> T *child(const char *name)
    {
        return panel->findChild<T *>(QLatin1String(name));
    }
    AccountListView *view() { return child<AccountListView>("accountList"); }
    QString page() { return panel->findChild<QStackedWidget *>()->currentWidget()->objectName(); }
    QList<QModelIndex> rows()
    {
        QList<QModelIndex> rows;
        for (QModelIndex index = view()->model()->index(0, 0); index.isValid();
             index = view()->indexBelow(index)) {
            rows.append(index);
        }
        return rows;
    }
    // The entries of the list as the view shows them, top to bottom, or the placeholder
    // shown instead of the list.
    QStringList entries()
    {
        QStringList names;
        for (const char *placeholder : {"emptyList", "noResults"}) {
            if (!child<QWidget>(placeholder)->isHidden()) {
                names.append(QLatin1String(placeholder));
            }
        }
        for (const QModelIndex &index : view()->isHidden() ? QList<QModelIndex>() : rows()) {
            names.append(entryName(index));
        }
        return names;
    }
    // The visible row named `name` ("account:<id>", "role:<name>", ...), under the row
    // named `under` when given.
    QModelIndex entry(const QString &name, const QString &under = {})
    {
        for (const QModelIndex &index : rows()) {
            if (entryName(index) == name &&
                (under.isEmpty() || entryName(index.parent()) == under)) {
                return index;
            }
        }
        return {};
    }
    bool show()
    {
        panel->show();
        return QTest::qWaitForWindowExposed(panel.get());
    }
    // Clicks the row the way the user does.
    bool click(const QString &name, const QString &under = {},
               Qt::MouseButton button = Qt::LeftButton)
    {
        const QModelIndex index = entry(name, under);
        if (!index.isValid() || !show()) {
            return false;
        }
        view()->scrollTo(index);
        const QPoint position = view()->visualRect(index).center();
        if (button == Qt::RightButton) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, position,
                                    view()->viewport()->mapToGlobal(position));
            QCoreApplication::sendEvent(view()->viewport(), &event);
        } else {
            QTest::mouseClick(view()->viewport(), button, {}, position);
        }
        return true;
    }
    QString sectionText(const QString &key)
    {
        const QModelIndex header = entry(u"section:"_s + key);
        return u"%1  %2"_s.arg(header.data().toString(),
                               header.data(AccountListModel::CountRole).toString());
    }
    std::unique_ptr<QMenu> accountMenu(const QString &id)
    {
        return std::unique_ptr<QMenu>(panel->accountRow(id)->createAccountMenu(nullptr));
    }

    test::ViewTestStore fixture;
    int dismissed = 0;
    int quitRequests = 0;
    int quickSearchRequests = 0;
    QStringList copied;
    QList<QUrl> links;
    bool clipboardWorks = true;
    std::unique_ptr<MenuContent> panel;
};

} // namespace

class TestMenuContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sessionStatesChooseWhatThePanelShows()
    {
        Harness h({}, false, false);
        auto *sync = h.child<QToolButton>("syncButton");
        QMenu *more = h.panel->moreActionsMenu();
        QCOMPARE(h.page(), u"signedOut"_s);
        QVERIFY(!sync->isEnabled());
        QVERIFY(!findAction(more, u"Sign Out"_s)->isVisible());

        // Signed out with a cached list: banner, search and list, still no sync.
        h.fixture.setAccounts(demoAccounts());
        QCOMPARE(h.page(), u"accountsPage"_s);
        QVERIFY(!h.child<QWidget>("signedOutBanner")->isHidden());
        QVERIFY(!sync->isEnabled());

        h.fixture.setSession(AccountStoreSession::signingIn(u"WXYZ-1234"_s));
        QCOMPARE(h.page(), u"signingIn"_s);
        QCOMPARE(h.child<QLabel>("userCode")->text(), u"WXYZ-1234"_s);
        QVERIFY(findAction(more, u"Sign Out"_s)->isVisible());
        const QUrl verification(u"https://device.sso.test/?user_code=WXYZ-1234"_s);
        h.fixture.setBrowserFallbackURL(verification);
        Q_EMIT h.child<QWidget>("deviceAuthorizationFallback")
            ->findChild<QLabel *>(u"verificationLink"_s)
            ->linkActivated(u"open"_s);
        QCOMPARE(h.links, QList<QUrl>{verification});

        h.fixture.setSession(AccountStoreSession::signedIn());
        QCOMPARE(h.page(), u"accountsPage"_s);
        QVERIFY(h.child<QWidget>("signedOutBanner")->isHidden());
        QVERIFY(sync->isEnabled());

        h.fixture.setSyncing(true);
        QVERIFY(sync->isHidden());
        QVERIFY(!h.child<QWidget>("syncProgress")->isHidden());

        findAction(more, u"Quit Tessera"_s)->trigger();
        QCOMPARE(h.quitRequests, 1);
        findAction(more, u"Quick Search"_s)->trigger();
        QCOMPARE(h.dismissed, 1);
        QCOMPARE(h.quickSearchRequests, 1);
    }

    void emptyListStatusLineAndErrorLine()
    {
        Harness h({}, false, false);
        auto *status = h.child<QLabel>("statusLine");
        auto *error = h.child<QLabel>("errorLine");
        QCOMPARE(status->text(), u"Never synced · 0 accounts"_s);
        QVERIFY(error->isHidden());

        // Signed in without accounts: an offer to sync, gone while syncing.
        h.fixture.setSession(AccountStoreSession::signedIn());
        QCOMPARE(h.entries(), QStringList{u"emptyList"_s});
        QVERIFY(!h.child<QPushButton>("syncNowButton")->isHidden());
        h.fixture.setSyncing(true);
        QVERIFY(h.child<QPushButton>("syncNowButton")->isHidden());
        h.fixture.setSyncing(false);

        const QDateTime now = h.fixture.clock->currentDateTime();
        h.fixture.setAccounts(demoAccounts());
        h.fixture.setLastSync(now.addSecs(-5 * 60));
        h.fixture.setHasRefreshToken(true);
        QCOMPARE(status->text(), u"Synced 5 minutes ago · 4 accounts · session auto-renews"_s);
        const QDateTime expiry = now.addSecs(3600);
        h.fixture.setHasRefreshToken(false);
        h.fixture.setTokenExpiresAt(expiry);
        QCOMPARE(status->text(), u"Synced 5 minutes ago · 4 accounts · session until "_s +
                                     expiry.toLocalTime().toString(u"HH:mm"_s));

        h.fixture.store->setErrorMessage(u"The access portal rejected it."_s);
        QVERIFY(!error->isHidden());
        QCOMPARE(error->text(), u"The access portal rejected it."_s);
        h.fixture.store->setErrorMessage(std::nullopt);
        QVERIFY(error->isHidden());
    }

    void sectionsOrderPinnedGroupsAndOther()
    {
        Organization organization;
        // A pin of an account that is no longer listed is skipped; a pinned account that
        // is also in a group shows only under Pinned.
        organization.pinnedAccountIds = {u"333333333333"_s, u"999999999999"_s};
        organization.groupNames = {u"Core"_s, u"Empty"_s};
        organization.accountGroups = {{u"333333333333"_s, u"Core"_s},
                                      {u"111111111111"_s, u"Core"_s}};
        Harness h(organization);

        QCOMPARE(h.entries(), words("section:pinned account:333333333333 section:Core "
                                    "account:111111111111 section:Empty emptyGroupHint "
                                    "section:other account:222222222222 account:444444444444"));
        QCOMPARE(h.sectionText(u"pinned"_s), u"Pinned  1"_s);
        QCOMPARE(h.sectionText(u"Core"_s), u"Core  1"_s);
        QCOMPARE(h.sectionText(u"Empty"_s), u"Empty  0"_s);
        QCOMPARE(h.sectionText(u"other"_s), u"Other  2"_s);
        const QModelIndex pinned = h.entry(u"account:333333333333"_s);
        QVERIFY(pinned.data(AccountListModel::PinnedRole).toBool());
        // What assistive technology reads for a row: the name, then the id.
        QCOMPARE(pinned.data(Qt::AccessibleTextRole).toString(), u"Sandbox"_s);
        QVERIFY(pinned.data(Qt::AccessibleDescriptionRole).toString().contains(u"333333333333"_s));
    }

    void foldingHidesRowsButKeepsHeaderAndCount()
    {
        Organization organization;
        organization.groupNames = {u"Empty"_s};
        Harness h(organization);

        QVERIFY(h.click(u"section:other"_s));
        QVERIFY(h.click(u"section:Empty"_s));
        QCOMPARE(h.entries(), words("section:Empty section:other"));
        QCOMPARE(h.sectionText(u"other"_s), u"Other  4"_s);

        QVERIFY(h.click(u"section:other"_s));
        QCOMPARE(h.entries().size(), 6);
        QCOMPARE(h.panel->collapsedSections(), QSet<QString>{u"Empty"_s});
    }

    void searchShowsOneFlatList()
    {
        Organization organization;
        organization.pinnedAccountIds = {u"444444444444"_s};
        Harness h(organization);
        auto *field = h.child<QLineEdit>("searchField");
        auto *clear = field->findChild<QAction *>(u"clearSearch"_s);
        QVERIFY(!clear->isVisible());

        QTest::keyClicks(field, u"readonly"_s);
        QVERIFY(clear->isVisible());
        QCOMPARE(h.entries().size(), 2);

        QTest::keyClicks(field, u" nothing-like-this"_s);
        QCOMPARE(h.entries(), QStringList{u"noResults"_s});

        // Blanks only: the sectioned list again.
        field->setText(u"   "_s);
        QVERIFY(h.entries().contains(u"section:other"_s));

        clear->trigger();
        QCOMPARE(h.panel->query(), QString());
    }

    void openAccountListsRolesAndOpensTheConsole()
    {
        Harness h;
        test::ViewTestStore &fixture = h.fixture;
        QVERIFY(h.click(u"account:111111111111"_s));
        QVERIFY(h.click(u"account:333333333333"_s));
        QVERIFY(h.entry(u"noRoles"_s, u"account:333333333333"_s).isValid());

        // A link that cannot be opened keeps the panel open and is offered to copy.
        const QString production = u"account:111111111111"_s;
        fixture.openerSucceeds = false;
        QVERIFY(h.click(u"role:ReadOnly"_s, production));
        QCOMPARE(h.dismissed, 0);
        auto *fallback = h.child<QWidget>("consoleLinkFallback");
        auto *errorLine = h.child<QLabel>("errorLine");
        QVERIFY(!fallback->isHidden() && !errorLine->isHidden());
        const QString unopened = fixture.openedURLs.constLast().toString();
        QCOMPARE(fallback->findChild<QLabel *>(u"verificationAddress"_s)->text(), unopened);
        fallback->findChild<QPushButton *>(u"copyLink"_s)->click();
        QCOMPARE(h.copied, QStringList{unopened});

        // The next successful click takes the complaint away.
        fixture.openerSucceeds = true;
        fixture.openedURLs.clear();
        QVERIFY(h.click(u"role:ReadOnly"_s, production));
        QCOMPARE(h.dismissed, 1);
        QVERIFY(fallback->isHidden() && errorLine->isHidden());
        QCOMPARE(fixture.openedURLs.size(), 1);
        const QString link = fixture.openedURLs.first().toString();
        QVERIFY2(link.startsWith(u"https://example.awsapps.com/start/#/console?"
                                 "account_id=111111111111&role_name=ReadOnly"_s),
                 qPrintable(link));

        // Left alone, the complaint goes after a while.
        fixture.openerSucceeds = false;
        QVERIFY(h.click(u"role:ReadOnly"_s, production));
        QVERIFY(!errorLine->isHidden());
        h.child<QTimer>("consoleErrorExpiry")->setInterval(1);
        QTRY_VERIFY(errorLine->isHidden() && !fixture.store->errorMessage());
    }

    void accountMenuOffersWhatFitsAndChangesTheOrganization()
    {
        Harness h({}, true);
        AccountStore &store = *h.fixture.store;
        store.createGroup(u"R&D"_s);
        const QString id = u"222222222222"_s;

        QCOMPARE(actionTexts(h.accountMenu(u"111111111111"_s).get()),
                 words("Pin to Top|Move to Group|Console Region|-|Copy Account ID", '|'));
        std::unique_ptr<QMenu> menu = h.accountMenu(id);
        QCOMPARE(
            actionTexts(menu.get()),
            words("Pin to Top|Move to Group|Open Service|Console Region|-|Copy Account ID", '|'));
        // A group's name is shown with its ampersand, not as a mnemonic.
        QCOMPARE(actionTexts(findAction(menu.get(), u"Move to Group"_s)->menu()),
                 words("R&&D|-|New Group…", '|'));
        findAction(menu.get(), u"Copy Account ID"_s)->trigger();
        QCOMPARE(h.copied, QStringList{id});
        h.clipboardWorks = false;
        findAction(menu.get(), u"Copy Account ID"_s)->trigger();
        QCOMPARE(store.errorMessageOrEmpty(), u"Could not copy to the clipboard."_s);

        findAction(menu.get(), u"Pin to Top"_s)->trigger();
        QCOMPARE(store.organization().pinnedAccountIds, QStringList{id});
        findAction(h.accountMenu(id).get(), u"R&&D"_s)->trigger();
        QCOMPARE(store.organization().accountGroups.value(id), u"R&D"_s);
        menu = h.accountMenu(id);
        QVERIFY(!findAction(menu.get(), u"R&&D"_s)->icon().isNull());
        findAction(menu.get(), u"Remove from Group"_s)->trigger();
        QVERIFY(!store.organization().accountGroups.contains(id));
        menu = h.accountMenu(id);
        for (QAction *region : findAction(menu.get(), u"Console Region"_s)->menu()->actions()) {
            if (region->data().toString() == QLatin1String("eu-west-1")) {
                region->trigger();
            }
        }
        QCOMPARE(store.consoleRegionForAccount(id), u"eu-west-1"_s);
    }

    void rightClickShowsTheRowsMenu_data()
    {
        QTest::addColumn<QString>("entryName");
        QTest::addColumn<QString>("firstAction");
        QTest::newRow("group header") << u"section:Core"_s << u"Delete Group"_s;
        QTest::newRow("role") << u"role:PowerUser"_s
                              << orderedConsoleServices({}, {}).constFirst().name;
        QTest::newRow("Other header") << u"section:other"_s << QString();
    }

    void rightClickShowsTheRowsMenu()
    {
        QFETCH(QString, entryName);
        QFETCH(QString, firstAction);
        Organization organization;
        organization.groupNames = {u"Core"_s};
        Harness h(organization);
        h.panel->toggleExpanded(u"222222222222"_s);

        QVERIFY(h.click(entryName, {}, Qt::RightButton));
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QCOMPARE(menu ? menu->actions().first()->text() : QString(), firstAction);
        if (menu) {
            menu->close();
        }
    }

    void aPinMovesOneRowAndASyncResetsOnce()
    {
        Harness h;
        AccountStore &store = *h.fixture.store;
        store.togglePinnedAccount(u"444444444444"_s);
        const QString id = u"222222222222"_s;
        h.panel->toggleExpanded(id);
        QAbstractItemModel *model = h.view()->model();
        QSignalSpy moves(model, &QAbstractItemModel::rowsMoved);
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);

        store.togglePinnedAccount(id);
        QCOMPARE(moves.size(), 1);
        QCOMPARE(resets.size(), 0);
        QCOMPARE(h.entries().mid(0, 5), words("section:pinned account:444444444444 "
                                              "account:222222222222 role:PowerUser section:other"));

        QList<AWSAccount> synced = demoAccounts();
        synced.removeLast();
        h.fixture.setAccounts(synced);
        QCOMPARE(resets.size(), 1);
        // Folding outlives the reset.
        QVERIFY(h.entries().contains(u"role:PowerUser"_s));
    }

    void keyboardMovesThroughRowsAndActs()
    {
        Harness h;
        QVERIFY(h.show());
        h.panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.panel.get()));
        auto *field = h.child<QLineEdit>("searchField");
        AccountListView *view = h.view();
        QCOMPARE(QApplication::focusWidget(), field);
        const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
        const auto current = [view] { return entryName(view->currentIndex()); };

        press(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), view);
        QCOMPARE(current(), u"section:other"_s);
        press(Qt::Key_Down);
        QCOMPARE(current(), u"account:111111111111"_s);
        press(Qt::Key_Right);
        QCOMPARE(h.panel->expanded(), QSet<QString>{u"111111111111"_s});
        press(Qt::Key_Right);
        QCOMPARE(current(), u"role:AdministratorAccess"_s);
        press(Qt::Key_Left);
        QCOMPARE(current(), u"account:111111111111"_s);
        press(Qt::Key_Left);
        QVERIFY(h.panel->expanded().isEmpty());
        // Return on an account with one role opens its console.
        press(Qt::Key_Down);
        press(Qt::Key_Return);
        QCOMPARE(h.dismissed, 1);
        QVERIFY(h.fixture.openedURLs.last().toString().contains(
            u"account_id=222222222222&role_name=PowerUser"_s));
        press(Qt::Key_Up);
        press(Qt::Key_Up);
        press(Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), field);

        // Typing in the list goes to the search; Return opens the first result.
        view->setFocus();
        QTest::keyClicks(view, u"logg"_s);
        QCOMPARE(field->text(), u"logg"_s);
        press(Qt::Key_Return);
        QVERIFY(h.fixture.openedURLs.last().toString().contains(u"account_id=444444444444"_s));
        press(Qt::Key_Escape);
        QCOMPARE(h.panel->query(), QString());
        QCOMPARE(h.dismissed, 2);
        press(Qt::Key_Escape);
        QCOMPARE(h.dismissed, 3);
    }

    void newGroupSheetCreatesAndMovesOrCancels()
    {
        Harness h({}, true);
        const Organization &organization = h.fixture.store->organization();
        const QString id = u"444444444444"_s;
        auto *name = h.child<QLineEdit>("newGroupName");
        const auto submit = [&](const QString &typed, const char *button) {
            QTest::keyClicks(name, typed);
            h.child<QPushButton>(button)->click();
            QCOMPARE(h.page(), u"accountsPage"_s);
            QVERIFY(!h.panel->newGroupAccountId());
            QCOMPARE(name->text(), QString());
        };

        findAction(h.accountMenu(id).get(), u"New Group…"_s)->trigger();
        QCOMPARE(h.page(), u"newGroupSheet"_s);
        QCOMPARE(h.panel->newGroupAccountId(), std::optional<QString>(id));
        submit(u"Scratch"_s, "cancelNewGroup");
        QVERIFY(organization.groupNames.isEmpty());

        h.panel->requestNewGroup(id);
        submit(u"  Audit  "_s, "createNewGroup");
        QCOMPARE(organization.groupNames, QStringList{u"Audit"_s});
        QCOMPARE(organization.accountGroups.value(id), u"Audit"_s);
        QCOMPARE(h.entries().mid(0, 2), words("section:Audit account:444444444444"));

        // A blank name creates nothing and moves nothing, but still closes the sheet.
        h.panel->requestNewGroup(u"111111111111"_s);
        submit(u"   "_s, "createNewGroup");
        QCOMPARE(organization.groupNames, QStringList{u"Audit"_s});
        QVERIFY(!organization.accountGroups.contains(u"111111111111"_s));
    }
};

QTEST_MAIN(TestMenuContent)
#include "tst_menucontent.moc"
