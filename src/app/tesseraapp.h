#pragma once

#include "accounts/accountstore.h"
#include "accounts/clisigninsharing.h"
#include "storage/keychain.h"
#include "storage/settingsstore.h"

#include <QObject>
#include <functional>
#include <memory>

namespace tessera {

class DesktopShell;

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

    // The environment variable whose presence makes the start inert.
    static bool inertStartRequested();

    // The user started Tessera again while it runs.
    void handleReopen();

private:
    // The tray, the panel, Quick Search and the onboarding window attach to the store here.
    void buildUserInterface();

    bool m_inert = false;
    bool m_showOnboardingAtLaunch = false;
    QString m_secretStoreDescription;
    std::shared_ptr<SettingsStore> m_settings;
    std::unique_ptr<AccountStore> m_store;
    std::unique_ptr<CLISignInSharing> m_cliSignInSharing;
    std::unique_ptr<DesktopShell> m_shell;
};

} // namespace tessera
