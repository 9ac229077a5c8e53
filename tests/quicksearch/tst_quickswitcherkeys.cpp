// The key table: which key runs which operation, when a key is left to the search field,
// and the caret conditions of Left and Right.
#include "quicksearch/quickswitcherkeys.h"
#include "quicksearchfixture.h"

#include <QMetaEnum>

using namespace tessera;
using tessera::test::QuickSearchFixture;
using tessera::test::s;
using ListKind = QuickSwitcherModel::ListKind;

namespace {
// Where a row starts: the accounts list, or alpha's roles (reached with Return on alpha).
enum class Start
{
    accounts,
    roles
};

QString listName(ListKind kind)
{
    return QString::fromLatin1(QMetaEnum::fromType<ListKind>().valueToKey(int(kind)));
}
} // namespace

class TestQuickSwitcherKeys : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keyTable_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("selection");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        // Caret in the search field: position, and whether text is selected.
        QTest::addColumn<int>("cursor");
        QTest::addColumn<bool>("textSelected");
        QTest::addColumn<bool>("consumed");
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("selectionAfter");
        QTest::addColumn<int>("dismissals");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("alphaPinned");

        const int accounts = int(Start::accounts);
        const int roles = int(Start::roles);
        const int none = Qt::NoModifier;
        const int ctrl = Qt::ControlModifier;
        const QString a = s("accounts");
        const QString r = s("roles");
        // Back from a role list reached through the account's menu shows that menu again.
        const QString back = s("actions");
        // clang-format off
        QTest::newRow("down") << accounts << "" << 0 << int(Qt::Key_Down) << none << 0 << false << true << a << 1 << 0 << 0 << false;
        QTest::newRow("keypad down") << accounts << "" << 0 << int(Qt::Key_Down) << int(Qt::KeypadModifier) << 0 << false << true << a << 1 << 0 << 0 << false;
        QTest::newRow("up") << accounts << "" << 2 << int(Qt::Key_Up) << none << 0 << false << true << a << 1 << 0 << 0 << false;
        QTest::newRow("return") << accounts << "" << 0 << int(Qt::Key_Return) << none << 0 << false << true << r << 0 << 0 << 0 << false;
        QTest::newRow("keypad enter") << accounts << "" << 0 << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 0 << false << true << r << 0 << 0 << 0 << false;
        QTest::newRow("escape at the top closes") << accounts << "" << 0 << int(Qt::Key_Escape) << none << 0 << false << true << a << 0 << 1 << 0 << false;
        QTest::newRow("escape goes back") << roles << "" << 0 << int(Qt::Key_Escape) << none << 0 << false << true << back << -1 << 0 << 0 << false;
        QTest::newRow("tab") << accounts << "" << 1 << int(Qt::Key_Tab) << none << 0 << false << true << a << 1 << 0 << 0 << false;
        QTest::newRow("shift tab") << accounts << "" << 1 << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << 0 << false << true << a << 1 << 0 << 0 << false;
        QTest::newRow("backspace deletes text") << roles << "ad" << 0 << int(Qt::Key_Backspace) << none << 2 << false << false << r << 0 << 0 << 0 << false;
        QTest::newRow("backspace on empty goes back") << roles << "" << 0 << int(Qt::Key_Backspace) << none << 0 << false << true << back << -1 << 0 << 0 << false;
        QTest::newRow("backspace at the top") << accounts << "" << 0 << int(Qt::Key_Backspace) << none << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("home") << roles << "ad" << 0 << int(Qt::Key_Home) << none << 1 << false << true << a << 0 << 0 << 0 << false;
        QTest::newRow("end") << accounts << "" << 0 << int(Qt::Key_End) << none << 0 << false << true << a << 3 << 0 << 0 << false;
        QTest::newRow("end on an empty list") << accounts << "zzz" << 0 << int(Qt::Key_End) << none << 3 << false << true << a << 0 << 0 << 0 << false;
        QTest::newRow("left at the start goes back") << roles << "ad" << 0 << int(Qt::Key_Left) << none << 0 << false << true << back << -1 << 0 << 0 << false;
        QTest::newRow("left inside the text") << roles << "ad" << 0 << int(Qt::Key_Left) << none << 1 << false << false << r << 0 << 0 << 0 << false;
        QTest::newRow("left over a selection") << roles << "ad" << 0 << int(Qt::Key_Left) << none << 0 << true << false << r << 0 << 0 << 0 << false;
        QTest::newRow("left at the top") << accounts << "" << 0 << int(Qt::Key_Left) << none << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("right at the end drills in") << accounts << "al" << 0 << int(Qt::Key_Right) << none << 2 << false << true << s("actions") << 0 << 0 << 0 << false;
        QTest::newRow("right inside the text") << accounts << "al" << 0 << int(Qt::Key_Right) << none << 1 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("right over a selection") << accounts << "al" << 0 << int(Qt::Key_Right) << none << 2 << true << false << a << 0 << 0 << 0 << false;
        QTest::newRow("ctrl c copies the account id") << accounts << "" << 0 << int(Qt::Key_C) << ctrl << 0 << false << true << a << 0 << 0 << 1 << false;
        QTest::newRow("ctrl c over selected text") << accounts << "al" << 0 << int(Qt::Key_C) << ctrl << 2 << true << false << a << 0 << 0 << 0 << false;
        QTest::newRow("ctrl shift c") << accounts << "" << 0 << int(Qt::Key_C) << int(Qt::ControlModifier | Qt::ShiftModifier) << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("ctrl p pins") << accounts << "" << 0 << int(Qt::Key_P) << ctrl << 0 << false << true << a << 0 << 0 << 0 << true;
        QTest::newRow("ctrl shift p") << accounts << "" << 0 << int(Qt::Key_P) << int(Qt::ControlModifier | Qt::ShiftModifier) << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("ctrl alt p") << accounts << "" << 0 << int(Qt::Key_P) << int(Qt::ControlModifier | Qt::AltModifier) << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("ctrl meta p") << accounts << "" << 0 << int(Qt::Key_P) << int(Qt::ControlModifier | Qt::MetaModifier) << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("plain p is typing") << accounts << "" << 0 << int(Qt::Key_P) << none << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("ctrl r picks a region") << accounts << "" << 0 << int(Qt::Key_R) << ctrl << 0 << false << true << s("regions") << -1 << 0 << 0 << false;
        QTest::newRow("ctrl shift r") << accounts << "" << 0 << int(Qt::Key_R) << int(Qt::ControlModifier | Qt::ShiftModifier) << 0 << false << false << a << 0 << 0 << 0 << false;
        QTest::newRow("other keys") << accounts << "" << 0 << int(Qt::Key_F5) << none << 0 << false << false << a << 0 << 0 << 0 << false;
        // clang-format on
    }

    void keyTable()
    {
        QFETCH(int, start);
        QFETCH(QString, query);
        QFETCH(int, selection);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, cursor);
        QFETCH(bool, textSelected);
        QFETCH(bool, consumed);
        QFETCH(QString, list);
        QFETCH(int, selectionAfter);
        QFETCH(int, dismissals);
        QFETCH(int, copies);
        QFETCH(bool, alphaPinned);

        QuickSearchFixture f(test::sampleAccounts());
        QuickSwitcherModel &model = *f.model;
        if (Start(start) == Start::roles) {
            model.activateSelection();
            QCOMPARE(model.currentList(), ListKind::roles);
        }
        model.setQuery(query);
        model.setSelection(selection);

        SearchFieldCaret caret{true, cursor, int(query.size()), textSelected};
        QCOMPARE(handleQuickSwitcherKey(model, key, Qt::KeyboardModifiers(modifiers), caret),
                 consumed);
        QCOMPARE(listName(model.currentList()), list);
        if (selectionAfter >= 0) {
            QCOMPARE(model.selection(), selectionAfter);
        }
        QCOMPARE(f.dismissals, dismissals);
        QCOMPARE(f.clipboard.size(), qsizetype(copies));
        QCOMPARE(f.store->organization().pinnedAccountIds.contains(s("111111111111")), alphaPinned);
    }

    // Without an edited field the caret conditions hold.
    void caretConditionsHoldWithoutAField()
    {
        QuickSearchFixture f(test::sampleAccounts());
        f.model->activateSelection();
        f.model->setQuery(s("ad"));
        QVERIFY(handleQuickSwitcherKey(*f.model, Qt::Key_Left, Qt::NoModifier, {}));
        QCOMPARE(f.model->currentList(), ListKind::actions);
    }
};

QTEST_GUILESS_MAIN(TestQuickSwitcherKeys)
#include "tst_quickswitcherkeys.moc"
