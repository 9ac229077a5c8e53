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

namespace {

QStringList strings(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items) {
        list.append(QString::fromUtf8(item));
    }
    return list;
}

QList<AWSAccount> demoAccounts()
{
    return {
        {QStringLiteral("111111111111"),
         QStringLiteral("Production"),
         {QStringLiteral("AdministratorAccess"), QStringLiteral("ReadOnly")}},
        {QStringLiteral("222222222222"),
         QStringLiteral("Development"),
         {QStringLiteral("PowerUser")}},
        {QStringLiteral("333333333333"), QStringLiteral("Sandbox"), {}},
        {QStringLiteral("444444444444"), QStringLiteral("Logging"), {QStringLiteral("ReadOnly")}},
    };
}

// Everything the panel asked of its surroundings.
struct Recorder
{
    int dismissed = 0;
    int quitRequests = 0;
    int quickSearchRequests = 0;
    QStringList copied;
    QList<QUrl> links;
    bool clipboardWorks = true;
};

std::unique_ptr<MenuContent> makePanel(AccountStore &store, Recorder &recorder)
{
    MenuContent::Actions actions;
    actions.dismiss = [&recorder] { ++recorder.dismissed; };
    actions.quit = [&recorder] { ++recorder.quitRequests; };
    actions.showQuickSearch = [&recorder] { ++recorder.quickSearchRequests; };
    actions.copyToClipboard = [&recorder](const QString &text) {
        if (recorder.clipboardWorks) {
            recorder.copied.append(text);
        }
        return recorder.clipboardWorks;
    };
    actions.openURL = [&recorder](const QUrl &url) {
        recorder.links.append(url);
        return true;
    };
    return std::make_unique<MenuContent>(&store, std::move(actions));
}

// A signed-in panel over the demo accounts, with what it asked of its surroundings; with
// `persistent`, the organization is kept in a file, as the menus' changes need.
struct Harness
{
    explicit Harness(const Organization &organization = {}, bool persistent = false)
        : fixture(persistent ? std::optional(organizationFile()) : std::nullopt)
    {
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setAccounts(demoAccounts());
        fixture.setOrganization(organization);
        fixture.store->defaults().setString(QStringLiteral("startUrl"),
                                            QStringLiteral("https://example.awsapps.com/start"));
        panel = makePanel(*fixture.store, recorder);
    }
    static QString organizationFile()
    {
        static QTemporaryDir folder;
        static int files = 0;
        return folder.filePath(QStringLiteral("organization-%1.json").arg(++files));
    }

    test::ViewTestStore fixture;
    Recorder recorder;
    std::unique_ptr<MenuContent> panel;
};

AccountListView *listView(MenuContent &panel)
{
    return panel.findChild<AccountListView *>(QStringLiteral("accountList"));
}

QString entryName(const QModelIndex &index)
{
    return index.data(AccountListModel::EntryNameRole).toString();
}

// The entries of the list as the view shows them, top to bottom, or the placeholder
// shown instead of the list.
QStringList listEntries(MenuContent &panel)
{
    QStringList names;
    for (const char *placeholder : {"emptyList", "noResults"}) {
        auto *widget = panel.findChild<QWidget *>(QLatin1String(placeholder));
        if (!widget->isHidden()) {
            names.append(widget->objectName());
        }
    }
    AccountListView *view = listView(panel);
    if (view->isHidden()) {
        return names;
    }
    for (QModelIndex index = view->model()->index(0, 0); index.isValid();
         index = view->indexBelow(index)) {
        names.append(entryName(index));
    }
    return names;
}

// The visible row named `name` ("account:<id>", "role:<name>", ...), under the row named
// `under` when given.
QModelIndex entry(MenuContent &panel, const QString &name, const QString &under = {})
{
    AccountListView *view = listView(panel);
    for (QModelIndex index = view->model()->index(0, 0); index.isValid();
         index = view->indexBelow(index)) {
        if (entryName(index) == name && (under.isEmpty() || entryName(index.parent()) == under)) {
            return index;
        }
    }
    return {};
}

bool showPanel(MenuContent &panel)
{
    if (panel.isVisible()) {
        return true;
    }
    panel.show();
    return QTest::qWaitForWindowExposed(&panel);
}

// Clicks the row the way the user does.
bool clickEntry(MenuContent &panel, const QString &name, const QString &under = {},
                Qt::MouseButton button = Qt::LeftButton)
{
    const QModelIndex index = entry(panel, name, under);
    if (!index.isValid() || !showPanel(panel)) {
        return false;
    }
    AccountListView *view = listView(panel);
    view->scrollTo(index);
    const QPoint position = view->visualRect(index).center();
    if (button == Qt::RightButton) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, position,
                                view->viewport()->mapToGlobal(position));
        QCoreApplication::sendEvent(view->viewport(), &event);
    } else {
        QTest::mouseClick(view->viewport(), button, {}, position);
    }
    return true;
}

QString sectionText(MenuContent &panel, const QString &key)
{
    const QModelIndex header = entry(panel, QStringLiteral("section:") + key);
    return QStringLiteral("%1  %2").arg(header.data().toString(),
                                        header.data(AccountListModel::CountRole).toString());
}

QString currentPage(MenuContent &panel)
{
    return panel.findChild<QStackedWidget *>()->currentWidget()->objectName();
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
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

} // namespace

class TestMenuContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sessionStatesChooseWhatThePanelShows()
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        Recorder recorder;
        auto panel = makePanel(store, recorder);
        auto *sync = panel->findChild<QToolButton *>(QStringLiteral("syncButton"));

        QCOMPARE(currentPage(*panel), QStringLiteral("signedOut"));
        QVERIFY(!sync->isEnabled());

        // Signed out with a cached list: banner, search and list, still no sync.
        fixture.setAccounts(demoAccounts());
        QCOMPARE(currentPage(*panel), QStringLiteral("accountsPage"));
        QVERIFY(!panel->findChild<QWidget *>(QStringLiteral("signedOutBanner"))->isHidden());
        QVERIFY(!sync->isEnabled());

        fixture.setSession(AccountStoreSession::signingIn(QStringLiteral("WXYZ-1234")));
        QCOMPARE(currentPage(*panel), QStringLiteral("signingIn"));
        QCOMPARE(panel->findChild<QLabel *>(QStringLiteral("userCode"))->text(),
                 QStringLiteral("WXYZ-1234"));
        const QUrl verification(QStringLiteral("https://device.sso.test/?user_code=WXYZ-1234"));
        fixture.setBrowserFallbackURL(verification);
        Q_EMIT panel->findChild<QWidget *>(QStringLiteral("deviceAuthorizationFallback"))
            ->findChild<QLabel *>(QStringLiteral("verificationLink"))
            ->linkActivated(QStringLiteral("open"));
        QCOMPARE(recorder.links, QList<QUrl>{verification});

        fixture.setSession(AccountStoreSession::signedIn());
        QCOMPARE(currentPage(*panel), QStringLiteral("accountsPage"));
        QVERIFY(panel->findChild<QWidget *>(QStringLiteral("signedOutBanner"))->isHidden());
        QVERIFY(sync->isEnabled());

        fixture.setSyncing(true);
        QVERIFY(sync->isHidden());
        QVERIFY(!panel->findChild<QWidget *>(QStringLiteral("syncProgress"))->isHidden());
    }

    void emptyListOffersSyncOrSaysItIsSyncing()
    {
        test::ViewTestStore fixture;
        fixture.setSession(AccountStoreSession::signedIn());
        Recorder recorder;
        auto panel = makePanel(*fixture.store, recorder);
        QCOMPARE(listEntries(*panel), QStringList{QStringLiteral("emptyList")});
        QVERIFY(panel->findChild<QPushButton *>(QStringLiteral("syncNowButton")));

        fixture.setSyncing(true);
        QVERIFY(panel->findChild<QPushButton *>(QStringLiteral("syncNowButton"))->isHidden());
    }

    void statusLineAndErrorLine()
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        Recorder recorder;
        auto panel = makePanel(store, recorder);
        auto *status = panel->findChild<QLabel *>(QStringLiteral("statusLine"));
        auto *error = panel->findChild<QLabel *>(QStringLiteral("errorLine"));

        QCOMPARE(status->text(), QStringLiteral("Never synced · 0 accounts"));
        QVERIFY(error->isHidden());

        const QDateTime now = fixture.clock->currentDateTime();
        fixture.setAccounts(demoAccounts());
        fixture.setLastSync(now.addSecs(-5 * 60));
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setHasRefreshToken(true);
        QCOMPARE(status->text(),
                 QStringLiteral("Synced 5 minutes ago · 4 accounts · session auto-renews"));

        const QDateTime expiry = now.addSecs(3600);
        fixture.setHasRefreshToken(false);
        fixture.setTokenExpiresAt(expiry);
        QCOMPARE(status->text(),
                 QStringLiteral("Synced 5 minutes ago · 4 accounts · session until ") +
                     expiry.toLocalTime().toString(QStringLiteral("HH:mm")));

        store.setErrorMessage(QStringLiteral("The access portal rejected the request."));
        QVERIFY(!error->isHidden());
        QCOMPARE(error->text(), QStringLiteral("The access portal rejected the request."));
        store.setErrorMessage(std::nullopt);
        QVERIFY(error->isHidden());
    }

    void sectionsOrderPinnedGroupsAndOther()
    {
        Organization organization;
        // A pin of an account that is no longer listed is skipped; a pinned account that
        // is also in a group shows only under Pinned.
        organization.pinnedAccountIds = {QStringLiteral("333333333333"),
                                         QStringLiteral("999999999999")};
        organization.groupNames = {QStringLiteral("Core"), QStringLiteral("Empty")};
        organization.accountGroups = {{QStringLiteral("333333333333"), QStringLiteral("Core")},
                                      {QStringLiteral("111111111111"), QStringLiteral("Core")}};
        Harness h(organization);
        auto &[fixture, recorder, panel] = h;

        QCOMPARE(listEntries(*panel),
                 (strings({"section:pinned", "account:333333333333", "section:Core",
                           "account:111111111111", "section:Empty", "emptyGroupHint",
                           "section:other", "account:222222222222", "account:444444444444"})));
        QCOMPARE(sectionText(*panel, QStringLiteral("pinned")), QStringLiteral("Pinned  1"));
        QCOMPARE(sectionText(*panel, QStringLiteral("Core")), QStringLiteral("Core  1"));
        QCOMPARE(sectionText(*panel, QStringLiteral("Empty")), QStringLiteral("Empty  0"));
        QCOMPARE(sectionText(*panel, QStringLiteral("other")), QStringLiteral("Other  2"));
        const QModelIndex pinned = entry(*panel, QStringLiteral("account:333333333333"));
        QVERIFY(pinned.data(AccountListModel::PinnedRole).toBool());
        // What assistive technology reads for a row: the name, then the id.
        QCOMPARE(pinned.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Sandbox"));
        QVERIFY(pinned.data(Qt::AccessibleDescriptionRole)
                    .toString()
                    .contains(QStringLiteral("333333333333")));
    }

    void foldingHidesRowsButKeepsHeaderAndCount()
    {
        Organization organization;
        organization.groupNames = {QStringLiteral("Empty")};
        Harness h(organization);
        auto &[fixture, recorder, panel] = h;

        QVERIFY(clickEntry(*panel, QStringLiteral("section:other")));
        QVERIFY(clickEntry(*panel, QStringLiteral("section:Empty")));
        QCOMPARE(listEntries(*panel), (strings({"section:Empty", "section:other"})));
        QCOMPARE(sectionText(*panel, QStringLiteral("other")), QStringLiteral("Other  4"));

        QVERIFY(clickEntry(*panel, QStringLiteral("section:other")));
        QCOMPARE(listEntries(*panel).size(), 6);
        QCOMPARE(panel->collapsedSections(), QSet<QString>{QStringLiteral("Empty")});
    }

    void searchShowsOneFlatList()
    {
        Organization organization;
        organization.pinnedAccountIds = {QStringLiteral("444444444444")};
        Harness h(organization);
        auto &[fixture, recorder, panel] = h;
        auto *field = panel->findChild<QLineEdit *>(QStringLiteral("searchField"));
        auto *clear = field->findChild<QAction *>(QStringLiteral("clearSearch"));
        QVERIFY(!clear->isVisible());

        QTest::keyClicks(field, QStringLiteral("readonly"));
        QVERIFY(clear->isVisible());
        QCOMPARE(listEntries(*panel).size(), 2);

        QTest::keyClicks(field, QStringLiteral(" nothing-like-this"));
        QCOMPARE(listEntries(*panel), QStringList{QStringLiteral("noResults")});

        // Blanks only: the sectioned list again.
        field->setText(QStringLiteral("   "));
        QVERIFY(listEntries(*panel).contains(QStringLiteral("section:other")));

        clear->trigger();
        QCOMPARE(panel->query(), QString());
    }

    void openAccountListsRolesAndOpensTheConsole()
    {
        Harness h;
        auto &[fixture, recorder, panel] = h;
        AccountStore &store = *fixture.store;

        QVERIFY(clickEntry(*panel, QStringLiteral("account:111111111111")));
        QVERIFY(clickEntry(*panel, QStringLiteral("account:333333333333")));
        QVERIFY(entry(*panel, QStringLiteral("noRoles"), QStringLiteral("account:333333333333"))
                    .isValid());

        // A link that cannot be opened keeps the panel open and is offered to copy.
        const QString production = QStringLiteral("account:111111111111");
        fixture.openerSucceeds = false;
        QVERIFY(clickEntry(*panel, QStringLiteral("role:ReadOnly"), production));
        QCOMPARE(recorder.dismissed, 0);
        auto *fallback = panel->findChild<QWidget *>(QStringLiteral("consoleLinkFallback"));
        auto *errorLine = panel->findChild<QLabel *>(QStringLiteral("errorLine"));
        QVERIFY(!fallback->isHidden() && !errorLine->isHidden());
        const QString unopened = fixture.openedURLs.constLast().toString();
        QCOMPARE(fallback->findChild<QLabel *>(QStringLiteral("verificationAddress"))->text(),
                 unopened);
        fallback->findChild<QPushButton *>(QStringLiteral("copyLink"))->click();
        QCOMPARE(recorder.copied, QStringList{unopened});

        // The next successful click takes the complaint away.
        fixture.openerSucceeds = true;
        fixture.openedURLs.clear();
        QVERIFY(clickEntry(*panel, QStringLiteral("role:ReadOnly"), production));
        QCOMPARE(recorder.dismissed, 1);
        QVERIFY(fallback->isHidden() && errorLine->isHidden());
        QCOMPARE(fixture.openedURLs.size(), 1);
        const QString link = fixture.openedURLs.first().toString();
        QVERIFY2(link.startsWith(QStringLiteral("https://example.awsapps.com/start/#/console?"
                                                "account_id=111111111111&role_name=ReadOnly")),
                 qPrintable(link));

        // Left alone, the complaint goes after a while.
        fixture.openerSucceeds = false;
        QVERIFY(clickEntry(*panel, QStringLiteral("role:ReadOnly"), production));
        QVERIFY(!errorLine->isHidden());
        panel->findChild<QTimer *>(QStringLiteral("consoleErrorExpiry"))->setInterval(1);
        QTRY_VERIFY(errorLine->isHidden() && !store.errorMessage());
    }

    void accountMenuOffersWhatFitsAndChangesTheOrganization()
    {
        Harness h({}, true);
        auto &[fixture, recorder, panel] = h;
        AccountStore &store = *fixture.store;
        store.createGroup(QStringLiteral("R&D"));
        const QString id = QStringLiteral("222222222222");
        const auto menuOf = [&panel](const QString &account) {
            return std::unique_ptr<QMenu>(panel->accountRow(account)->createAccountMenu(nullptr));
        };

        QCOMPARE(
            actionTexts(menuOf(QStringLiteral("111111111111")).get()),
            (strings({"Pin to Top", "Move to Group", "Console Region", "-", "Copy Account ID"})));
        std::unique_ptr<QMenu> menu = menuOf(id);
        QCOMPARE(actionTexts(menu.get()), (strings({"Pin to Top", "Move to Group", "Open Service",
                                                    "Console Region", "-", "Copy Account ID"})));
        // A group's name is shown with its ampersand, not as a mnemonic.
        QCOMPARE(actionTexts(findAction(menu.get(), QStringLiteral("Move to Group"))->menu()),
                 (strings({"R&&D", "-", "New Group…"})));
        findAction(menu.get(), QStringLiteral("Copy Account ID"))->trigger();
        QCOMPARE(recorder.copied, QStringList{id});
        recorder.clipboardWorks = false;
        findAction(menu.get(), QStringLiteral("Copy Account ID"))->trigger();
        QCOMPARE(store.errorMessageOrEmpty(), QStringLiteral("Could not copy to the clipboard."));

        findAction(menu.get(), QStringLiteral("Pin to Top"))->trigger();
        QCOMPARE(store.organization().pinnedAccountIds, QStringList{id});
        findAction(menuOf(id).get(), QStringLiteral("R&&D"))->trigger();
        QCOMPARE(store.organization().accountGroups.value(id), QStringLiteral("R&D"));
        menu = menuOf(id);
        QVERIFY(!findAction(menu.get(), QStringLiteral("R&&D"))->icon().isNull());
        findAction(menu.get(), QStringLiteral("Remove from Group"))->trigger();
        QVERIFY(!store.organization().accountGroups.contains(id));
        menu = menuOf(id);
        for (QAction *region :
             findAction(menu.get(), QStringLiteral("Console Region"))->menu()->actions()) {
            if (region->data().toString() == QLatin1String("eu-west-1")) {
                region->trigger();
            }
        }
        QCOMPARE(store.consoleRegionForAccount(id), QStringLiteral("eu-west-1"));
    }

    void rightClickShowsTheRowsMenu_data()
    {
        QTest::addColumn<QString>("entryName");
        QTest::addColumn<QString>("firstAction");
        QTest::newRow("group header")
            << QStringLiteral("section:Core") << QStringLiteral("Delete Group");
        QTest::newRow("account") << QStringLiteral("account:222222222222")
                                 << QStringLiteral("Pin to Top");
        QTest::newRow("role") << QStringLiteral("role:PowerUser")
                              << orderedConsoleServices({}, {}).constFirst().name;
        QTest::newRow("Other header") << QStringLiteral("section:other") << QString();
    }

    void rightClickShowsTheRowsMenu()
    {
        QFETCH(QString, entryName);
        QFETCH(QString, firstAction);
        Organization organization;
        organization.groupNames = {QStringLiteral("Core")};
        Harness h(organization);
        auto &[fixture, recorder, panel] = h;
        panel->toggleExpanded(QStringLiteral("222222222222"));

        QVERIFY(clickEntry(*panel, entryName, {}, Qt::RightButton));
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QCOMPARE(menu ? menu->actions().first()->text() : QString(), firstAction);
        if (menu) {
            menu->close();
        }
    }

    void aPinMovesOneRowAndASyncResetsOnce()
    {
        Harness h;
        auto &[fixture, recorder, panel] = h;
        AccountStore &store = *fixture.store;
        store.togglePinnedAccount(QStringLiteral("444444444444"));
        const QString id = QStringLiteral("222222222222");
        panel->toggleExpanded(id);
        QAbstractItemModel *model = listView(*panel)->model();
        QSignalSpy moves(model, &QAbstractItemModel::rowsMoved);
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);

        store.togglePinnedAccount(id);
        QCOMPARE(moves.size(), 1);
        QCOMPARE(resets.size(), 0);
        QCOMPARE(listEntries(*panel).mid(0, 5),
                 (strings({"section:pinned", "account:444444444444", "account:222222222222",
                           "role:PowerUser", "section:other"})));

        QList<AWSAccount> synced = demoAccounts();
        synced.removeLast();
        fixture.setAccounts(synced);
        QCOMPARE(resets.size(), 1);
        // Folding outlives the reset.
        QVERIFY(listEntries(*panel).contains(QStringLiteral("role:PowerUser")));
    }

    void keyboardMovesThroughRowsAndActs()
    {
        Harness h;
        auto &[fixture, recorder, panel] = h;
        QVERIFY(showPanel(*panel));
        panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(panel.get()));
        auto *field = panel->findChild<QLineEdit *>(QStringLiteral("searchField"));
        AccountListView *view = listView(*panel);
        QCOMPARE(QApplication::focusWidget(), field);
        const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
        const auto current = [view] { return entryName(view->currentIndex()); };

        press(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), view);
        QCOMPARE(current(), QStringLiteral("section:other"));
        press(Qt::Key_Down);
        QCOMPARE(current(), QStringLiteral("account:111111111111"));
        press(Qt::Key_Right);
        QCOMPARE(panel->expanded(), QSet<QString>{QStringLiteral("111111111111")});
        press(Qt::Key_Right);
        QCOMPARE(current(), QStringLiteral("role:AdministratorAccess"));
        press(Qt::Key_Left);
        QCOMPARE(current(), QStringLiteral("account:111111111111"));
        press(Qt::Key_Left);
        QVERIFY(panel->expanded().isEmpty());
        // Return on an account with one role opens its console.
        press(Qt::Key_Down);
        press(Qt::Key_Return);
        QCOMPARE(recorder.dismissed, 1);
        QVERIFY(fixture.openedURLs.last().toString().contains(
            QStringLiteral("account_id=222222222222&role_name=PowerUser")));
        press(Qt::Key_Up);
        press(Qt::Key_Up);
        press(Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), field);

        // Typing in the list goes to the search; Return opens the first result.
        view->setFocus();
        QTest::keyClicks(view, QStringLiteral("logg"));
        QCOMPARE(field->text(), QStringLiteral("logg"));
        press(Qt::Key_Return);
        QVERIFY(fixture.openedURLs.last().toString().contains(
            QStringLiteral("account_id=444444444444")));
        press(Qt::Key_Escape);
        QCOMPARE(panel->query(), QString());
        QCOMPARE(recorder.dismissed, 2);
        press(Qt::Key_Escape);
        QCOMPARE(recorder.dismissed, 3);
    }

    void newGroupSheetCreatesAndMovesOrCancels()
    {
        Harness h({}, true);
        auto &[fixture, recorder, panel] = h;
        AccountStore &store = *fixture.store;
        const QString id = QStringLiteral("444444444444");
        auto *name = panel->findChild<QLineEdit *>(QStringLiteral("newGroupName"));

        std::unique_ptr<QMenu> menu(panel->accountRow(id)->createAccountMenu(nullptr));
        findAction(menu.get(), QStringLiteral("New Group…"))->trigger();
        QCOMPARE(currentPage(*panel), QStringLiteral("newGroupSheet"));
        QCOMPARE(panel->newGroupAccountId(), std::optional<QString>(id));
        QTest::keyClicks(name, QStringLiteral("Scratch"));
        panel->findChild<QPushButton *>(QStringLiteral("cancelNewGroup"))->click();
        QCOMPARE(currentPage(*panel), QStringLiteral("accountsPage"));
        QVERIFY(!panel->newGroupAccountId());
        QCOMPARE(name->text(), QString());
        QVERIFY(store.organization().groupNames.isEmpty());

        panel->requestNewGroup(id);
        QTest::keyClicks(name, QStringLiteral("  Audit  "));
        panel->findChild<QPushButton *>(QStringLiteral("createNewGroup"))->click();
        QCOMPARE(store.organization().groupNames, QStringList{QStringLiteral("Audit")});
        QCOMPARE(store.organization().accountGroups.value(id), QStringLiteral("Audit"));
        QCOMPARE(currentPage(*panel), QStringLiteral("accountsPage"));
        QCOMPARE(name->text(), QString());
        QCOMPARE(listEntries(*panel).mid(0, 2),
                 (strings({"section:Audit", "account:444444444444"})));

        // A blank name creates nothing and moves nothing, but still closes the sheet.
        panel->requestNewGroup(QStringLiteral("111111111111"));
        QTest::keyClicks(name, QStringLiteral("   "));
        panel->findChild<QPushButton *>(QStringLiteral("createNewGroup"))->click();
        QCOMPARE(store.organization().groupNames, QStringList{QStringLiteral("Audit")});
        QVERIFY(!store.organization().accountGroups.contains(QStringLiteral("111111111111")));
        QVERIFY(!panel->newGroupAccountId());
    }

    void moreActionsMenu()
    {
        test::ViewTestStore fixture;
        Recorder recorder;
        auto panel = makePanel(*fixture.store, recorder);
        QMenu *more = panel->moreActionsMenu();
        QVERIFY(!findAction(more, QStringLiteral("Sign Out"))->isVisible());
        fixture.setSession(AccountStoreSession::signingIn(QStringLiteral("A")));
        QVERIFY(findAction(more, QStringLiteral("Sign Out"))->isVisible());
        findAction(more, QStringLiteral("Quit Tessera"))->trigger();
        QCOMPARE(recorder.quitRequests, 1);
        findAction(more, QStringLiteral("Quick Search"))->trigger();
        QCOMPARE(recorder.dismissed, 1);
        QCOMPARE(recorder.quickSearchRequests, 1);
    }
};

QTEST_MAIN(TestMenuContent)
#include "tst_menucontent.moc"
