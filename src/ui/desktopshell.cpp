#include "ui/desktopshell.h"

#include "platform/popupplacement.h"
#include "ui/desktopnotices.h"
#include "ui/icons.h"
#include "ui/menucontent.h"
#include "ui/onboardingview.h"
#include "ui/settingsview.h"
#include "ui/traystatus.h"
#include "ui/windowfocus.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace tessera {

namespace {
// A frameless panel that goes away as soon as it is no longer the active window, for
// platforms where a Qt::Popup cannot be placed freely (Wayland).
class TransientPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::ActivationChange && !isActiveWindow() &&
            !QApplication::activePopupWidget()) {
            close();
        }
        QWidget::changeEvent(event);
    }
};

// The panel as an ordinary window, for desktops without a tray. It is then Tessera's only
// way back in, so closing it minimises it unless another Tessera window remains open.
class PanelWindow : public QWidget
{
public:
    PanelWindow(std::function<bool()> mayHide)
        : QWidget(nullptr, Qt::Window)
        , m_mayHide(std::move(mayHide))
    {}

protected:
    void closeEvent(QCloseEvent *event) override
    {
        // Only the window manager's close button minimises: a close asked for by Tessera
        // itself (quitting closes every window first) or by the ending session must go
        // through, or it would cancel the quit or the user's logout.
        if (!event->spontaneous() || qApp->isSavingSession() || (m_mayHide && m_mayHide())) {
            QWidget::closeEvent(event);
            return;
        }
        event->ignore();
        showMinimized();
    }

private:
    std::function<bool()> m_mayHide;
};

// Without a notification service of the desktop's, messages go to the tray icon.
class FallbackOnlyNotifier : public DesktopNotifier
{
public:
    explicit FallbackOnlyNotifier(Fallback fallback)
        : m_fallback(std::move(fallback))
    {}
    void notify(const QString &title, const QString &body) override { m_fallback(title, body); }

private:
    Fallback m_fallback;
};

QCoro::Task<void> syncIfAlive(QPointer<AccountStore> store)
{
    if (store) {
        co_await store->sync();
    }
}

bool popupsAreGrabbing()
{
    // X11 lets a popup grab the pointer, which closes it on any click outside; other
    // platforms get a tool window that closes on deactivation.
    return QGuiApplication::platformName() == QLatin1String("xcb") ||
           QGuiApplication::platformName() == QLatin1String("offscreen");
}
} // namespace

DesktopShell::DesktopShell(AccountStore *store, Services services, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_services(std::move(services))
{}

DesktopShell::~DesktopShell()
{
    m_stopping = true;
    delete m_panel;
    delete m_onboarding;
    delete m_settings;
    delete m_trayMenu;
}

void DesktopShell::start(bool showOnboardingAtLaunch)
{
    // Closing the last window must not end a tray application.
    QApplication::setQuitOnLastWindowClosed(false);
    DesktopNotifier::Fallback trayMessage = [this](const QString &title, const QString &text) {
        showTrayMessage(title, text);
    };
    m_notifier = m_services.makeNotifier ? m_services.makeNotifier(std::move(trayMessage))
                                         : std::make_unique<FallbackOnlyNotifier>(trayMessage);
    new DesktopNotices(
        m_store, m_notifier.get(), [this] { return panelIsInView(); }, this);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(symbolIcon(Symbol::cloud), this);
        m_trayMenu = new QMenu;
        m_stateAction = m_trayMenu->addAction(QString());
        m_stateAction->setEnabled(false);
        m_trayMenu->addSeparator();
        m_trayMenu->addAction(qtTrId("Show Accounts"), this, &DesktopShell::showPanel);
        m_signInAction = m_trayMenu->addAction(qtTrId("Sign In…"), m_store, [this] {
            m_store->signIn();
            showPanel();
        });
        m_signOutAction =
            m_trayMenu->addAction(qtTrId("Sign Out"), m_store, &AccountStore::signOut);
        m_syncAction = m_trayMenu->addAction(qtTrId("Sync Now"), m_store, [this] {
            startTask<void>([store = QPointer<AccountStore>(m_store)](CancellationToken) {
                return syncIfAlive(store);
            });
        });
        m_trayMenu->addAction(qtTrId("Quick Search"), this, [this] {
            if (m_services.showQuickSearch) {
                m_services.showQuickSearch();
            } else {
                showPanel();
            }
        });
        m_trayMenu->addAction(qtTrId("Settings…"), this, &DesktopShell::showSettings);
        m_trayMenu->addSeparator();
        m_trayMenu->addAction(qtTrId("Quit Tessera"), this, [this] {
            if (m_services.quit) {
                m_services.quit();
            }
        });
        for (auto signal :
             {&AccountStore::sessionChanged, &AccountStore::accountsChanged,
              &AccountStore::syncingChanged, &AccountStore::lastSyncChanged,
              &AccountStore::errorMessageChanged, &AccountStore::tokenExpiresAtChanged,
              &AccountStore::hasRefreshTokenChanged}) {
            connect(m_store, signal, this, &DesktopShell::updateTray);
        }
        // "synced 5 minutes ago" ages, and a session comes close to its end, with no signal.
        auto *ageing = new QTimer(this);
        ageing->setInterval(std::chrono::minutes(1));
        connect(ageing, &QTimer::timeout, this, &DesktopShell::updateTray);
        ageing->start();
        updateTray();
        m_tray->setContextMenu(m_trayMenu);
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick) {
                        togglePanel();
                    }
                });
        m_tray->show();
    } else {
        showPanel();
    }
    if (showOnboardingAtLaunch) {
        showOnboarding();
    }
}

QWidget *DesktopShell::createPanel(bool asPopup)
{
    QWidget *window = nullptr;
    if (!asPopup) {
        window = new PanelWindow([this] { return otherWindowIsOpen(); });
        window->setWindowTitle(qtTrId("Tessera"));
    } else if (popupsAreGrabbing()) {
        window = new QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    } else {
        window = new TransientPanel(nullptr,
                                    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    }
    window->setObjectName(QStringLiteral("tesseraPanel"));
    window->setWindowIcon(symbolIcon(Symbol::cloud));
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);

    // A popup goes away after a role click or the gear; a window stays, since without a
    // tray it is the only way back to Tessera.
    QPointer<QWidget> guarded(window);
    MenuContent::Actions actions{
        [guarded, asPopup] {
            if (guarded && asPopup) {
                guarded->close();
            }
        },
        [this] { showSettings(); },
        m_services.showQuickSearch,
        m_services.quit,
        m_services.copyToClipboard,
        m_services.openURL,
    };
    auto *content = new MenuContent(m_store, std::move(actions), window);
    layout->addWidget(content);
    // The menu shows the chord in its shortcut column; the chord itself is global.
    const QString chord = m_services.quickSearchChord ? m_services.quickSearchChord() : QString();
    if (!chord.isEmpty() && content->moreActionsMenu()) {
        for (QAction *action : content->moreActionsMenu()->actions()) {
            if (action->text() == qtTrId("Quick Search")) {
                action->setText(action->text() + QLatin1Char('\t') + chord);
            }
        }
    }
    return window;
}

void DesktopShell::showPanel()
{
    if (m_panel) {
        bringToFront(m_panel);
        return;
    }
    const bool asPopup = m_tray != nullptr;
    m_panel = createPanel(asPopup);
    m_panel->adjustSize();
    if (asPopup) {
        const QRect iconGeometry = m_tray->geometry();
        const QPoint pointer = QCursor::pos();
        const QPoint anchor = iconGeometry.isValid() ? iconGeometry.center() : pointer;
        QScreen *screen = QGuiApplication::screenAt(anchor);
        if (!screen) {
            screen = QGuiApplication::primaryScreen();
        }
        const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
        m_panel->move(popupPosition(iconGeometry, pointer, m_panel->sizeHint(), available));
    }
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void DesktopShell::hidePanel()
{
    if (m_panel) {
        m_panel->close();
    }
}

void DesktopShell::togglePanel()
{
    if (m_panel && m_panel->isVisible()) {
        hidePanel();
    } else {
        showPanel();
    }
}

void DesktopShell::showOnboarding()
{
    if (m_onboarding) {
        bringToFront(m_onboarding);
        return;
    }
    OnboardingView::Actions actions{m_services.applyHotKey, m_services.openURL,
                                    m_services.copyToClipboard, m_tray != nullptr};
    auto *view = new OnboardingView(m_store, std::move(actions));
    view->setAttribute(Qt::WA_DeleteOnClose);
    connect(view, &QObject::destroyed, this, &DesktopShell::keepReachable);
    view->setWindowIcon(symbolIcon(Symbol::cloud));
    m_onboarding = view;
    view->show();
    view->raise();
    view->activateWindow();
}

void DesktopShell::showSettings()
{
    if (m_settings) {
        bringToFront(m_settings);
        return;
    }
    SettingsView::Actions actions;
    actions.applyHotKey = m_services.applyHotKey;
    actions.hotKeyErrorMessage = m_services.hotKeyErrorMessage;
    actions.cliSignInSharing = m_services.cliSignInSharing;
    auto *view = new SettingsView(m_store, std::move(actions));
    // Closing drops the window and its page state; the next open reads everything afresh.
    view->setAttribute(Qt::WA_DeleteOnClose);
    connect(view, &QObject::destroyed, this, &DesktopShell::keepReachable);
    m_settings = view;
    bringToFront(view);
}

void DesktopShell::updateTray()
{
    if (!m_tray) {
        return;
    }
    const TrayStatus status = trayStatus(trayFacts(*m_store), m_store->clock()->currentDateTime());
    Symbol icon = Symbol::cloud;
    switch (status.state) {
    case TrayState::signedOut:
        icon = Symbol::cloudSignedOut;
        break;
    case TrayState::signingIn:
        icon = Symbol::cloudSigningIn;
        break;
    case TrayState::error:
    case TrayState::sessionEnding:
        icon = Symbol::cloudError;
        break;
    case TrayState::syncing:
    case TrayState::synced:
        break;
    }
    m_tray->setIcon(symbolIcon(icon));
    m_tray->setToolTip(qtTrId("Tessera") + QLatin1Char('\n') + status.line);
    // The line is shown as menu text: an ampersand in an error stays an ampersand.
    QString line = status.line;
    m_stateAction->setText(line.replace(QLatin1Char('&'), QLatin1String("&&")));
    const AccountStoreSession &session = m_store->session();
    m_signInAction->setVisible(!session.isSignedIn());
    m_signInAction->setEnabled(session.isSignedOut());
    m_signOutAction->setVisible(session.isSignedIn());
    m_syncAction->setEnabled(session.isSignedIn() && !m_store->syncing());
}

bool DesktopShell::otherWindowIsOpen() const
{
    return (m_onboarding && m_onboarding->isVisible()) || (m_settings && m_settings->isVisible());
}

void DesktopShell::keepReachable()
{
    // Without a tray the panel hid only while another window was open; that one is gone.
    QTimer::singleShot(0, this, [this] {
        if (!m_stopping && !m_tray && !otherWindowIsOpen() && !(m_panel && m_panel->isVisible())) {
            showPanel();
        }
    });
}

void DesktopShell::handleReopen()
{
    if (m_onboarding && m_onboarding->isVisible()) {
        bringToFront(m_onboarding);
        return;
    }
    if (QWidget *settings = findSettingsWindow(); settings && settings->isVisible()) {
        focusSettingsWindow(20);
        return;
    }
    showPanel();
}

void DesktopShell::showNotice(const QString &title, const QString &text)
{
    if (m_notifier) {
        m_notifier->notify(title, text);
    }
}

bool DesktopShell::panelIsInView() const
{
    // A window without a tray stays open all the time; only the one the user works in
    // shows its own messages.
    return m_panel && m_panel->isVisible() && m_panel->isActiveWindow();
}

void DesktopShell::showTrayMessage(const QString &title, const QString &text)
{
    if (m_tray && QSystemTrayIcon::supportsMessages()) {
        m_tray->showMessage(title, text, QSystemTrayIcon::Warning);
    }
}

} // namespace tessera
