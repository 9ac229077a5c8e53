#include "ui/desktopshell.h"

#include "platform/popupplacement.h"
#include "ui/icons.h"
#include "ui/menucontent.h"
#include "ui/onboardingview.h"
#include "ui/settingsview.h"
#include "ui/windowfocus.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
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
    delete m_panel;
    delete m_onboarding;
    delete m_settings;
    delete m_trayMenu;
}

void DesktopShell::start(bool showOnboardingAtLaunch)
{
    // Closing the last window must not end a tray application.
    QApplication::setQuitOnLastWindowClosed(false);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(symbolIcon(Symbol::cloud), this);
        m_tray->setToolTip(qtTrId("Tessera"));
        m_trayMenu = new QMenu;
        m_trayMenu->addAction(qtTrId("Show Accounts"), this, &DesktopShell::showPanel);
        if (m_services.showQuickSearch) {
            m_trayMenu->addAction(qtTrId("Quick Search"), this, m_services.showQuickSearch);
        }
        m_trayMenu->addAction(qtTrId("Settings…"), this, &DesktopShell::showSettings);
        m_trayMenu->addSeparator();
        m_trayMenu->addAction(qtTrId("Quit Tessera"), this, [this] {
            if (m_services.quit) {
                m_services.quit();
            }
        });
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
        window = new QWidget(nullptr, Qt::Window);
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

    QPointer<QWidget> guarded(window);
    MenuContent::Actions actions{
        [guarded] {
            if (guarded) {
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
    OnboardingView::Actions actions{m_services.applyHotKey, m_services.openURL};
    auto *view = new OnboardingView(m_store, std::move(actions));
    view->setAttribute(Qt::WA_DeleteOnClose);
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
    m_settings = view;
    bringToFront(view);
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

} // namespace tessera

namespace tessera {

void DesktopShell::showNotice(const QString &title, const QString &text)
{
    if (m_tray && QSystemTrayIcon::supportsMessages()) {
        m_tray->showMessage(title, text, QSystemTrayIcon::Warning);
    }
}

} // namespace tessera
