#pragma once

#include "accounts/accountstore.h"
#include "platform/desktopnotifier.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QSystemTrayIcon;
class QAction;
class QMenu;

namespace tessera {

class CLISignInSharing;

class MenuContent;
class OnboardingView;

// Tessera's presence on the desktop: the tray icon with its panel, the first-run window,
// and what happens when the user starts Tessera again. Without a system tray the panel
// is an ordinary window, so Tessera can always be reached.
class DesktopShell : public QObject
{
    Q_OBJECT

public:
    struct Services
    {
        OpenURLFunction openURL;
        std::function<bool(const QString &)> copyToClipboard;
        std::function<void()> showQuickSearch;
        // The Quick Search chord in the desktop's notation, shown beside the menu entry;
        // empty when there is none.
        std::function<QString()> quickSearchChord;
        std::function<void()> applyHotKey;
        // What the hotkey service last reported about the stored hotkey, if anything.
        std::function<std::optional<QString>()> hotKeyErrorMessage;
        std::function<void()> quit;
        // Keeps the AWS CLI's sign-in current; handed to the settings window.
        CLISignInSharing *cliSignInSharing = nullptr;
        // The desktop's notifications, given what shows a message when they fail; unset:
        // the tray icon's messages alone.
        std::function<std::unique_ptr<DesktopNotifier>(DesktopNotifier::Fallback)> makeNotifier;
    };

    DesktopShell(AccountStore *store, Services services, QObject *parent = nullptr);
    ~DesktopShell() override;

    // Shows the tray icon (or, without a tray, the panel window) and the first-run
    // window when asked.
    void start(bool showOnboarding);

    bool hasTrayIcon() const { return m_tray != nullptr; }
    QWidget *panel() const { return m_panel; }
    QWidget *onboardingWindow() const { return m_onboarding; }
    QWidget *settingsWindow() const { return m_settings; }

public Q_SLOTS:
    void showPanel();
    void hidePanel();
    void togglePanel();
    void showOnboarding();
    // Opens the settings window, or brings the open one forward.
    void showSettings();
    // Someone started Tessera again: bring an open window forward, else the panel.
    void handleReopen();
    // A message the user should see even with no window open: a desktop notification, or
    // one from the tray icon where the desktop has no notification service.
    void showNotice(const QString &title, const QString &text);

private:
    QWidget *createPanel(bool asPopup);
    bool otherWindowIsOpen() const;
    bool panelIsInView() const;
    void showTrayMessage(const QString &title, const QString &text);
    // Icon, tooltip and menu of the tray icon after a change of the store's state.
    void updateTray();
    void keepReachable();

    AccountStore *m_store;
    Services m_services;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_stateAction = nullptr;
    QAction *m_signInAction = nullptr;
    QAction *m_signOutAction = nullptr;
    QAction *m_syncAction = nullptr;
    QPointer<QWidget> m_panel;
    QPointer<QWidget> m_onboarding;
    QPointer<QWidget> m_settings;
    std::unique_ptr<DesktopNotifier> m_notifier;
    bool m_stopping = false;
};

} // namespace tessera
