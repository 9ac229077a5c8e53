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
#include <QScreen>
#include <QToolButton>
#include <QtTest>

using namespace tessera;

namespace {
QString s(const char *text)
{
    return QString::fromUtf8(text);
}

// A store holding alpha (two roles), bravo (one), charlie (none) and delta (three).
struct QuickSearchFixture : test::ViewTestStore
{
    QuickSearchFixture()
    {
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl), s("https://example.awsapps.com/start"));
        settings->setString(key(settingskey::ssoRegion), s("us-west-1"));
        setAccounts({{s("111111111111"), s("alpha"), {s("Admin"), s("ReadOnly")}},
                     {s("222222222222"), s("bravo"), {s("Admin")}},
                     {s("333333333333"), s("charlie"), {}},
                     {s("444444444444"), s("delta"), {s("Deploy"), s("Admin"), s("ReadOnly")}}});
    }
};

// Answers every registration as told, remembering what it was asked.
class FakeHotKeyManager : public HotKeyManager
{
public:
    QCoro::Task<void> registerChord(QKeyCombination chord) override
    {
        chords.append(chord);
        m_registered = false;
        if (fails) {
            throw HotKeyError::registrationFailed(10);
        }
        m_registered = chord.key() != Qt::Key_unknown;
        co_return;
    }
    bool isRegistered() const override { return m_registered; }

    bool fails = false;
    QList<QKeyCombination> chords;

private:
    bool m_registered = false;
};

struct PanelHarness
{
    explicit PanelHarness(bool hotKeyFails = false)
    {
        auto manager = std::make_unique<FakeHotKeyManager>();
        manager->fails = hotKeyFails;
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

    QuickSearchFixture fixture;
    FakeHotKeyManager *hotKeys = nullptr;
    QStringList copied;
    std::unique_ptr<QuickSwitcherController> controller;
};
} // namespace

class TestQuickSwitcherPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondToggleStartsFresh()
    {
        PanelHarness h;
        h.controller->toggle();
        QVERIFY(h.controller->isShown());
        QuickSwitcherPanel *panel = h.controller->panel();
        QCOMPARE(panel->size(), QSize(680, 440));
        const Qt::WindowFlags flags = panel->windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel->pos(), QPoint(screen.x() + (screen.width() - 680) / 2,
                                      screen.y() + qRound(0.28 * screen.height())));

        QTest::keyClicks(h.field(), s("alp"));
        QCOMPARE(h.controller->model()->query(), s("alp"));
        h.settle();
        QCOMPARE(h.view()->listModel()->rowCount(), 1);
        QTest::keyClick(h.field(), Qt::Key_Return);
        QCOMPARE(h.controller->model()->currentList(), QuickSwitcherModel::ListKind::roles);

        const QPointer<QuickSwitcherModel> first = h.controller->model();
        h.controller->toggle();
        QVERIFY(!h.controller->isShown());
        QVERIFY(!h.controller->model());
        h.controller->toggle();
        QVERIFY(h.controller->isShown());
        QCOMPARE(h.controller->panel(), panel);
        QVERIFY(h.controller->model() != first.data());
        QCOMPARE(h.controller->model()->currentList(), QuickSwitcherModel::ListKind::accounts);
        QCOMPARE(h.field()->text(), QString());
        h.settle();
        QVERIFY(h.controller->isShown());
        QCOMPARE(h.view()->listModel()->rowCount(), 4);
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
        QTest::keyClicks(h.field(), s("al"));
        QTest::keyClick(h.field(), Qt::Key_Left);
        QCOMPARE(h.field()->cursorPosition(), 1);
        QCOMPARE(h.controller->model()->currentList(), QuickSwitcherModel::ListKind::accounts);

        // Ctrl+Shift+P is not taken; Ctrl+P pins.
        QTest::keyClick(h.field(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(h.fixture.store->organization().pinnedAccountIds.isEmpty());
        QTest::keyClick(h.field(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(h.fixture.store->organization().pinnedAccountIds, QStringList{s("111111111111")});

        // Escape clears the search, then closes the panel.
        QTest::keyClick(h.field(), Qt::Key_Escape);
        QTest::keyClick(h.field(), Qt::Key_Escape);
        QVERIFY(!h.controller->isShown());
    }

    void anotherActiveWindowHidesThePanel()
    {
        PanelHarness h;
        h.controller->show();
        QApplication::setActiveWindow(h.controller->panel());
        QVERIFY(h.controller->panel()->isActiveWindow());
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_VERIFY(!h.controller->isShown());
        QVERIFY(!h.controller->model());
    }

    void headerFooterAndEmptyList()
    {
        PanelHarness h;
        h.controller->show();
        h.settle();
        QuickSwitcherView *view = h.view();
        QVERIFY(view->footerHints()->text().contains(QStringLiteral("\u21B5 Enter")));
        QVERIFY(view->footerHints()->text().contains(s("Esc")));
        QVERIFY(!view->contextChip()->isVisibleTo(view));
        QVERIFY(view->regionButton()->isVisibleTo(view));
        QCOMPARE(view->regionButton()->text(), s("us-west-1"));
        QCOMPARE(view->regionButton()->toolTip(), s("Change console Region (Ctrl+R)"));

        QTest::keyClick(h.field(), Qt::Key_Return);
        h.settle();
        QVERIFY(view->contextChip()->isVisibleTo(view));
        QVERIFY(view->contextChip()->text().contains(s("Roles")));
        QVERIFY(view->contextChip()->text().contains(s("alpha")));
        QVERIFY(view->footerHints()->text().contains(s("Services")));

        QTest::keyClick(h.field(), Qt::Key_Home);
        QTest::keyClicks(h.field(), s("zzz"));
        h.settle();
        QCOMPARE(view->listModel()->rowCount(), 0);
        QVERIFY(view->findChild<QLabel *>(s("quickSearchNoMatches"))->isVisibleTo(view));
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
        QCOMPARE(h.copied, QStringList{s("222222222222")});
        menu->actions().at(0)->trigger();
        QCOMPARE(h.fixture.store->organization().pinnedAccountIds, QStringList{s("222222222222")});
    }

    void hotKeyOutcomeIsObservable()
    {
        PanelHarness failing(true);
        test::waitFor(failing.controller->applyHotKeySetting().result());
        QVERIFY(failing.controller->hotKeyErrorMessage());
        QVERIFY(failing.controller->hotKeyErrorMessage()->startsWith(
            s("Could not register the global hotkey. It may already be in use.")));
        QVERIFY(failing.controller->hotKeyErrorMessage()->contains(s("tessera --quick-search")));

        PanelHarness working;
        working.fixture.settings->setString(key(settingskey::quickSearchHotkey), s("ctrl-space"));
        test::waitFor(working.controller->applyHotKeySetting().result());
        QVERIFY(!working.controller->hotKeyErrorMessage());
        QCOMPARE(working.hotKeys->chords.last(),
                 QKeyCombination(Qt::ControlModifier, Qt::Key_Space));
        working.fixture.settings->setString(key(settingskey::quickSearchHotkey), s("off"));
        test::waitFor(working.controller->applyHotKeySetting().result());
        QVERIFY(!working.hotKeys->isRegistered());

        // The chord toggles the panel.
        Q_EMIT working.hotKeys->activated();
        QTRY_VERIFY(working.controller->isShown());
    }
};

QTEST_MAIN(TestQuickSwitcherPanel)
#include "tst_quickswitcherpanel.moc"
