#include "quicksearchfixture.h"

#include <QSignalSpy>

using namespace tessera;
using namespace std::chrono_literals;
using tessera::test::account;
using tessera::test::QuickSearchFixture;
using tessera::test::s;
using tessera::test::strings;

namespace {
// alpha and delta have several roles, bravo one, charlie none.
QList<AWSAccount> sampleAccounts()
{
    QList<AWSAccount> accounts = test::sampleAccounts();
    accounts.append(account(s("555555555555"), s("echo-alpha"), {s("Admin"), s("Audit")}));
    return accounts;
}

using ListKind = QuickSwitcherModel::ListKind;
} // namespace

class TestQuickSwitcherNavigation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void returnOnAccountWithRolesAndBackAgain()
    {
        QuickSearchFixture f(sampleAccounts());
        f.model->setQuery(s("alpha"));
        QVERIFY(f.select(s("echo-alpha")));
        const int selected = f.model->selection();
        QCOMPARE(selected, 1);

        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::roles);
        QCOMPARE(f.model->mode(), QuickSwitcherMode::roles(sampleAccounts()[4]));
        QCOMPARE(f.model->query(), QString());
        QCOMPARE(f.model->suspendedActionMenus().size(), 1);
        QCOMPARE(f.model->roleResults(), strings({"Admin", "Audit"}));

        // Back shows the account's menu on "Browse Roles"...
        QVERIFY(f.model->goBack());
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.selectedTitle(), s("Browse Roles"));
        QVERIFY(f.model->mode().isAccounts());
        QVERIFY(f.model->suspendedActionMenus().isEmpty());

        // ...and then the list as it was.
        QVERIFY(f.model->goBack());
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QCOMPARE(f.model->query(), s("alpha"));
        QCOMPARE(f.model->selection(), selected);
        QVERIFY(!f.model->goBack());
        QCOMPARE(f.dismissals, 0);
    }

    void roleIntoServicesAndBack()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("delta")));
        f.model->activateSelection();
        f.model->setQuery(s("a"));
        QCOMPARE(f.model->roleResults(), strings({"Admin", "ReadOnly"}));
        f.model->setSelection(1);

        f.model->activateSelection();
        QCOMPARE(f.model->mode(), QuickSwitcherMode::services(sampleAccounts()[3], s("ReadOnly")));
        QCOMPARE(f.model->modeHistory().size(), 1);
        QCOMPARE(f.selectedTitle(), s("Console Home"));
        f.model->setQuery(s("lam"));

        // Delete with text only edits the text; Escape clears it; then Back.
        QVERIFY(!f.model->deleteBackwardOrBack());
        QCOMPARE(f.model->query(), s("lam"));
        f.model->cancelOrBack();
        QCOMPARE(f.model->query(), QString());
        QVERIFY(f.model->mode().isServices());
        QVERIFY(f.model->deleteBackwardOrBack());
        QVERIFY(f.model->mode().isRoles());
        QCOMPARE(f.model->query(), s("a"));
        QCOMPARE(f.selectedTitle(), s("ReadOnly"));
        QVERIFY(f.model->modeHistory().isEmpty());

        // Right on a role drills in the same way.
        f.model->setSelection(0);
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->mode().role, s("Admin"));
        QVERIFY(f.model->goBack());

        // Roles list → the menu it came from → the accounts list.
        QVERIFY(f.model->goBack());
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QVERIFY(f.model->goBack());
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QCOMPARE(f.selectedTitle(), s("delta"));
    }

    void homeClearsEveryStack()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("delta")));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Browse Roles")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::roles);
        // Home, then roles again from a clean state: nothing suspended beneath.
        f.model->resetToHome();
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QVERIFY(f.model->suspendedActionMenus().isEmpty());
        QVERIFY(f.select(s("delta")));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Browse Roles")));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Admin")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->currentList(), ListKind::services);
        f.model->resetToHome();
        QVERIFY(f.model->modeHistory().isEmpty());
        QCOMPARE(f.model->query(), QString());
    }

    void browseServicesFromARoleMenuReturnsToThatMenu()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("alpha")));
        f.model->activateSelection();
        QVERIFY(f.select(s("ReadOnly")));
        QVERIFY(f.model->openActionMenu());
        QVERIFY(f.select(s("Browse Services")));
        const int browse = f.model->selection();
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->mode(), QuickSwitcherMode::services(sampleAccounts()[0], s("ReadOnly")));

        QVERIFY(f.model->goBack());
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.model->selection(), browse);
        QCOMPARE(f.model->actionTarget()->kind, QuickActionTarget::Kind::role);
        QVERIFY(f.model->goBack());
        QCOMPARE(f.model->currentList(), ListKind::roles);
        QCOMPARE(f.selectedTitle(), s("ReadOnly"));
    }

    void pickersGoBackToTheSuspendedMenu()
    {
        QuickSearchFixture f(sampleAccounts());
        f.profileNames = strings({"alpha-admin", "alpha-readonly"});
        QVERIFY(f.model->drillIn());
        for (const char *title : {"Change Region", "Assign to Group", "Copy AWS Profile"}) {
            QVERIFY(f.select(s(title)));
            const int selected = f.model->selection();
            f.model->activateSelection();
            QVERIFY(!f.model->choosingAction());
            QVERIFY(f.model->choosingRegion() || f.model->choosingGroup() ||
                    f.model->choosingAWSProfile());
            QVERIFY(f.model->currentAccount());
            QCOMPARE(f.model->currentAccount()->accountName, s("alpha"));

            // Escape with text clears only the text; the picker stays.
            f.model->setQuery(s("x"));
            f.model->cancelOrBack();
            QCOMPARE(f.model->query(), QString());
            QVERIFY(!f.model->choosingAction());
            // Delete with an empty field closes the picker and brings the menu back.
            QVERIFY(f.model->deleteBackwardOrBack());
            QCOMPARE(f.model->currentList(), ListKind::actions);
            QCOMPARE(f.model->selection(), selected);
            QVERIFY(f.model->suspendedActionMenus().isEmpty());
        }
        // Escape closes the menu, then dismisses the panel.
        f.model->cancelOrBack();
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QCOMPARE(f.dismissals, 0);
        f.model->cancelOrBack();
        QCOMPARE(f.dismissals, 1);
    }

    void groupCreateAssignAndRemoveThroughThePicker()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("charlie")));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Assign to Group")));
        const int groupAction = f.model->selection();
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->currentList(), ListKind::groups);

        f.model->setQuery(s(" Ops "));
        QCOMPARE(f.selectedTitle(), s("Create \u201COps\u201D"));
        f.model->activateSelection();
        QCOMPARE(f.store->organization().groupNames, strings({"Ops"}));
        QCOMPARE(f.store->organization().accountGroups.value(s("333333333333")), s("Ops"));
        QCOMPARE(f.model->flash(), std::optional(s("Created Ops")));
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.model->selection(), groupAction);
        QCOMPARE(f.selectedTitle(), s("Change Group"));
        QCOMPARE(f.model->actionResults()[groupAction].subtitle, std::optional(s("Ops")));

        // The picker opens on the account's group; "No Group" removes it.
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.selectedTitle(), s("Ops"));
        QCOMPARE(f.model->rows()[f.model->selection()].trailing, std::optional(s("Current")));
        QVERIFY(f.select(s("No Group")));
        f.model->activateSelection();
        QVERIFY(f.store->organization().accountGroups.isEmpty());
        QCOMPARE(f.store->organization().groupNames, strings({"Ops"}));
        QCOMPARE(f.model->flash(), std::optional(s("Removed from group")));
        QCOMPARE(f.selectedTitle(), s("Assign to Group"));

        // An existing group.
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Ops")));
        f.model->activateSelection();
        QCOMPARE(f.store->organization().accountGroups.value(s("333333333333")), s("Ops"));
        QCOMPARE(f.model->flash(), std::optional(s("Moved to Ops")));

        // Back in the list, the account now sits in the group block and stays selected.
        QVERIFY(f.model->goBack());
        QCOMPARE(f.selectedTitle(), s("charlie"));
        QCOMPARE(f.model->selection(), 0);
    }

    void regionPickerOpensOnTheCurrentRegion()
    {
        Organization organization;
        organization.accountConsoleRegions = {{s("222222222222"), s("eu-west-1")}};
        QuickSearchFixture f(sampleAccounts(), organization);
        QVERIFY(f.select(s("bravo")));

        QVERIFY(f.model->openRegionPickerForSelection());
        QCOMPARE(f.model->currentList(), ListKind::regions);
        QCOMPARE(f.selectedTitle(), s("Europe (Ireland)"));
        const auto rows = f.model->rows();
        QCOMPARE(rows[f.model->selection()].trailing, std::optional(s("Current")));
        QCOMPARE(
            std::count_if(rows.cbegin(), rows.cend(), [](const auto &r) { return r.trailing; }), 1);
        // No second picker over the first.
        QVERIFY(!f.model->openRegionPickerForSelection());
        QVERIFY(!f.model->drillIn());

        f.model->setQuery(s("london"));
        f.model->activateSelection();
        QCOMPARE(f.store->organization().accountConsoleRegions.value(s("222222222222")),
                 s("eu-west-2"));
        QCOMPARE(f.model->flash(), std::optional(s("Region: eu-west-2")));
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QCOMPARE(f.selectedTitle(), s("bravo"));

        // Through the menu: the menu comes back on "Change Region", showing the new region.
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Change Region")));
        const int regionAction = f.model->selection();
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.selectedTitle(), s("Europe (London)"));
        QVERIFY(f.select(s("Europe (Paris)")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.model->selection(), regionAction);
        QCOMPARE(f.model->actionResults()[regionAction].subtitle, std::optional(s("eu-west-3")));
    }

    void openingTheConsoleDismissesOrFlashesTheError()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("bravo")));
        f.model->activateSelection();
        QCOMPARE(f.openedURLs.size(), 1);
        QVERIFY(f.openedURLs[0].toString(QUrl::FullyEncoded).contains(s("222222222222")));
        QCOMPARE(f.dismissals, 1);

        // A service from the services list.
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Browse Services")));
        f.model->activateSelection();
        QVERIFY(f.select(s("IAM")));
        f.model->activateSelection();
        QCOMPARE(f.openedURLs.size(), 2);
        QVERIFY(f.openedURLs[1].toString(QUrl::FullyEncoded).contains(s("iam")));
        QCOMPARE(f.dismissals, 2);

        // Without a usable portal URL the panel stays and says why.
        f.settings->setString(key(settingskey::startUrl), s("http://example.com/start"));
        f.model->activateSelection();
        QCOMPARE(f.openedURLs.size(), 2);
        QCOMPARE(f.dismissals, 2);
        QVERIFY(f.model->flash());
        QCOMPARE(f.model->flash(), f.store->errorMessage());
    }

    void copyActionsAndShortcuts()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("bravo")));

        // Cmd-C copies the selected account's ID wherever the selection is.
        QVERIFY(f.model->copySelectedAccountId());
        QCOMPARE(f.clipboard, strings({"222222222222"}));
        QCOMPARE(f.model->flash(), std::optional(s("Account ID copied")));

        // The console link, from the menu.
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Copy Console Link")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QCOMPARE(f.clipboard.size(), 2);
        QVERIFY(f.clipboard[1].startsWith(s("https://example.awsapps.com/start")));
        QVERIFY(f.clipboard[1].contains(s("222222222222")));
        QCOMPARE(f.model->flash(), std::optional(s("Console link copied")));

        // No link: the menu stays open.
        f.settings->setString(key(settingskey::startUrl), QString());
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Copy Console Link")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.model->flash(), std::optional(s("Could not create console link")));

        // A failing clipboard still closes the menu.
        f.clipboardWorks = false;
        QVERIFY(f.select(s("Copy Account ID")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::accounts);
        QCOMPARE(f.model->flash(), std::optional(s("Could not copy to the clipboard.")));
        QCOMPARE(f.clipboard.size(), 2);

        // In a picker Cmd-C copies the picker's account.
        f.clipboardWorks = true;
        QVERIFY(f.select(s("delta")));
        QVERIFY(f.model->openRegionPickerForSelection());
        QVERIFY(f.model->copySelectedAccountId());
        QCOMPARE(f.clipboard.last(), s("444444444444"));
    }

    void profilePickerCopiesAndDiscoveryFailureIsShown()
    {
        QuickSearchFixture f(sampleAccounts());
        f.profileNames = strings({"alpha-admin", "alpha-readonly"});
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.profileRequests.size(), 1);
        QCOMPARE(f.profileRequests[0].first, s("111111111111"));
        QVERIFY(f.select(s("Copy AWS Profile")));
        const int profileAction = f.model->selection();
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::awsProfiles);
        f.model->setQuery(s("read"));
        f.model->activateSelection();
        QCOMPARE(f.clipboard, strings({"alpha-readonly"}));
        QCOMPARE(f.model->flash(), std::optional(s("AWS profile copied")));
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.model->selection(), profileAction);
        QVERIFY(f.model->goBack());

        // Discovery fails: the menu opens without the profile action and says so.
        f.profileFailure = s("permission denied");
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QVERIFY(f.model->actionProfileNames().isEmpty());
        QVERIFY(!f.select(s("Copy AWS Profile")));
        QCOMPARE(f.model->flash(), std::optional(s("Could not read ~/.aws/config.")));
    }

    void pinsFollowTheSelection()
    {
        QuickSearchFixture f(sampleAccounts());
        QVERIFY(f.select(s("delta")));
        QVERIFY(f.model->toggleSelectedPin());
        QCOMPARE(f.store->organization().pinnedAccountIds, strings({"444444444444"}));
        QCOMPARE(f.model->selection(), 0);
        QCOMPARE(f.selectedTitle(), s("delta"));
        QVERIFY(f.model->rows()[0].pinned);

        // From the menu, with a flash.
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Unpin Account")));
        f.model->activateSelection();
        QVERIFY(f.store->organization().pinnedAccountIds.isEmpty());
        QCOMPARE(f.model->flash(), std::optional(s("Unpinned account")));
        QCOMPARE(f.selectedTitle(), s("delta"));
        QCOMPARE(f.model->selection(), 3);

        // Not in the roles list, not with a menu open, not on Console Home.
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::roles);
        QVERIFY(!f.model->toggleSelectedPin());
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->currentList(), ListKind::services);
        QCOMPARE(f.selectedTitle(), s("Console Home"));
        QVERIFY(!f.model->toggleSelectedPin());
        QVERIFY(f.store->organization().pinnedServiceNames.isEmpty());
        QVERIFY(f.model->drillIn());
        QVERIFY(!f.model->toggleSelectedPin());
        QVERIFY(f.model->goBack());

        // A service moves in front of Console Home and stays selected.
        QVERIFY(f.select(s("Lambda")));
        QVERIFY(f.model->toggleSelectedPin());
        QCOMPARE(f.store->organization().pinnedServiceNames, strings({"Lambda"}));
        QCOMPARE(f.model->selection(), 0);
        QCOMPARE(f.selectedTitle(), s("Lambda"));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Unpin Service")));
        f.model->activateSelection();
        QCOMPARE(f.model->flash(), std::optional(s("Unpinned service")));
        QCOMPARE(f.selectedTitle(), s("Lambda"));
        QCOMPARE(f.serviceNames().indexOf(s("Lambda")), f.model->selection());
    }

    void flashesReplaceEachOther()
    {
        QuickSearchFixture f(sampleAccounts());
        QSignalSpy changes(f.model.get(), &QuickSwitcherModel::flashChanged);
        f.model->showFlash(s("first"));
        f.clock->advance(1000ms);
        f.model->showFlash(s("second"));
        QCOMPARE(f.model->flash(), std::optional(s("second")));
        // The first timer would have ended here.
        f.clock->advance(1000ms);
        QCOMPARE(f.model->flash(), std::optional(s("second")));
        f.clock->advance(499ms);
        QCOMPARE(f.model->flash(), std::optional(s("second")));
        f.clock->advance(1ms);
        QCOMPARE(f.model->flash(), std::nullopt);
        QCOMPARE(changes.size(), 3);
        QVERIFY(!f.model->isFlashTimerRunning());

        // A model dropped while its message shows leaves no timer behind.
        f.model->showFlash(s("third"));
        QCOMPARE(f.clock->pendingSleepers(), 1);
        f.model.reset();
        QCOMPARE(f.clock->pendingSleepers(), 0);
    }

    void observersHearEveryChange()
    {
        QuickSearchFixture f(sampleAccounts());
        QSignalSpy query(f.model.get(), &QuickSwitcherModel::queryChanged);
        QSignalSpy selection(f.model.get(), &QuickSwitcherModel::selectionChanged);
        QSignalSpy action(f.model.get(), &QuickSwitcherModel::choosingActionChanged);
        QSignalSpy results(f.model.get(), &QuickSwitcherModel::resultsChanged);

        f.model->setSelection(2);
        f.model->setProperty("query", s("a"));
        QCOMPARE(query.size(), 1);
        QCOMPARE(selection.size(), 2);
        QCOMPARE(f.model->selection(), 0);
        QVERIFY(f.model->drillIn());
        QCOMPARE(action.size(), 1);

        const auto before = results.size();
        f.store->togglePinnedAccount(s("111111111111"));
        QCOMPARE(results.size(), before + 1);
    }
};

QTEST_GUILESS_MAIN(TestQuickSwitcherNavigation)
#include "tst_quickswitchernavigation.moc"
