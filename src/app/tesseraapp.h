#pragma once

#include "accounts/accountstore.h"
#include "accounts/clisigninsharing.h"
#include "platform/singleinstance.h"
#include "storage/keychain.h"
#include "storage/settingsstore.h"

#include <QObject>
#include <functional>
#include <memory>

namespace tessera {

class DesktopShell;
class SystemResumeNotifier;
class HotKeyManager;
class QuickSwitcherController;

// What the application is built from. `production()` gives the user's real settings,
// secure store and clocks; tests hand in fakes.
struct TesseraAppDependencies
{
    std::shared_ptr<SettingsStore> settings;
    // Called only when the store loads persisted state, so an inert start never even
    // looks for a Secret Service.
    std::function<KeychainSecurityOperations()> keychainOperations;
    TokenRefreshScheduler tokenRefreshScheduler;
    OpenURLFunction openURL;
    // Tells the store when the machine wakes from suspend; none in tests.
    std::function<std::unique_ptr<SystemResumeNotifier>()> systemResumeNotifier;
    // The global hotkey facility; unset: the desktop's own.
    std::function<std::unique_ptr<HotKeyManager>()> hotKeyManager;
    // Set when the process runs under an automated test harness: nothing is read,
    // migrated, scheduled or registered.
    bool inert = false;

    static TesseraAppDependencies production();
};

// The application: registers the settings defaults, migrates old settings once, builds
// the one AccountStore and keeps it for the life of the process.
class TesseraApp : public QObject
{
    Q_OBJECT
public:
    explicit TesseraApp(TesseraAppDependencies dependencies = TesseraAppDependencies::production(),
                        QObject *parent = nullptr);
    ~TesseraApp() override;

    AccountStore &store() const { return *m_store; }
    // Null for an inert start, which leaves the AWS CLI's files alone.
    CLISignInSharing *cliSignInSharing() const { return m_cliSignInSharing.get(); }
    bool showOnboardingAtLaunch() const { return m_showOnboardingAtLaunch; }
    bool isInert() const { return m_inert; }
    // Where sign-in data lives, in words for the user.
    const QString &secretStoreDescription() const { return m_secretStoreDescription; }

    // One line describing what was loaded: session, accounts, last sync, organization
    // and the secure store in use.
    QString loadedStateSummary() const;

    // Whether the environment asks for an inert start: TESSERA_INERT=1, or the test
    // harness's variable present at all.
    static bool inertStartRequested();

    // Carries out what a command line asked for, from this process or a later start.
    void perform(InstanceCommand command);

    // The user started Tessera again while it runs.
    void handleReopen();
    void showPanel();
    void startSignIn();
    void syncNow();
    // Opens the settings window, or brings it forward when it is open.
    void showSettings();

    // Shows Quick Search, or hides it when it is shown (the hotkey, `--quick-search`).
    void toggleQuickSearch();
    // Null in an inert start and without widgets.
    QuickSwitcherController *quickSwitcher() const { return m_quickSwitcher.get(); }
    DesktopShell *shell() const { return m_shell.get(); }

private:
    // The tray, the panel, Quick Search and the onboarding window attach to the store here.
    void buildUserInterface();
    void removeInterruptedWritesOfOwnFiles();

    bool m_inert = false;
    bool m_showOnboardingAtLaunch = false;
    QString m_secretStoreDescription;
    std::shared_ptr<SettingsStore> m_settings;
    std::unique_ptr<AccountStore> m_store;
    std::unique_ptr<CLISignInSharing> m_cliSignInSharing;
    std::unique_ptr<SystemResumeNotifier> m_resumeNotifier;
    std::function<std::unique_ptr<HotKeyManager>()> m_makeHotKeyManager;
    std::unique_ptr<QuickSwitcherController> m_quickSwitcher;
    std::unique_ptr<DesktopShell> m_shell;
};

} // namespace tessera
