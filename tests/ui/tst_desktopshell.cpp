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
    void notify(const QString &title, const QString &body) override
    {
        shown.append(title + QStringLiteral(": ") + body);
    }
    QStringList shown;
};
} // namespace

class TestDesktopShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutATrayThePanelStaysReachable_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("role click") << QStringLiteral("role");
        QTest::newRow("gear, then closing settings") << QStringLiteral("gear");
        QTest::newRow("the window's close button") << QStringLiteral("close");
        // Quitting closes every window; that close must go through.
        QTest::newRow("closed by Tessera") << QStringLiteral("quit");
    }
    void withoutATrayThePanelStaysReachable()
    {
        QFETCH(QString, action);
        test::ViewTestStore fixture;
        registerTesseraDefaults(*fixture.settings);
        fixture.settings->setString(key(settingskey::startUrl),
                                    QStringLiteral("https://example.awsapps.com/start"));
        fixture.setSession(AccountStoreSession::signedIn());
        const AWSAccount account{QStringLiteral("111111111111"),
                                 QStringLiteral("Production"),
                                 {QStringLiteral("ReadOnly")}};
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
            shell.panel()->findChild<QToolButton *>(QStringLiteral("settingsButton"))->click();
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
        QTest::newRow("signed out") << facts << int(TrayState::signedOut) << "Signed out";
        facts.session = AccountStoreSession::signingIn(QStringLiteral("ABCD-EFGH"));
        QTest::newRow("signing in") << facts << int(TrayState::signingIn)
                                    << "Signing in — enter code ABCD-EFGH in your browser";
        facts = {signedIn, false, now.addSecs(-5 * 60), 12, {}, now.addSecs(3600), false};
        QTest::newRow("synced") << facts << int(TrayState::synced)
                                << "Synced 5 minutes ago · 12 accounts";
        facts.syncing = true;
        QTest::newRow("syncing") << facts << int(TrayState::syncing) << "Syncing accounts…";
        facts = {signedIn, false, now, 1, {}, soon, false};
        QTest::newRow("session ending")
            << facts << int(TrayState::sessionEnding)
            << QStringLiteral("Session ends at %1 — sign in again to keep syncing")
                   .arg(soon.toLocalTime().toString(QStringLiteral("HH:mm")));
        facts.hasRefreshToken = true;
        QTest::newRow("renewing session")
            << facts << int(TrayState::synced) << "Synced just now · 1 account";
        facts.errorMessage = QStringLiteral("The access portal rejected the request.");
        QTest::newRow("error") << facts << int(TrayState::error)
                               << "The access portal rejected the request.";
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
    // the panel, "off" the setting. The titles of the notifications shown are compared.
    void noticesWhileThePanelIsClosed_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        const QString failed = QStringLiteral("Sync failed");
        QTest::newRow("session ended") << "in out error"
                                       << "Sign in to Tessera again";
        QTest::newRow("signed out by the user") << "in out"
                                                << "";
        QTest::newRow("sync failed after a success") << "synced in start error end" << failed;
        QTest::newRow("failing again") << "synced in start error end start error end" << failed;
        QTest::newRow("never succeeded") << "broken in start end"
                                         << "";
        QTest::newRow("routine sync") << "synced in start end"
                                      << "";
        QTest::newRow("profiles not updated") << "in start profiles end"
                                              << "AWS profiles not updated";
        QTest::newRow("panel open") << "open in out error"
                                    << "";
        QTest::newRow("turned off") << "off synced in start error end"
                                    << "";
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
                store.setErrorMessage(QStringLiteral("boom"));
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
        const QString failing = QStringLiteral("999999999999");
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
                fixture.service->accounts.append(AccountEntry{failing, QStringLiteral("broken")});
                fixture.service->roleFailureStatus.insert(failing, 400);
            } else if (step == QLatin1String("error")) {
                store.setErrorMessage(QStringLiteral("boom"));
            } else if (step == QLatin1String("profiles")) {
                profilesFail = true;
            } else if (step == QLatin1String("open")) {
                panelOpen = true;
            } else if (step == QLatin1String("off")) {
                fixture.settings->setBool(key(settingskey::desktopNotifications), false);
            }
        }
        QStringList titles;
        for (const QString &line : notifier.shown) {
            titles.append(line.section(QStringLiteral(": "), 0, 0));
        }
        QCOMPARE(titles.join(QLatin1Char('\n')), shown);
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktopshell.moc"
