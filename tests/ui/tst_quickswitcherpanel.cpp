// The Quick Search panel driven as a user would: showings, keys through the real widgets,
// what the header and footer say, and the hotkey's outcome.
#include "platform/hotkeymanager.h"
#include "storage/settings.h"
#include "support/testsupport.h"
#include "support/viewteststore.h"
#include "ui/quickswitchercontroller.h"
#include "ui/quickswitcherlistmodel.h"
#include "ui/quickswitcherpanel.h"
#include "ui/quickswitcherview.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QToolButton>
#include <QtTest>

using namespace tessera;
using namespace Qt::StringLiterals;

namespace {
// Answers every registration as told, remembering what it was asked.
class FakeHotKeyManager : public HotKeyManager
{
public:
    QCoro::Task<void> registerChord(QKeyCombination chord) override
    {
        chords.append(chord);
        m_registered = false;
        if (taken.contains(chord)) {
            throw HotKeyError::registrationFailed(10);
        }
        m_registered = chord.key() != Qt::Key_unknown;
        co_return;
    }
    bool isRegistered() const override { return m_registered; }

    QList<QKeyCombination> taken;
    QList<QKeyCombination> chords;

private:
    bool m_registered = false;
};

// A controller over a store holding alpha (two roles), bravo (one), charlie (none) and delta
// (three).
struct PanelHarness
{
    explicit PanelHarness(QList<QKeyCombination> takenChords = {})
    {
        registerTesseraDefaults(*fixture.settings);
        fixture.settings->setString(key(settingskey::startUrl),
                                    u"https://example.awsapps.com/start"_s);
        fixture.setAccounts(
            {{u"111111111111"_s, u"alpha"_s, {u"Admin"_s, u"ReadOnly"_s}},
             {u"222222222222"_s, u"bravo"_s, {u"Admin"_s}},
             {u"333333333333"_s, u"charlie"_s, {}},
             {u"444444444444"_s, u"delta"_s, {u"Deploy"_s, u"Admin"_s, u"ReadOnly"_s}}});
        auto manager = std::make_unique<FakeHotKeyManager>();
        manager->taken = std::move(takenChords);
        hotKeys = manager.get();
        QuickSwitcherController::Services services;
        services.settings = fixture.settings;
        services.copyToPasteboard = [this](const QString &text) {
            copied.append(text);
            return true;
        };
        services.awsProfileNames = [](const QString &, const std::optional<QString> &) {
            return QStringList();
        };
        services.hotKeys = std::move(manager);
        services.clock = fixture.clock;
        services.translucent = false;
        controller = std::make_unique<QuickSwitcherController>(std::move(services));
        controller->setStore(fixture.store.get());
    }

    QuickSwitcherView *view() const { return controller->panel()->view(); }
    QLineEdit *field() const { return view()->searchField(); }
    void settle() const { QCoreApplication::processEvents(); }

    test::ViewTestStore fixture;
    FakeHotKeyManager *hotKeys = nullptr;
    QStringList copied;
    std::unique_ptr<QuickSwitcherController> controller;
};
} // namespace

class TestQuickSwitcherPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aHiddenPanelStartsFresh()
    {
        PanelHarness h;
        h.controller->toggle();
        QVERIFY(h.controller->isShown());
        QuickSwitcherPanel *panel = h.controller->panel();

        QTest::keyClicks(h.field(), u"alp"_s);
        h.settle();
        QCOMPARE(h.view()->listModel()->rowCount(), 1);
        QTest::keyClick(h.field(), Qt::Key_Return);
        QCOMPARE(h.controller->model()->currentList(), QuickSwitcherModel::ListKind::roles);

        const QPointer<QuickSwitcherModel> first = h.controller->model();
        h.controller->toggle();
        QVERIFY(!h.controller->isShown());
        QVERIFY(!h.controller->model());
        h.controller->toggle();
        QCOMPARE(h.controller->panel(), panel);
        QVERIFY(h.controller->model() != first.data());
        QCOMPARE(h.controller->model()->currentList(), QuickSwitcherModel::ListKind::accounts);
        QCOMPARE(h.field()->text(), QString());
        h.settle();
        QCOMPARE(h.view()->listModel()->rowCount(), 4);

        // Another active window hides it as well.
        QApplication::setActiveWindow(panel);
        QVERIFY(panel->isActiveWindow());
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_VERIFY(!h.controller->isShown());
        QVERIFY(!h.controller->model());
    }

    void keysGoThroughTheKeyTable()
    {
        PanelHarness h;
        h.controller->show();
        QApplication::setActiveWindow(h.controller->panel());
        h.field()->setFocus();
        QTest::keyClick(h.field(), Qt::Key_Down);
        QCOMPARE(h.controller->model()->selection(), 1);
        h.settle();
        QCOMPARE(h.view()->listModel()->selectedRow(), 1);

        // Tab never leaves the search field.
        QTest::keyClick(h.field(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), h.field());

        // Keys the table leaves alone reach the field: Left moves the caret.
        QTest::keyClicks(h.field(), u"al"_s);
        QTest::keyClick(h.field(), Qt::Key_Left);
        QCOMPARE(h.field()->cursorPosition(), 1);
        QCOMPARE(h.controller->model()->currentList(), QuickSwitcherModel::ListKind::accounts);

        // Escape clears the search, then closes the panel.
        QTest::keyClick(h.field(), Qt::Key_Escape);
        QTest::keyClick(h.field(), Qt::Key_Escape);
        QVERIFY(!h.controller->isShown());
    }

    void headerFooterAndEmptyList()
    {
        PanelHarness h;
        h.controller->show();
        h.settle();
        QuickSwitcherView *view = h.view();
        QVERIFY(view->footerHints()->text().contains(u"\u21B5 Enter"_s));
        QVERIFY(!view->contextChip()->isVisibleTo(view));
        QVERIFY(view->regionButton()->isVisibleTo(view));

        QTest::keyClick(h.field(), Qt::Key_Return);
        h.settle();
        QVERIFY(view->contextChip()->isVisibleTo(view));
        QVERIFY(view->contextChip()->text().contains(u"alpha"_s));
        QVERIFY(view->footerHints()->text().contains(u"Services"_s));

        QTest::keyClick(h.field(), Qt::Key_Home);
        QTest::keyClicks(h.field(), u"zzz"_s);
        h.settle();
        QCOMPARE(view->listModel()->rowCount(), 0);
        QVERIFY(view->findChild<QLabel *>(u"quickSearchNoMatches"_s)->isVisibleTo(view));
    }

    void rowMenusSelectAndAct()
    {
        PanelHarness h;
        h.controller->show();
        h.settle();
        std::unique_ptr<QMenu> menu(h.view()->createRowMenu(1, nullptr));
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 2);
        menu->actions().at(1)->trigger();
        QCOMPARE(h.controller->model()->selection(), 1);
        QCOMPARE(h.copied, QStringList{u"222222222222"_s});
        menu->actions().at(0)->trigger();
        QCOMPARE(h.fixture.store->organization().pinnedAccountIds, QStringList{u"222222222222"_s});
    }

    void hotKeyOutcomeIsObservable()
    {
        // Alt+Space taken (the window menu), and Ctrl+Space too: the others are offered.
        PanelHarness failing({QKeyCombination(Qt::AltModifier, Qt::Key_Space),
                              QKeyCombination(Qt::ControlModifier, Qt::Key_Space)});
        test::waitFor(failing.controller->applyHotKeySetting().result());
        QCOMPARE(failing.controller->hotKeyErrorMessage().value_or(QString()),
                 u"Could not register the global hotkey. It may already be in use. These are "
                 "free: Meta+Alt+Space, Meta+Alt+K, Ctrl+Alt+A. You can instead bind the "
                 "command \u201Ctessera --quick-search\u201D to a shortcut in your desktop's "
                 "keyboard settings."_s);
        QVERIFY(!failing.hotKeys->isRegistered());

        PanelHarness working;
        working.fixture.settings->setString(key(settingskey::quickSearchHotkey), u"ctrl-space"_s);
        test::waitFor(working.controller->applyHotKeySetting().result());
        QVERIFY(!working.controller->hotKeyErrorMessage());
        QCOMPARE(working.hotKeys->chords.last(),
                 QKeyCombination(Qt::ControlModifier, Qt::Key_Space));
        working.fixture.settings->setString(key(settingskey::quickSearchHotkey), u"off"_s);
        test::waitFor(working.controller->applyHotKeySetting().result());
        QVERIFY(!working.hotKeys->isRegistered());

        // The chord toggles the panel.
        Q_EMIT working.hotKeys->activated();
        QTRY_VERIFY(working.controller->isShown());
    }
};

QTEST_MAIN(TestQuickSwitcherPanel)
#include "tst_quickswitcherpanel.moc"
