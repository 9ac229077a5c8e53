#include "support/testsupport.h"
#include "support/viewteststore.h"
#include "ui/accountlistmodel.h"
#include "ui/accountlistview.h"
#include "ui/accountrow.h"
#include "ui/menucontent.h"
#include "ui/relativetime.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
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

std::optional<AccountRow> row(MenuContent &panel, const QString &accountId)
{
    return panel.accountRow(accountId);
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
        auto *fallback = panel->findChild<QWidget *>(QStringLiteral("deviceAuthorizationFallback"));
        QVERIFY(fallback->isHidden());
        const QUrl verification(QStringLiteral("https://device.sso.us-west-1.amazonaws.com/"
                                               "?user_code=WXYZ-1234"));
        fixture.setBrowserFallbackURL(verification);
        QVERIFY(!fallback->isHidden());
        QCOMPARE(fallback->findChild<QLabel *>(QStringLiteral("verificationAddress"))->text(),
                 verification.toString());
        Q_EMIT fallback->findChild<QLabel *>(QStringLiteral("verificationLink"))
            ->linkActivated(QStringLiteral("open"));
        QCOMPARE(recorder.links, QList<QUrl>{verification});

        fixture.setSession(AccountStoreSession::signedIn());
        QCOMPARE(currentPage(*panel), QStringLiteral("accountsPage"));
        QVERIFY(panel->findChild<QWidget *>(QStringLiteral("signedOutBanner"))->isHidden());
        QVERIFY(sync->isEnabled());

        fixture.setSyncing(true);
        QVERIFY(sync->isHidden());
        QVERIFY(!panel->findChild<QProgressBar *>(QStringLiteral("syncProgress"))->isHidden());
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
        const auto labels =
            panel->findChild<QWidget *>(QStringLiteral("emptyList"))->findChildren<QLabel *>();
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first()->text(), QStringLiteral("Syncing accounts…"));
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

        // The expiry only matters while signed in.
        fixture.setSession(AccountStoreSession::signedOut());
        QCOMPARE(status->text(), QStringLiteral("Synced 5 minutes ago · 4 accounts"));

        store.setErrorMessage(QStringLiteral("The access portal rejected the request."));
        QVERIFY(!error->isHidden());
        QCOMPARE(error->text(), QStringLiteral("The access portal rejected the request."));
        store.setErrorMessage(std::nullopt);
        QVERIFY(error->isHidden());
    }

    void relativeTimes_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("text");
        QTest::newRow("seconds") << qint64(20) << QStringLiteral("just now");
        QTest::newRow("clock set back") << qint64(-300) << QStringLiteral("just now");
        QTest::newRow("one minute") << qint64(61) << QStringLiteral("1 minute ago");
        QTest::newRow("hours") << qint64(3 * 3600 + 59) << QStringLiteral("3 hours ago");
        QTest::newRow("one day") << qint64(86400) << QStringLiteral("1 day ago");
        QTest::newRow("weeks") << qint64(15 * 86400) << QStringLiteral("2 weeks ago");
    }

    void relativeTimes()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, text);
        const QDateTime now(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
        QCOMPARE(relativeTimeText(now.addSecs(-secondsAgo), now), text);
    }

    void sectionsOrderPinnedGroupsAndOther()
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setAccounts(demoAccounts());
        Organization organization;
        // A pin of an account that is no longer listed is skipped; a pinned account that
        // is also in a group shows only under Pinned.
        organization.pinnedAccountIds = {QStringLiteral("333333333333"),
                                         QStringLiteral("999999999999")};
        organization.groupNames = {QStringLiteral("Core"), QStringLiteral("Empty")};
        organization.accountGroups = {{QStringLiteral("333333333333"), QStringLiteral("Core")},
                                      {QStringLiteral("111111111111"), QStringLiteral("Core")}};
        fixture.setOrganization(organization);
        Recorder recorder;
        auto panel = makePanel(store, recorder);

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
        QVERIFY(!entry(*panel, QStringLiteral("account:111111111111"))
                     .data(AccountListModel::PinnedRole)
                     .toBool());
        // What assistive technology reads for a row: the name, then the id.
        QCOMPARE(pinned.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Sandbox"));
        QVERIFY(pinned.data(Qt::AccessibleDescriptionRole)
                    .toString()
                    .contains(QStringLiteral("333333333333")));
    }

    void foldingHidesRowsButKeepsHeaderAndCount()
    {
        test::ViewTestStore fixture;
        fixture.setAccounts(demoAccounts());
        Organization organization;
        organization.groupNames = {QStringLiteral("Empty")};
        fixture.setOrganization(organization);
        Recorder recorder;
        auto panel = makePanel(*fixture.store, recorder);

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
        test::ViewTestStore fixture;
        fixture.setAccounts(demoAccounts());
        Organization organization;
        organization.pinnedAccountIds = {QStringLiteral("444444444444")};
        fixture.setOrganization(organization);
        Recorder recorder;
        auto panel = makePanel(*fixture.store, recorder);
        auto *field = panel->findChild<QLineEdit *>(QStringLiteral("searchField"));
        auto *clear = field->findChild<QAction *>(QStringLiteral("clearSearch"));
        QVERIFY(!clear->isVisible());

        QTest::keyClicks(field, QStringLiteral("readonly"));
        QVERIFY(clear->isVisible());
        const QStringList hits = listEntries(*panel);
        QCOMPARE(hits.size(), 2);
        QVERIFY(hits.contains(QStringLiteral("account:111111111111")));
        QVERIFY(hits.contains(QStringLiteral("account:444444444444")));

        QTest::keyClicks(field, QStringLiteral(" nothing-like-this"));
        QCOMPARE(listEntries(*panel), QStringList{QStringLiteral("noResults")});

        // Blanks only: the sectioned list again.
        field->setText(QStringLiteral("   "));
        QVERIFY(listEntries(*panel).contains(QStringLiteral("section:other")));

        clear->trigger();
        QCOMPARE(field->text(), QString());
        QCOMPARE(panel->query(), QString());
        QVERIFY(!clear->isVisible());
    }

    void openAccountListsRolesAndOpensTheConsole()
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setAccounts(demoAccounts());
        store.defaults().setString(QStringLiteral("startUrl"),
                                   QStringLiteral("https://example.awsapps.com/start"));
        Recorder recorder;
        auto panel = makePanel(store, recorder);

        QVERIFY(!entry(*panel, QStringLiteral("role:ReadOnly")).isValid());
        QVERIFY(clickEntry(*panel, QStringLiteral("account:111111111111")));
        QVERIFY(clickEntry(*panel, QStringLiteral("account:333333333333")));
        QCOMPARE(panel->expanded(),
                 (QSet<QString>{QStringLiteral("111111111111"), QStringLiteral("333333333333")}));
        QVERIFY(entry(*panel, QStringLiteral("noRoles"), QStringLiteral("account:333333333333"))
                    .isValid());

        // A link that cannot be opened keeps the panel open.
        const QString production = QStringLiteral("account:111111111111");
        fixture.openerSucceeds = false;
        QVERIFY(clickEntry(*panel, QStringLiteral("role:ReadOnly"), production));
        QCOMPARE(recorder.dismissed, 0);

        fixture.openerSucceeds = true;
        fixture.openedURLs.clear();
        QVERIFY(clickEntry(*panel, QStringLiteral("role:ReadOnly"), production));
        QCOMPARE(recorder.dismissed, 1);
        QCOMPARE(fixture.openedURLs.size(), 1);
        const QString link = fixture.openedURLs.first().toString();
        QVERIFY2(link.startsWith(QStringLiteral("https://example.awsapps.com/start/#/console?"
                                                "account_id=111111111111&role_name=ReadOnly")),
                 qPrintable(link));

        // A service picked from the role's menu goes into the link.
        std::unique_ptr<QMenu> services(
            row(*panel, QStringLiteral("111111111111"))
                ->createRoleMenu(QStringLiteral("AdministratorAccess"), nullptr));
        QVERIFY(services->actions().size() > 10);
        QAction *first = services->actions().first();
        const QString service = first->text();
        first->trigger();
        QCOMPARE(recorder.dismissed, 2);
        QCOMPARE(fixture.openedURLs.size(), 2);
        QVERIFY(fixture.openedURLs.last().toString().contains(
            QStringLiteral("role_name=AdministratorAccess")));
    }

    void accountMenuOffersWhatFitsTheAccount()
    {
        test::ViewTestStore fixture;
        fixture.setAccounts(demoAccounts());
        Recorder recorder;
        auto panel = makePanel(*fixture.store, recorder);

        std::unique_ptr<QMenu> twoRoles(
            row(*panel, QStringLiteral("111111111111"))->createAccountMenu(nullptr));
        QCOMPARE(
            actionTexts(twoRoles.get()),
            (strings({"Pin to Top", "Move to Group", "Console Region", "-", "Copy Account ID"})));
        std::unique_ptr<QMenu> oneRole(
            row(*panel, QStringLiteral("222222222222"))->createAccountMenu(nullptr));
        QCOMPARE(actionTexts(oneRole.get()),
                 (strings({"Pin to Top", "Move to Group", "Open Service", "Console Region", "-",
                           "Copy Account ID"})));
        QMenu *groups = findAction(oneRole.get(), QStringLiteral("Move to Group"))->menu();
        QCOMPARE(actionTexts(groups), (strings({"-", "New Group…"})));

        findAction(oneRole.get(), QStringLiteral("Copy Account ID"))->trigger();
        QCOMPARE(recorder.copied, QStringList{QStringLiteral("222222222222")});
        QVERIFY(!fixture.store->errorMessage());
        recorder.clipboardWorks = false;
        findAction(oneRole.get(), QStringLiteral("Copy Account ID"))->trigger();
        QCOMPARE(fixture.store->errorMessageOrEmpty(),
                 QStringLiteral("Could not copy to the clipboard."));
    }

    void accountMenuChangesTheOrganization()
    {
        QTemporaryDir folder;
        test::ViewTestStore fixture(folder.filePath(QStringLiteral("organization.json")));
        AccountStore &store = *fixture.store;
        fixture.setAccounts(demoAccounts());
        store.createGroup(QStringLiteral("Core"));
        store.createGroup(QStringLiteral("Data"));
        store.createGroup(QStringLiteral("R&D"));
        Recorder recorder;
        auto panel = makePanel(store, recorder);
        const QString id = QStringLiteral("222222222222");

        std::unique_ptr<QMenu> menu(row(*panel, id)->createAccountMenu(nullptr));
        findAction(menu.get(), QStringLiteral("Pin to Top"))->trigger();
        QCOMPARE(store.organization().pinnedAccountIds, QStringList{id});
        menu.reset(row(*panel, id)->createAccountMenu(nullptr));
        findAction(menu.get(), QStringLiteral("Unpin"))->trigger();
        QVERIFY(store.organization().pinnedAccountIds.isEmpty());

        menu.reset(row(*panel, id)->createAccountMenu(nullptr));
        findAction(menu.get(), QStringLiteral("Data"))->trigger();
        QCOMPARE(store.organization().accountGroups.value(id), QStringLiteral("Data"));

        menu.reset(row(*panel, id)->createAccountMenu(nullptr));
        QMenu *groups = findAction(menu.get(), QStringLiteral("Move to Group"))->menu();
        QCOMPARE(actionTexts(groups),
                 (strings({"Core", "Data", "R&&D", "-", "New Group…", "Remove from Group"})));
        QVERIFY(groups->actions().at(0)->icon().isNull());
        QVERIFY(!groups->actions().at(1)->icon().isNull());
        findAction(menu.get(), QStringLiteral("Remove from Group"))->trigger();
        QVERIFY(!store.organization().accountGroups.contains(id));

        menu.reset(row(*panel, id)->createAccountMenu(nullptr));
        QMenu *regions = findAction(menu.get(), QStringLiteral("Console Region"))->menu();
        QAction *ireland = nullptr;
        for (QAction *action : regions->actions()) {
            if (action->data().toString() == QLatin1String("eu-west-1")) {
                ireland = action;
            }
        }
        QVERIFY(ireland);
        ireland->trigger();
        QCOMPARE(store.consoleRegionForAccount(id), QStringLiteral("eu-west-1"));
        menu.reset(row(*panel, id)->createAccountMenu(nullptr));
        regions = findAction(menu.get(), QStringLiteral("Console Region"))->menu();
        for (QAction *action : regions->actions()) {
            QCOMPARE(!action->icon().isNull(),
                     action->data().toString() == QLatin1String("eu-west-1"));
        }

        std::unique_ptr<QMenu> sectionMenu(
            panel->createSectionMenu(QStringLiteral("Core"), nullptr));
        findAction(sectionMenu.get(), QStringLiteral("Delete Group"))->trigger();
        QCOMPARE(store.organization().groupNames,
                 (QStringList{QStringLiteral("Data"), QStringLiteral("R&D")}));
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
        test::ViewTestStore fixture;
        fixture.setAccounts(demoAccounts());
        Organization organization;
        organization.groupNames = {QStringLiteral("Core")};
        fixture.setOrganization(organization);
        Recorder recorder;
        auto panel = makePanel(*fixture.store, recorder);
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
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        fixture.setAccounts(demoAccounts());
        store.togglePinnedAccount(QStringLiteral("444444444444"));
        Recorder recorder;
        auto panel = makePanel(store, recorder);
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
        QCOMPARE(sectionText(*panel, QStringLiteral("pinned")), QStringLiteral("Pinned  2"));
        QVERIFY(entry(*panel, QStringLiteral("account:") + id)
                    .data(AccountListModel::PinnedRole)
                    .toBool());

        QList<AWSAccount> synced = demoAccounts();
        synced.removeLast();
        fixture.setAccounts(synced);
        QCOMPARE(resets.size(), 1);
        // Folding outlives the reset.
        QVERIFY(listEntries(*panel).contains(QStringLiteral("role:PowerUser")));
    }

    void keyboardMovesThroughRowsAndActs()
    {
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setAccounts(demoAccounts());
        store.defaults().setString(QStringLiteral("startUrl"),
                                   QStringLiteral("https://example.awsapps.com/start"));
        Recorder recorder;
        auto panel = makePanel(store, recorder);
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
        QTemporaryDir folder;
        test::ViewTestStore fixture(folder.filePath(QStringLiteral("organization.json")));
        AccountStore &store = *fixture.store;
        fixture.setSession(AccountStoreSession::signedIn());
        fixture.setAccounts(demoAccounts());
        Recorder recorder;
        auto panel = makePanel(store, recorder);
        const QString id = QStringLiteral("444444444444");
        auto *name = panel->findChild<QLineEdit *>(QStringLiteral("newGroupName"));

        std::unique_ptr<QMenu> menu(row(*panel, id)->createAccountMenu(nullptr));
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
