// Tessera on the desktop: reachable without a tray, a tray that says the state, and
// notifications for what happens while the panel is closed.
#include "platform/desktopnotifier.h"
#include "storage/settings.h"
#include "support/testsupport.h"
#include "support/viewteststore.h"
#include "ui/desktopnotices.h"
#include "ui/desktopshell.h"
#include "ui/icons.h"
#include "ui/menucontent.h"
#include "ui/traystatus.h"

#include <QToolButton>
#include <QWindow>
#include <QtTest>

Q_DECLARE_METATYPE(tessera::TrayFacts)

using namespace tessera;
using namespace Qt::StringLiterals;

namespace {
// Tessera can be reached when a window of it is on screen or in the task bar.
bool reachable(const DesktopShell &shell)
{
    for (QWidget *window : {shell.panel(), shell.settingsWindow(), shell.onboardingWindow()}) {
        if (window && window->isVisible()) {
            return true;
        }
    }
    return false;
}

void deliverDeletions()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

class FakeNotifier : public DesktopNotifier
{
public:
    void notify(const QString &title, const QString &) override { titles.append(title); }
    QStringList titles;
};
} // namespace

class TestDesktopShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutATrayThePanelStaysReachable_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("role click") << u"role"_s;
        QTest::newRow("gear, then closing settings") << u"gear"_s;
        QTest::newRow("the window's close button") << u"close"_s;
        // Quitting closes every window; that close must go through.
        QTest::newRow("closed by Tessera") << u"quit"_s;
    }
    void withoutATrayThePanelStaysReachable()
    {
        QFETCH(QString, action);
        test::ViewTestStore fixture;
        registerTesseraDefaults(*fixture.settings);
        fixture.setSession(AccountStoreSession::signedIn());
        const AWSAccount account{u"111111111111"_s, u"Production"_s, {u"ReadOnly"_s}};
        fixture.setAccounts({account});
        DesktopShell shell(fixture.store.get(), {});
        shell.start(false);
        QVERIFY(!shell.hasTrayIcon());
        QVERIFY(shell.panel()->isVisible());

        if (action == QLatin1String("quit")) {
            shell.panel()->close();
            deliverDeletions();
            QVERIFY(!shell.panel());
            return;
        }
        if (action == QLatin1String("close")) {
            // As the window manager asks: to the window, which tells the widget.
            QCloseEvent close;
            QCoreApplication::sendEvent(shell.panel()->windowHandle(), &close);
        } else if (action == QLatin1String("role")) {
            shell.panel()->findChild<MenuContent *>()->openRole(account, account.roles.first());
            QCOMPARE(fixture.openedURLs.size(), 1);
        } else {
            shell.panel()->findChild<QToolButton *>(u"settingsButton"_s)->click();
            QVERIFY(test::processEventsUntil([&] { return shell.settingsWindow() != nullptr; }));
            // While settings is open the panel may go; closing settings brings it back.
            shell.panel()->close();
            deliverDeletions();
            QVERIFY(reachable(shell));
            shell.settingsWindow()->close();
        }
        deliverDeletions();
        QVERIFY(test::processEventsUntil([&] { return reachable(shell); }));
        QVERIFY(shell.panel());
    }

    void trayStatusSaysTheState_data()
    {
        QTest::addColumn<TrayFacts>("facts");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line");
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000);
        const QDateTime soon = now.addSecs(10 * 60);
        const auto signedIn = AccountStoreSession::signedIn();

        TrayFacts facts;
        const auto row = [&facts](const char *name, TrayState state, const QString &line) {
            QTest::newRow(name) << facts << int(state) << line;
        };
        row("signed out", TrayState::signedOut, u"Signed out"_s);
        facts.session = AccountStoreSession::signingIn(u"ABCD-EFGH"_s);
        row("signing in", TrayState::signingIn,
            u"Signing in — enter code ABCD-EFGH in your browser"_s);
        facts = {signedIn, false, now.addSecs(-5 * 60), 12, {}, now.addSecs(3600), false};
        row("synced", TrayState::synced, u"Synced 5 minutes ago · 12 accounts"_s);
        facts.syncing = true;
        row("syncing", TrayState::syncing, u"Syncing accounts…"_s);
        facts = {signedIn, false, now, 1, {}, soon, false};
        row("session ending", TrayState::sessionEnding,
            u"Session ends at %1 — sign in again to keep syncing"_s.arg(
                soon.toLocalTime().toString(u"HH:mm"_s)));
        facts.hasRefreshToken = true;
        row("renewing session", TrayState::synced, u"Synced just now · 1 account"_s);
        facts.errorMessage = u"The access portal rejected the request."_s;
        row("error", TrayState::error, u"The access portal rejected the request."_s);
    }
    void trayStatusSaysTheState()
    {
        QFETCH(TrayFacts, facts);
        QFETCH(int, state);
        QFETCH(QString, line);
        const TrayStatus status = trayStatus(facts, QDateTime::fromSecsSinceEpoch(1'800'000'000));
        QCOMPARE(int(status.state), state);
        QCOMPARE(status.line, line);
    }

    // The bundled glyphs take the palette's text colour: light on a dark style.
    void glyphsFollowThePalette()
    {
        QPalette dark = QGuiApplication::palette();
        dark.setColor(QPalette::WindowText, Qt::white);
        QGuiApplication::setPalette(dark);
        const QImage glyph = symbolIcon(Symbol::folded).pixmap(32).toImage();
        QGuiApplication::setPalette(QPalette());
        int light = 0;
        for (int y = 0; y < glyph.height(); ++y) {
            for (int x = 0; x < glyph.width(); ++x) {
                const QColor pixel = glyph.pixelColor(x, y);
                light += pixel.alpha() > 128 && pixel.lightness() > 200 ? 1 : 0;
            }
        }
        QVERIFY(light > 10);
    }

    // Steps: "synced" a success before this run, "in"/"out" the session, "start"/"end" a
    // sync, "error" a failure (the running sync's, else a message of the store's), "broken"
    // every sync failing, "profiles" the AWS profiles failing after the sync listed, "open"
    // the panel, "off" the setting.
    void noticesWhileThePanelIsClosed_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const char *steps, const char *shown) {
            QTest::newRow(name) << QString::fromUtf8(steps) << QString::fromUtf8(shown);
        };
        row("session ended", "in out error", "Sign in to Tessera again");
        row("signed out by the user", "in out", "");
        row("sync failed after a success", "synced in start error end", "Sync failed");
        row("failing again", "synced in start error end start error end", "Sync failed");
        row("never succeeded", "broken in start end", "");
        row("routine sync", "synced in start end", "");
        row("profiles not updated", "in start profiles end", "AWS profiles not updated");
        row("panel open", "open in out error", "");
        row("turned off", "off synced in start error end", "");
    }
    void noticesWhileThePanelIsClosed()
    {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        test::ViewTestStore fixture;
        AccountStore &store = *fixture.store;
        registerTesseraDefaults(*fixture.settings);
        // Connected before the notices, so that they see the message as the sync ends.
        bool profilesFail = false;
        connect(&store, &AccountStore::syncingChanged, &store, [&] {
            if (!store.syncing() && profilesFail) {
                store.setErrorMessage(u"boom"_s);
            }
        });
        FakeNotifier notifier;
        bool panelOpen = false;
        std::unique_ptr<DesktopNotices> notices;
        const auto attach = [&] {
            notices = std::make_unique<DesktopNotices>(&store, &notifier,
                                                       [&panelOpen] { return panelOpen; });
        };
        attach();
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            if (step == QLatin1String("synced")) {
                fixture.setLastSync(fixture.clock->currentDateTime());
                attach();
            } else if (step == QLatin1String("in") || step == QLatin1String("out")) {
                fixture.setSession(step == QLatin1String("in") ? AccountStoreSession::signedIn()
                                                               : AccountStoreSession::signedOut());
            } else if (step == QLatin1String("start") || step == QLatin1String("end")) {
                fixture.setSyncing(step == QLatin1String("start"));
            } else if (step == QLatin1String("broken") ||
                       (step == QLatin1String("error") && store.syncing())) {
                const QString failing = u"999999999999"_s;
                fixture.service->accounts.append(AccountEntry{failing, u"broken"_s});
                fixture.service->roleFailureStatus.insert(failing, 400);
            } else if (step == QLatin1String("error")) {
                store.setErrorMessage(u"boom"_s);
            } else if (step == QLatin1String("profiles")) {
                profilesFail = true;
            } else if (step == QLatin1String("open")) {
                panelOpen = true;
            } else if (step == QLatin1String("off")) {
                fixture.settings->setBool(key(settingskey::desktopNotifications), false);
            }
        }
        QCOMPARE(notifier.titles.join(QLatin1Char('\n')), shown);
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktopshell.moc"
