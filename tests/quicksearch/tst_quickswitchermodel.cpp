#include "quicksearch/quickswitcherkeys.h"
#include "quicksearch/quickswitchermodel.h"
#include "storage/settings.h"
#include "support/viewteststore.h"

#include <QMetaEnum>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace tessera;
using namespace std::chrono_literals;

namespace {
QString s(const char *text)
{
    return QString::fromUtf8(text);
}

// A store that loads nothing, holding five accounts; a Quick Search model over it whose
// callbacks write to `events`. Operations are run from short scripts and the outcome read
// as one line.
class QuickSearchFixture : public test::ViewTestStore
{
public:
    // alpha: two roles and two AWS profiles; bravo: one role; charlie: none; delta: three
    // roles; echo-alpha: two.
    explicit QuickSearchFixture(const Organization &organization = {})
    {
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl), s("https://example.awsapps.com/start"));
        settings->setString(key(settingskey::ssoRegion), s("us-west-1"));
        setAccounts({{s("111111111111"), s("alpha"), {s("Admin"), s("ReadOnly")}},
                     {s("222222222222"), s("bravo"), {s("Admin")}},
                     {s("333333333333"), s("charlie"), {}},
                     {s("444444444444"), s("delta"), {s("Deploy"), s("Admin"), s("ReadOnly")}},
                     {s("555555555555"), s("echo-alpha"), {s("Admin"), s("Audit")}}});
        setOrganization(organization);
        QuickSwitcherCallbacks callbacks;
        callbacks.dismiss = [this] { events.append(s("dismiss")); };
        callbacks.awsProfileNames = [this](const QString &accountId,
                                           const std::optional<QString> &) {
            if (profileFailure) {
                throw Error(*profileFailure);
            }
            return accountId == s("111111111111")
                       ? QStringList{s("alpha-admin"), s("alpha-readonly")}
                       : QStringList();
        };
        callbacks.copyToPasteboard = [this](const QString &text) {
            events.append(s("copy ") + text);
            return clipboardWorks;
        };
        model = std::make_unique<QuickSwitcherModel>(*store, callbacks, clock);
    }

    std::unique_ptr<QuickSwitcherModel> model;
    QStringList events;
    bool clipboardWorks = true;
    std::optional<QString> profileFailure;

    // Every row of the current list: title, then "/ subtitle", "= trailing", "#tag", "*"
    // for pinned, ">" for a chevron.
    QString listed() const
    {
        QStringList texts;
        for (const QuickSwitcherResultRow &row : model->rows()) {
            QString text = row.title;
            for (const auto &[mark, part] :
                 {std::pair{" / ", row.subtitle}, {" = ", row.trailing}, {" #", row.tag}}) {
                text += part ? s(mark) + *part : QString();
            }
            text += s(row.pinned ? " *" : "") + s(row.showChevron ? " >" : "");
            texts.append(text);
        }
        return texts.join(s("; "));
    }

    // "list #selection title [query] (flash)".
    QString state() const
    {
        const auto rows = model->rows();
        const int i = model->selection();
        QString text =
            QString::fromLatin1(QMetaEnum::fromType<QuickSwitcherModel::ListKind>().valueToKey(
                int(model->currentList()))) +
            s(" #") + QString::number(i) + u' ' +
            (i >= 0 && i < rows.size() ? rows.at(i).title : QString());
        text += model->query().isEmpty() ? QString() : s(" [") + model->query() + u']';
        return text + (model->flash() ? s(" (") + *model->flash() + u')' : QString());
    }

    // What the store keeps: "pin:<id or service>", "group:<name>", "<id>=<group>",
    // "<id>@<region>".
    QString organization() const
    {
        const Organization &o = store->organization();
        QStringList parts;
        for (const QString &pin : o.pinnedAccountIds + o.pinnedServiceNames) {
            parts.append(s("pin:") + pin);
        }
        for (const QString &group : o.groupNames) {
            parts.append(s("group:") + group);
        }
        for (auto it = o.accountGroups.cbegin(); it != o.accountGroups.cend(); ++it) {
            parts.append(it.key() + u'=' + it.value());
        }
        for (auto it = o.accountConsoleRegions.cbegin(); it != o.accountConsoleRegions.cend();
             ++it) {
            parts.append(it.key() + u'@' + it.value());
        }
        return parts.join(u' ');
    }

    // Runs "|"-separated steps: ">" drill in, "enter", "<" back, "esc", "bs" (Backspace on
    // an empty field), "home", "menu", "=text" types a query, "@state" checks that the state
    // starts so, "^Control+P:1" presses a key through the key table (modifiers by Qt's
    // name; the caret at the end of the field unless ":<position>", ":sel" for all text
    // selected, ":none" for no field; an unused key is an event); anything else selects the
    // row of that title. Answers what went wrong, or nothing.
    QString run(const QString &script)
    {
        QuickSwitcherModel &m = *model;
        const QMap<QString, std::function<void()>> operations{
            {s(">"), [&] { m.drillIn(); }},
            {s("enter"), [&] { m.activateSelection(); }},
            {s("<"), [&] { m.goBack(); }},
            {s("esc"), [&] { m.cancelOrBack(); }},
            {s("bs"), [&] { m.deleteBackwardOrBack(); }},
            {s("home"), [&] { m.resetToHome(); }},
            {s("menu"), [&] { m.openActionMenu(); }},
        };
        for (const QString &step : script.split(u'|', Qt::SkipEmptyParts)) {
            if (operations.contains(step)) {
                operations.value(step)();
            } else if (step.startsWith(u'=')) {
                m.setQuery(step.mid(1));
            } else if (step.startsWith(u'^')) {
                press(step.mid(1));
            } else if (step.startsWith(u'@') && !state().startsWith(step.mid(1))) {
                return s("at ") + step + s(" the state was ") + state();
            } else if (!step.startsWith(u'@') && !select(step)) {
                return s("no row ") + step + s(" in ") + state();
            }
        }
        return {};
    }

    void press(const QString &chord)
    {
        QStringList names = chord.section(u':', 0, 0).split(u'+');
        const QString key = s("Key_") + names.takeLast();
        const QString modifiers =
            names.isEmpty() ? s("NoModifier") : names.join(s("Modifier|")) + s("Modifier");
        const QString caret = chord.section(u':', 1);
        const int length = int(model->query().size());
        const SearchFieldCaret field{caret != s("none"),
                                     caret.isEmpty() || caret == s("sel") ? length : caret.toInt(),
                                     length, caret == s("sel")};
        if (!handleQuickSwitcherKey(
                *model, QMetaEnum::fromType<Qt::Key>().keyToValue(key.toLatin1().constData()),
                Qt::KeyboardModifiers(QMetaEnum::fromType<Qt::KeyboardModifiers>().keysToValue(
                    modifiers.toLatin1().constData())),
                field)) {
            events.append(s("unused ") + chord);
        }
    }

    bool select(const QString &title) const
    {
        const auto rows = model->rows();
        for (int i = 0; i < rows.size(); ++i) {
            if (rows.at(i).title == title) {
                model->setSelection(i);
                return true;
            }
        }
        return false;
    }
};

void addRow(const char *name, const char *script, const char *state, const char *effects = "")
{
    QTest::newRow(name) << s(script) << s(state) << s(effects);
}
} // namespace

class TestQuickSwitcherModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Where a sequence of operations and keys leads, and what happened on the way: the
    // events, then what the store keeps.
    void scripts_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("effects");
        addRow("return opens the roles, back retraces",
               "=alpha|echo-alpha|enter|@roles #0 Admin|<|@actions #0 Browse Roles|<",
               "accounts #1 echo-alpha [alpha]");
        addRow("a role's services and back",
               "delta|enter|=a|ReadOnly|enter|@services #0 Console Home|=lam|bs|esc|"
               "@services #0 Console Home|bs|@roles #1 ReadOnly [a]|Admin|>|@services|<|"
               "@roles #0 Admin [a]|<|@actions #0 Browse Roles|<",
               "accounts #3 delta");
        addRow("home forgets the suspended menus",
               "alpha|>|Browse Roles|enter|home|bravo|^Control+R|<", "accounts #1 bravo");
        addRow("home forgets the way back",
               "delta|enter|Admin|>|home|bravo|>|Browse Services|enter|<",
               "actions #1 Browse Services");
        addRow("escape closes the menu, then the panel", ">|esc|@accounts #0 alpha|esc",
               "accounts #0 alpha", "dismiss");
        // Escape with text clears only the text; Backspace on nothing brings the menu back.
        addRow("region picker back to the menu", ">|Change Region|enter|=x|esc|@regions|bs",
               "actions #1 Change Region");
        addRow("group picker back to the menu", ">|Assign to Group|enter|=x|esc|@groups|bs",
               "actions #2 Assign to Group");
        addRow("profile picker back to the menu", ">|Copy AWS Profile|enter|=x|esc|@awsProfiles|bs",
               "actions #4 Copy AWS Profile");
        addRow("no picker over a picker", "bravo|^Control+R|=asia tok|^Control+R|>|menu|^Control+P",
               "regions #0 Asia Pacific (Tokyo) [asia tok]", "unused Control+R unused Control+P");
        addRow("create a group", "charlie|>|Assign to Group|>|= Ops |@groups #0 Create “Ops”|enter",
               "actions #1 Change Group (Created Ops)", "group:Ops 333333333333=Ops");
        addRow("no group removes the account from it",
               "charlie|>|Assign to Group|>|=Ops|enter|>|@groups #1 Ops|No Group|enter",
               "actions #1 Assign to Group (Removed from group)", "group:Ops");
        addRow("an existing group, and the account moves into its block",
               "charlie|>|Assign to Group|>|=Ops|enter|>|No Group|enter|>|Ops|enter|<",
               "accounts #0 charlie (Moved to Ops)", "group:Ops 333333333333=Ops");
        addRow("the region picker opens on the account's region",
               "bravo|^Control+R|=ireland|enter|@accounts #1 bravo (Region: eu-west-1)|^Control+R",
               "regions #26 Europe (Ireland) (Region: eu-west-1)", "222222222222@eu-west-1");
        addRow("a region through the menu", "bravo|>|Change Region|>|=paris|enter",
               "actions #3 Change Region (Region: eu-west-3)", "222222222222@eu-west-3");
        addRow("copy a profile", ">|Copy AWS Profile|enter|=READ alpha|enter",
               "actions #4 Copy AWS Profile (AWS profile copied)", "copy alpha-readonly");
        addRow("copy the account ID, in a picker the picker's",
               "bravo|^Control+C|delta|^Control+R|^Control+C",
               "regions #2 US West (N. California) (Account ID copied)",
               "copy 222222222222 copy 444444444444");
        addRow("pin, then unpin from the menu",
               "delta|^Control+P|@accounts #0 delta|>|Unpin Account|enter",
               "accounts #3 delta (Unpinned account)");
        addRow("no pin in roles, menus or on Console Home",
               "delta|enter|^Control+P|>|^Control+P|>|^Control+P", "actions #0 Open Console Home",
               "unused Control+P unused Control+P unused Control+P");
        addRow("pin a service, then unpin it from its menu",
               "delta|enter|>|Lambda|^Control+P|@services #0 Lambda|>|Unpin Service|enter",
               "services #5 Lambda (Unpinned service)");
        // The key table's conditions: the keypad flag, the caret, chords with more than Ctrl.
        addRow("keypad keys", "^Keypad+Up|^Keypad+Enter|<|<", "accounts #4 echo-alpha");
        addRow("backspace deletes text", "enter|=ad|^Backspace", "roles #0 Admin [ad]",
               "unused Backspace");
        addRow("backspace on nothing goes back", "enter|^Backspace", "actions #0 Browse Roles");
        addRow("backspace at the top", "^Backspace", "accounts #0 alpha", "unused Backspace");
        addRow("escape at the top closes", "^Escape", "accounts #0 alpha", "dismiss");
        addRow("left at the start goes back", "enter|=ad|^Left:0", "actions #0 Browse Roles");
        addRow("left inside the text", "enter|=ad|^Left:1|^Left:sel", "roles #0 Admin [ad]",
               "unused Left:1 unused Left:sel");
        addRow("left without a field", "enter|=ad|^Left:none", "actions #0 Browse Roles");
        addRow("right at the end drills in", "=al|^Right", "actions #0 Browse Roles");
        addRow("right inside the text", "=al|^Right:1|^Right:sel", "accounts #0 alpha [al]",
               "unused Right:1 unused Right:sel");
        addRow("ctrl c over selected text", "=al|^Control+C:sel", "accounts #0 alpha [al]",
               "unused Control+C:sel");
        addRow("ctrl with more", "^Control+Shift+C|^Control+Alt+P|^Control+Meta+R|^P",
               "accounts #0 alpha",
               "unused Control+Shift+C unused Control+Alt+P unused Control+Meta+R unused P");
    }
    void scripts()
    {
        QFETCH(QString, script);
        QFETCH(QString, state);
        QFETCH(QString, effects);
        QuickSearchFixture f;
        const QString failure = f.run(script);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(f.state(), state);
        QCOMPARE((f.events + QStringList{f.organization()}).join(u' ').trimmed(), effects);
    }

    void accountListOrder()
    {
        Organization organization;
        organization.pinnedAccountIds = {s("444444444444"), s("999999999999"), s("111111111111")};
        organization.groupNames = {s("G2"), s("G1")};
        organization.accountGroups = {{s("222222222222"), s("G1")},
                                      {s("555555555555"), s("G2")},
                                      {s("111111111111"), s("G2")}};
        QuickSearchFixture f(organization);
        // alpha is pinned and grouped: listed once, among the pinned.
        const QString pinnedGroupedRest =
            s("delta / 444444444444 = 3 roles * >; alpha / 111111111111 = 2 roles #G2 * >; "
              "echo-alpha / 555555555555 = 2 roles #G2 >; bravo / 222222222222 = Admin #G1 >; "
              "charlie / 333333333333 = 0 roles");
        QCOMPARE(f.listed(), pinnedGroupedRest);
        f.model->setQuery(s(" \t "));
        QCOMPARE(f.listed(), pinnedGroupedRest);
        // A typed query ranks instead: every ID starts with its digit, the pins come first.
        f.model->setQuery(s("alpha"));
        QCOMPARE(f.listed().section(u';', 0, 0), s("alpha / 111111111111 = 2 roles #G2 * >"));
        f.model->setQuery(QString());
        const auto window = f.model->rows(3, 9);
        QCOMPARE(window.size(), 2);
        QCOMPARE(window.at(0).title, s("bravo"));
    }

    void actionMenus_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("menu");
        QTest::newRow("one role")
            << s("bravo|>")
            << s("Open Console / Admin · us-west-1; Browse Services / Admin >; "
                 "Copy Console Link / Admin; Change Region / us-west-1 >; "
                 "Assign to Group / No group >; Copy Account ID / "
                 "222222222222; Pin Account / bravo");
        QTest::newRow("roles, group, pin, profiles")
            << s("alpha|>")
            << s("Browse Roles / 2 roles >; Change Region / us-west-1 >; Change Group / Ops >; "
                 "Copy Account ID / 111111111111; Copy AWS Profile / 2 matching profiles >; "
                 "Unpin Account / alpha");
        QTest::newRow("console home") << s("delta|enter|>|>")
                                      << s("Open Console Home / Deploy · us-west-1; Copy Console "
                                           "Link / Console Home; Change Region / us-west-1 >; "
                                           "Assign to Group / No group >; Copy Account ID / "
                                           "444444444444; Pin Account / delta");
        // The filter keeps actions whose title and subtitle hold every word.
        QTest::newRow("filtered") << s("bravo|>|=COPY")
                                  << s("Copy Console Link / Admin; Copy Account ID / 222222222222");
    }
    void actionMenus()
    {
        QFETCH(QString, script);
        QFETCH(QString, menu);
        Organization organization;
        organization.pinnedAccountIds = {s("111111111111")};
        organization.groupNames = {s("Ops")};
        organization.accountGroups = {{s("111111111111"), s("Ops")}};
        QuickSearchFixture f(organization);
        QVERIFY(f.run(script).isEmpty());
        QCOMPARE(f.listed(), menu);
    }

    void pinnedAndSwitchedOffServicesAndRegions()
    {
        Organization organization;
        organization.pinnedServiceNames = {s("Lambda"), s("SES")};
        organization.disabledServiceNames = {s("EC2")};
        organization.disabledConsoleRegionIds = {s("us-east-2")};
        QuickSearchFixture plain;
        QuickSearchFixture pinned(organization);
        for (QuickSearchFixture *f : {&plain, &pinned}) {
            QVERIFY(f->run(s("bravo|>|Browse Services|>")).isEmpty());
        }
        QVERIFY(plain.listed().startsWith(s("Console Home; S3; EC2; ")));
        QCOMPARE(plain.model->resultCount(), 41);
        QVERIFY(pinned.listed().startsWith(s("Lambda *; SES *; Console Home; S3; VPC; ")));
        QVERIFY(!pinned.listed().contains(s("EC2")));
        plain.model->setQuery(s("home"));
        QCOMPARE(plain.listed(), s("Console Home"));
        // Ranked, then the pinned ones moved in front.
        pinned.model->setQuery(s("se"));
        QVERIFY(pinned.listed().startsWith(s("SES *; Secrets Manager; Security Hub; ")));
        // A region switched off is no choice either.
        QVERIFY(pinned.run(s("home|^Control+R|=ohio")).isEmpty());
        QCOMPARE(pinned.listed(), QString());
        QVERIFY(plain.run(s("home|^Control+R|=ohio")).isEmpty());
        QCOMPARE(plain.listed(), s("US East (Ohio) / us-east-2"));
    }

    void groupChoices_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("choices");
        QTest::newRow("all, the account's marked")
            << QString()
            << s("No Group / Remove this account from its group; Ops; Team Blue = Current");
        QTest::newRow("another letter case is no new group") << s(" ops ") << s("Ops");
        QTest::newRow("part of a name")
            << s("team") << s("Team Blue = Current; Create “team” / New group");
        QTest::newRow("a new name") << s("  Red Team\t") << s("Create “Red Team” / New group");
        QTest::newRow("the no-group text")
            << s("group")
            << s("No Group / Remove this account from its group; Create “group” / New group");
    }
    void groupChoices()
    {
        QFETCH(QString, query);
        QFETCH(QString, choices);
        Organization organization;
        organization.groupNames = {s("Ops"), s("Team Blue")};
        organization.accountGroups = {{s("111111111111"), s("Team Blue")}};
        QuickSearchFixture f(organization);
        QVERIFY(f.run(s("alpha|>|Change Group|>|@groups #2 Team Blue|=") + query).isEmpty());
        QCOMPARE(f.listed(), choices);
        if (query == s("  Red Team\t")) {
            QCOMPARE(f.model->groupChoices().at(0).groupName, s("Red Team"));
        }
    }

    void selectionWrapsAndClamps()
    {
        QuickSearchFixture f;
        f.model->moveSelection(-1);
        QCOMPARE(f.model->selection(), 4);
        f.model->moveSelection(+1);
        QCOMPARE(f.model->selection(), 0);
        f.model->selectLast();
        QCOMPARE(f.model->selection(), 4);
        QCOMPARE(f.model->clampedSelection(7), 4);
        QCOMPARE(f.model->clampedSelection(2), 2);
        // Typing selects the first row again; an empty list has nothing to select.
        f.model->setQuery(s("zzz"));
        QCOMPARE(f.model->selection(), 0);
        f.model->moveSelection(+1);
        f.model->selectLast();
        QCOMPARE(f.model->selection(), 0);
        QCOMPARE(f.model->clampedSelection(5), 0);
        QVERIFY(!f.model->currentAccount());
    }

    void openingTheConsoleDismissesOrSaysWhy()
    {
        QuickSearchFixture f;
        QVERIFY(f.run(s("bravo|enter|>|Browse Services|enter|IAM|enter")).isEmpty());
        QCOMPARE(f.events, (QStringList{s("dismiss"), s("dismiss")}));
        QCOMPARE(f.openedURLs.size(), 2);
        QVERIFY(f.openedURLs.at(0).toString(QUrl::FullyEncoded).contains(s("222222222222")));
        QVERIFY(f.openedURLs.at(1).toString(QUrl::FullyEncoded).contains(s("iam")));
        // Without a usable portal URL the panel stays and says why.
        f.settings->setString(key(settingskey::startUrl), s("http://example.com/start"));
        f.model->activateSelection();
        QCOMPARE(f.openedURLs.size(), 2);
        QVERIFY(f.model->flash());
        QCOMPARE(f.model->flash(), f.store->errorMessage());
    }

    void copyFailuresAreShown()
    {
        QuickSearchFixture f;
        QVERIFY(f.run(s("bravo|>|Copy Console Link|enter")).isEmpty());
        QVERIFY(f.events.last().startsWith(s("copy https://example.awsapps.com/start")));
        QVERIFY(f.events.last().contains(s("222222222222")));
        QCOMPARE(f.state(), s("accounts #1 bravo (Console link copied)"));
        // No link: the menu stays open.
        f.settings->setString(key(settingskey::startUrl), QString());
        QVERIFY(f.run(s(">|Copy Console Link|enter")).isEmpty());
        QCOMPARE(f.state(), s("actions #2 Copy Console Link (Could not create console link)"));
        // A failing clipboard still closes the menu.
        f.clipboardWorks = false;
        QVERIFY(f.run(s("Copy Account ID|enter")).isEmpty());
        QCOMPARE(f.state(), s("accounts #1 bravo (Could not copy to the clipboard.)"));
        // AWS profile discovery fails: the menu opens without the profile action.
        f.profileFailure = s("permission denied");
        QVERIFY(f.run(s("alpha|>")).isEmpty());
        QVERIFY(!f.listed().contains(s("Copy AWS Profile")));
        QCOMPARE(f.model->flash(), std::optional(s("Could not read ~/.aws/config.")));
    }

    void flashesReplaceEachOther()
    {
        QuickSearchFixture f;
        QSignalSpy changes(f.model.get(), &QuickSwitcherModel::flashChanged);
        f.model->showFlash(s("first"));
        f.clock->advance(1000ms);
        f.model->showFlash(s("second"));
        // The first timer would have ended here.
        f.clock->advance(1499ms);
        QCOMPARE(f.model->flash(), std::optional(s("second")));
        f.clock->advance(1ms);
        QCOMPARE(f.model->flash(), std::nullopt);
        QCOMPARE(changes.size(), 3);
        // A model dropped while its message shows leaves no timer behind.
        f.model->showFlash(s("third"));
        QCOMPARE(f.clock->pendingSleepers(), 1);
        f.model.reset();
        QCOMPARE(f.clock->pendingSleepers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestQuickSwitcherModel)
#include "tst_quickswitchermodel.moc"
