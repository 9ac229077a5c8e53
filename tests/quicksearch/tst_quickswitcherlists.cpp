#include "quicksearchfixture.h"

using namespace tessera;
using tessera::test::account;
using tessera::test::QuickSearchFixture;
using tessera::test::s;
using tessera::test::sampleAccounts;
using tessera::test::strings;

namespace {
using ListKind = QuickSwitcherModel::ListKind;
} // namespace

class TestQuickSwitcherLists : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void emptyQueryListsPinnedThenGroupedThenTheRest()
    {
        const QList<AWSAccount> accounts = {
            account(s("100000000001"), s("A")), account(s("100000000002"), s("B")),
            account(s("100000000003"), s("C")), account(s("100000000004"), s("D")),
            account(s("100000000005"), s("E")), account(s("100000000006"), s("F")),
        };
        Organization organization;
        organization.pinnedAccountIds = strings({"100000000003", "999999999999", "100000000001"});
        organization.groupNames = strings({"G2", "G1"});
        organization.accountGroups = {{s("100000000002"), s("G1")},
                                      {s("100000000004"), s("G2")},
                                      {s("100000000001"), s("G2")}};
        QuickSearchFixture f(accounts, organization);

        // A is pinned and grouped: listed once, among the pinned.
        QCOMPARE(f.accountNames(), strings({"C", "A", "D", "B", "E", "F"}));
        f.model->setQuery(s(" \t "));
        QCOMPARE(f.accountNames(), strings({"C", "A", "D", "B", "E", "F"}));
        // A typed query ranks instead: every ID starts with 1, and the pins come first.
        f.model->setQuery(s("1"));
        QCOMPARE(f.accountNames(), strings({"A", "C", "B", "D", "E", "F"}));
    }

    void accountRowsShowRolesGroupAndPin()
    {
        Organization organization;
        organization.pinnedAccountIds = strings({"222222222222"});
        organization.groupNames = strings({"Ops"});
        organization.accountGroups = {{s("111111111111"), s("Ops")}};
        QuickSearchFixture f(sampleAccounts(), organization);
        f.model->setSelection(1);

        const auto rows = f.model->rows();
        QCOMPARE(rows.size(), 4);
        // Pinned bravo, grouped alpha, then the rest.
        QCOMPARE(rows[0].title, s("bravo"));
        QCOMPARE(rows[0].subtitle, std::optional(s("222222222222")));
        QCOMPARE(rows[0].trailing, std::optional(s("Admin")));
        QVERIFY(rows[0].pinned);
        QVERIFY(!rows[0].selected);
        QCOMPARE(rows[1].title, s("alpha"));
        QCOMPARE(rows[1].trailing, std::optional(s("2 roles")));
        QCOMPARE(rows[1].tag, std::optional(s("Ops")));
        QVERIFY(rows[1].showChevron);
        QVERIFY(rows[1].selected);
        QCOMPARE(rows[2].title, s("charlie"));
        QCOMPARE(rows[2].trailing, std::optional(s("0 roles")));
        QVERIFY(!rows[2].showChevron);
        QVERIFY(!rows[2].tag);

        const auto window = f.model->rows(2, 5);
        QCOMPARE(window.size(), 2);
        QCOMPARE(window[0].title, s("charlie"));
        QVERIFY(!window[0].selected);
        QCOMPARE(f.model->currentAccount()->accountName, s("alpha"));
    }

    void actionListsForEachTarget()
    {
        Organization organization;
        organization.pinnedAccountIds = strings({"111111111111"});
        organization.groupNames = strings({"Ops"});
        organization.accountGroups = {{s("111111111111"), s("Ops")}};
        QuickSearchFixture f(sampleAccounts(), organization);
        // Listed as: alpha (pinned), bravo, charlie, delta.

        // Account with one role: the role's actions first.
        QVERIFY(f.select(s("bravo")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->currentList(), ListKind::actions);
        QCOMPARE(f.model->placeholder(), s("Search actions\u2026"));
        QCOMPARE(f.actionIds(), strings({"open", "services", "copy-link", "region", "group",
                                         "copy-id", "pin-account"}));
        auto actions = f.model->actionResults();
        QCOMPARE(actions[0].title, s("Open Console"));
        QCOMPARE(actions[0].subtitle, std::optional(s("Admin \u00B7 us-west-1")));
        QCOMPARE(actions[1].subtitle, std::optional(s("Admin")));
        QCOMPARE(actions[3].subtitle, std::optional(s("us-west-1")));
        QCOMPARE(actions[4].title, s("Assign to Group"));
        QCOMPARE(actions[4].subtitle, std::optional(s("No group")));
        QCOMPARE(actions[5].subtitle, std::optional(s("222222222222")));
        QCOMPARE(actions[6].title, s("Pin Account"));
        QCOMPARE(actions[6].subtitle, std::optional(s("bravo")));
        QCOMPARE(f.profileRequests.last().second, std::nullopt);
        const auto rows = f.model->rows();
        QVERIFY(!rows[0].showChevron);
        QVERIFY(rows[1].showChevron);
        QVERIFY(rows[3].showChevron);
        QVERIFY(!rows[5].showChevron);

        // The filter keeps actions whose title and subtitle hold every word.
        f.model->setQuery(s("COPY"));
        QCOMPARE(f.actionIds(), strings({"copy-link", "copy-id"}));
        f.model->setQuery(s("group no"));
        QCOMPARE(f.actionIds(), strings({"group"}));
        QVERIFY(f.model->goBack());

        // Account with several roles, grouped and pinned, with one matching profile.
        f.profileNames = strings({"alpha-admin"});
        QVERIFY(f.select(s("alpha")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.actionIds(),
                 strings({"roles", "region", "group", "copy-id", "copy-profile", "pin-account"}));
        actions = f.model->actionResults();
        QCOMPARE(actions[0].subtitle, std::optional(s("2 roles")));
        QCOMPARE(actions[2].title, s("Change Group"));
        QCOMPARE(actions[2].subtitle, std::optional(s("Ops")));
        QCOMPARE(actions[4].subtitle, std::optional(s("alpha-admin")));
        QCOMPARE(actions[5].title, s("Unpin Account"));
        QVERIFY(f.model->goBack());

        // Account without roles, two matching profiles.
        f.profileNames = strings({"charlie-a", "charlie-b"});
        QVERIFY(f.select(s("charlie")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.actionIds(),
                 strings({"region", "group", "copy-id", "copy-profile", "pin-account"}));
        QCOMPARE(f.model->actionResults()[3].subtitle, std::optional(s("2 matching profiles")));
        QVERIFY(f.model->goBack());
        f.profileNames.clear();

        // A role of delta: its roles list (Return), then the role's menu.
        QVERIFY(f.select(s("delta")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::roles);
        QCOMPARE(f.model->placeholder(), s("Search roles\u2026"));
        QVERIFY(f.select(s("Deploy")));
        QVERIFY(f.model->openActionMenu());
        QCOMPARE(f.model->actionTarget(),
                 std::optional(QuickActionTarget::forRole(sampleAccounts()[3], s("Deploy"))));
        QCOMPARE(f.profileRequests.last().second, std::optional(s("Deploy")));
        QCOMPARE(f.actionIds(), strings({"open", "services", "copy-link", "region", "group",
                                         "copy-id", "pin-account"}));
        QCOMPARE(f.model->actionResults()[0].subtitle, std::optional(s("Deploy \u00B7 us-west-1")));

        // A service of that role: Browse Services, then the service's menu.
        QVERIFY(f.select(s("Browse Services")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::services);
        QVERIFY(f.select(s("S3")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.actionIds(),
                 strings({"open", "copy-link", "region", "group", "copy-id", "pin-service"}));
        actions = f.model->actionResults();
        QCOMPARE(actions[0].title, s("Open S3"));
        QCOMPARE(actions[0].subtitle, std::optional(s("Deploy \u00B7 us-west-1")));
        QCOMPARE(actions[1].subtitle, std::optional(s("S3")));
        QCOMPARE(actions[5].title, s("Pin Service"));
        QVERIFY(f.model->goBack());

        // On Console Home the pin action is the account's.
        QVERIFY(f.select(s("Console Home")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.actionIds(),
                 strings({"open", "copy-link", "region", "group", "copy-id", "pin-account"}));
        QCOMPARE(f.model->actionResults()[0].title, s("Open Console Home"));
    }

    void servicesListPutsConsoleHomeAfterThePins()
    {
        Organization organization;
        organization.pinnedServiceNames = strings({"Lambda", "SES"});
        organization.disabledServiceNames = strings({"EC2"});
        QuickSearchFixture plain(sampleAccounts());
        QuickSearchFixture pinned(sampleAccounts(), organization);

        for (QuickSearchFixture *f : {&plain, &pinned}) {
            QVERIFY(f->select(s("bravo")));
            QVERIFY(f->model->drillIn());
            QVERIFY(f->select(s("Browse Services")));
            QVERIFY(f->model->drillIn());
            QCOMPARE(f->model->currentList(), ListKind::services);
            QCOMPARE(f->model->placeholder(), s("Search services\u2026"));
        }
        QCOMPARE(plain.serviceNames().mid(0, 3), strings({"Console Home", "S3", "EC2"}));
        QCOMPARE(plain.serviceNames().size(), 41);
        QCOMPARE(pinned.serviceNames().mid(0, 5),
                 strings({"Lambda", "SES", "Console Home", "S3", "VPC"}));
        QVERIFY(!pinned.serviceNames().contains(s("EC2")));

        plain.model->setQuery(s("home"));
        QCOMPARE(plain.serviceNames(), strings({"Console Home"}));

        // Ranked, then the pinned ones moved in front.
        pinned.model->setQuery(s("se"));
        QCOMPARE(pinned.serviceNames().mid(0, 3),
                 strings({"SES", "Secrets Manager", "Security Hub"}));
        const auto rows = pinned.model->rows();
        QVERIFY(rows[0].pinned);
        QVERIFY(!rows[1].pinned);
        QVERIFY(!rows[0].showChevron);
    }

    void groupChoicesFilterAndOfferCreation()
    {
        Organization organization;
        organization.groupNames = strings({"Ops", "Team Blue"});
        organization.accountGroups = {{s("111111111111"), s("Team Blue")}};
        QuickSearchFixture f(sampleAccounts(), organization);

        // alpha is grouped: its picker opens on its group, marked current.
        QVERIFY(f.select(s("alpha")));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Change Group")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->currentList(), ListKind::groups);
        QCOMPARE(f.model->placeholder(), s("Search or create a group\u2026"));
        QCOMPARE(f.model->groupChoices().size(), 3);
        QCOMPARE(f.model->groupChoices()[0].id, s("no-group"));
        QCOMPARE(f.model->groupChoices()[0].subtitle,
                 std::optional(s("Remove this account from its group")));
        QCOMPARE(f.model->groupChoices()[2].id, s("group:Team Blue"));
        QCOMPARE(f.selectedTitle(), s("Team Blue"));
        auto rows = f.model->rows();
        QCOMPARE(rows[2].trailing, std::optional(s("Current")));
        QVERIFY(!rows[0].trailing);

        // A group of that name exists in another letter case: no create choice.
        f.model->setQuery(s(" ops "));
        QCOMPARE(f.model->groupChoices().size(), 1);
        QCOMPARE(f.model->groupChoices()[0].title, s("Ops"));
        f.model->setQuery(s("team BLUE"));
        QCOMPARE(f.model->groupChoices().size(), 1);
        // Only part of a group's name: that group, and a new one.
        f.model->setQuery(s("team"));
        QCOMPARE(f.model->groupChoices().size(), 2);
        QCOMPARE(f.model->groupChoices()[1].id, s("create:team"));

        f.model->setQuery(s("  Red Team\t"));
        const auto choices = f.model->groupChoices();
        QCOMPARE(choices.size(), 1);
        QCOMPARE(choices[0].id, s("create:red team"));
        QCOMPARE(choices[0].title, s("Create \u201CRed Team\u201D"));
        QCOMPARE(choices[0].subtitle, std::optional(s("New group")));
        QCOMPARE(choices[0].kind, QuickGroupChoice::Kind::create);
        QCOMPARE(choices[0].groupName, s("Red Team"));

        // "group" matches the no-group choice's text and offers a new group too.
        f.model->setQuery(s("group"));
        QCOMPARE(f.model->groupChoices().size(), 2);
        QCOMPARE(f.model->groupChoices()[1].id, s("create:group"));
        QVERIFY(f.model->goBack());
        QVERIFY(f.model->goBack());

        // An account without a group: "No Group" is the current choice.
        QVERIFY(f.select(s("bravo")));
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Assign to Group")));
        QVERIFY(f.model->drillIn());
        QCOMPARE(f.model->selection(), 0);
        rows = f.model->rows();
        QCOMPARE(rows[0].trailing, std::optional(s("Current")));
        QVERIFY(!rows[2].trailing);
    }

    void regionAndProfileLists()
    {
        Organization organization;
        organization.disabledConsoleRegionIds = strings({"us-east-2"});
        QuickSearchFixture f(sampleAccounts(), organization);

        QVERIFY(f.model->openRegionPickerForSelection());
        QCOMPARE(f.model->currentList(), ListKind::regions);
        QCOMPARE(f.model->placeholder(), s("Search AWS regions\u2026"));
        QCOMPARE(f.model->resultCount(), 33);
        f.model->setQuery(s("asia tok"));
        QCOMPARE(f.model->regionResults().size(), 1);
        QCOMPARE(f.model->rows()[0].title, s("Asia Pacific (Tokyo)"));
        QCOMPARE(f.model->rows()[0].subtitle, std::optional(s("ap-northeast-1")));
        f.model->cancelOrBack();
        f.model->cancelOrBack();
        QCOMPARE(f.model->currentList(), ListKind::accounts);

        f.profileNames = strings({"Alpha-Admin", "alpha-readonly", "shared-admin"});
        QVERIFY(f.model->drillIn());
        QVERIFY(f.select(s("Copy AWS Profile")));
        f.model->activateSelection();
        QCOMPARE(f.model->currentList(), ListKind::awsProfiles);
        QCOMPARE(f.model->placeholder(), s("Search AWS profiles\u2026"));
        QCOMPARE(f.model->profileChoices(), f.profileNames);
        f.model->setQuery(s("admin ALPHA"));
        QCOMPARE(f.model->profileChoices(), strings({"Alpha-Admin"}));
        QVERIFY(!f.model->rows()[0].subtitle);
    }

    void selectionWrapsAndClamps()
    {
        QuickSearchFixture f(sampleAccounts());
        QCOMPARE(f.model->placeholder(), s("Search AWS accounts\u2026"));
        QCOMPARE(f.model->resultCount(), 4);
        f.model->moveSelection(-1);
        QCOMPARE(f.model->selection(), 3);
        f.model->moveSelection(+1);
        QCOMPARE(f.model->selection(), 0);
        f.model->moveSelection(+1);
        f.model->selectLast();
        QCOMPARE(f.model->selection(), 3);
        QCOMPARE(f.model->clampedSelection(7), 3);
        QCOMPARE(f.model->clampedSelection(2), 2);

        // Typing selects the first row again.
        f.model->setQuery(s("zzz"));
        QCOMPARE(f.model->selection(), 0);
        QCOMPARE(f.model->resultCount(), 0);
        f.model->moveSelection(+1);
        f.model->selectLast();
        QCOMPARE(f.model->selection(), 0);
        QCOMPARE(f.model->clampedSelection(5), 0);
        QVERIFY(!f.model->currentAccount());
        QVERIFY(!f.model->actionTargetForSelection());
    }
};

QTEST_GUILESS_MAIN(TestQuickSwitcherLists)
#include "tst_quickswitcherlists.moc"
