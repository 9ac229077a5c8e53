#pragma once

#include "accounts/accountstoresession.h"
#include "accounts/accountsync.h"
#include "accounts/organizationfile.h"
#include "accounts/tokenkeeper.h"
#include "aws/httptransport.h"
#include "catalog/consolecatalog.h"
#include "foundation/clock.h"
#include "foundation/taskhandle.h"
#include "storage/keychain.h"
#include "storage/records.h"
#include "storage/settingsstore.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

using OpenURLFunction = std::function<bool(const QUrl &)>;

// The single observable application state the views, Quick Search and the app talk to:
// the session and sign-in, and through the parts it owns the token (TokenKeeper), the
// accounts (AccountSync) and the organization (OrganizationFile). Lives on the main
// thread for the life of the process.
class AccountStore : public QObject, private SyncCredentials
{
    Q_OBJECT
    Q_PROPERTY(tessera::AccountStoreSession session READ session NOTIFY sessionChanged)
    Q_PROPERTY(QList<tessera::AWSAccount> accounts READ accounts NOTIFY accountsChanged)
    Q_PROPERTY(tessera::Organization organization READ organization NOTIFY organizationChanged)
    Q_PROPERTY(bool syncing READ syncing NOTIFY syncingChanged)
    Q_PROPERTY(QDateTime lastSync READ lastSyncOrNull NOTIFY lastSyncChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageOrEmpty NOTIFY errorMessageChanged)
    Q_PROPERTY(
        QUrl browserFallbackURL READ browserFallbackURLOrEmpty NOTIFY browserFallbackURLChanged)
    Q_PROPERTY(QDateTime tokenExpiresAt READ tokenExpiresAtOrNull NOTIFY tokenExpiresAtChanged)
    Q_PROPERTY(bool hasRefreshToken READ hasRefreshToken NOTIFY hasRefreshTokenChanged)

public:
    struct Options
    {
        // Reads the saved sign-in, the account cache and the organization, and starts the
        // schedules. A store that does not load starts empty and plans nothing.
        bool loadPersistedState = false;
        // The organization's file; when given, a loading store reads only the
        // organization and plans nothing.
        std::optional<QString> organizationFile;
        Keychain keychain{KeychainSecurityOperations()};
        // The app's settings.
        std::shared_ptr<SettingsStore> settings;
        OpenURLFunction openURL;
        // The HTTP session of every OIDC and portal request. Required.
        std::shared_ptr<HttpTransport> transport;
        // Wall-clock dates and the monotonic clock of sign-in polling; the system's when
        // unset.
        std::shared_ptr<Clock> clock;
        // The waits of scheduled token steps; sleeps on `clock` when unset.
        TokenRefreshScheduler refreshScheduler;
        // The user's standard settings, read by the AWS CLI profile update after a sync;
        // `settings` when unset.
        std::shared_ptr<SettingsStore> profileSettings;
    };

    explicit AccountStore(Options options, QObject *parent = nullptr);
    ~AccountStore() override;

    // --- Observable state ---
    const AccountStoreSession &session() const { return m_session; }
    const QList<AWSAccount> &accounts() const { return m_sync->accounts(); }
    const Organization &organization() const { return m_organization->organization(); }
    bool syncing() const { return m_sync->syncing(); }
    const std::optional<QDateTime> &lastSync() const { return m_sync->lastSync(); }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    const std::optional<QUrl> &browserFallbackURL() const { return m_browserFallbackURL; }
    std::optional<QDateTime> tokenExpiresAt() const;
    bool hasRefreshToken() const;

    QDateTime lastSyncOrNull() const { return lastSync().value_or(QDateTime()); }
    QString errorMessageOrEmpty() const { return m_errorMessage.value_or(QString()); }
    QUrl browserFallbackURLOrEmpty() const { return m_browserFallbackURL.value_or(QUrl()); }
    QDateTime tokenExpiresAtOrNull() const { return tokenExpiresAt().value_or(QDateTime()); }

    // Shows a message to the user (none clears it).
    void setErrorMessage(std::optional<QString> message);

    // --- What the store is built from ---
    SettingsStore &defaults() const { return *m_options.settings; }
    const std::shared_ptr<Clock> &clock() const { return m_options.clock; }
    TokenKeeper &tokenKeeper() const { return *m_tokens; }
    AccountSync &accountSync() const { return *m_sync; }
    OrganizationFile &organizationFile() const { return *m_organization; }

    // --- Session and sign-in ---
    void signIn();
    void signOut();
    void cancelSignIn();
    bool openVerificationURL(const QString &text);
    // Re-plans the token's renewal after the machine wakes.
    void recheckTokenSchedule() { m_tokens->recheckSchedule(); }

    // --- Account sync ---
    QCoro::Task<void> sync() { return m_sync->run(); }
    // Applies a changed sync interval.
    void configureSyncTimer() { m_sync->configureTimer(); }

    // --- Console links ---
    QString consoleRegionForAccount(const QString &accountId) const;
    std::optional<QUrl>
    consoleLink(const AWSAccount &account, const QString &roleName,
                const std::optional<ConsoleService> &service = std::nullopt) const;
    bool openConsole(const AWSAccount &account, const QString &roleName,
                     const std::optional<ConsoleService> &service = std::nullopt);

    // --- Organization ---
    void togglePinnedAccount(const QString &id) { m_organization->togglePinnedAccount(id); }
    void togglePinnedService(const QString &name) { m_organization->togglePinnedService(name); }
    void setServiceEnabled(const QString &name, bool enabled)
    {
        m_organization->setServiceEnabled(name, enabled);
    }
    void createGroup(const QString &name) { m_organization->createGroup(name); }
    void setGroup(const QString &accountId, const std::optional<QString> &groupName)
    {
        m_organization->setGroup(accountId, groupName);
    }
    void deleteGroup(const QString &name) { m_organization->deleteGroup(name); }
    void setConsoleRegion(const QString &regionText, const QString &accountId)
    {
        m_organization->setConsoleRegion(regionText, accountId);
    }
    void setConsoleRegionEnabled(const QString &regionId, bool enabled)
    {
        m_organization->setConsoleRegionEnabled(regionId, enabled);
    }
    void setEnabledConsoleRegions(const QSet<QString> &regionIds)
    {
        m_organization->setEnabledConsoleRegions(regionIds);
    }

Q_SIGNALS:
    void sessionChanged();
    void accountsChanged();
    void organizationChanged();
    void syncingChanged();
    void lastSyncChanged();
    void errorMessageChanged();
    void browserFallbackURLChanged();
    void tokenExpiresAtChanged();
    void hasRefreshTokenChanged();

private:
    // What a sync asks of the session.
    QCoro::Task<std::optional<QString>> validAccessToken() override;
    int tokenGeneration() const override { return m_tokens->generation(); }
    QString tokenRegion() const override;
    bool isSignedIn() const override { return m_session.isSignedIn(); }

    void connectParts();
    void loadPersistedState();
    // Reads the saved sign-in. Stores that answer at once have applied it when this
    // returns; otherwise the store starts signed out and takes the sign-in when it comes.
    static QCoro::Task<void> loadSavedSignIn(QPointer<AccountStore> store, Keychain keychain);
    void setSession(AccountStoreSession session);
    void setBrowserFallbackURL(std::optional<QUrl> url);
    void reportKeychainFailure(const QString &description);
    void expireSession();
    static QCoro::Task<void> showOnceDeleted(QPointer<AccountStore> store,
                                             QCoro::Task<bool> deletion, QString message);
    QDateTime now() const;

    // Task bodies hold the store through a QPointer and check it after every suspension,
    // so the store may be destroyed while they wait.
    static QCoro::Task<void> runSignIn(QPointer<AccountStore> store, QString region,
                                       QString startUrl, CancellationToken token);
    // Whether a suspended task may still touch the store: it exists and is not being torn
    // down (tasks cancelled by the destructor resume while its body runs).
    static bool isAlive(const QPointer<AccountStore> &store);
    // The ending shared by every failed or cancelled sign-in.
    void finishFailedSignIn(quint64 serial, std::exception_ptr failure);
    void finishSignIn(quint64 serial);
    std::optional<QString> currentAccessToken() const;

    Options m_options;
    AccountStoreSession m_session;
    std::optional<QString> m_errorMessage;
    std::optional<QUrl> m_browserFallbackURL;
    std::optional<TaskHandle<void>> m_signInTask;
    std::unique_ptr<TokenKeeper> m_tokens;
    std::unique_ptr<AccountSync> m_sync;
    std::unique_ptr<OrganizationFile> m_organization;

    // Identifies the newest sign-in, so that an older one that ends late leaves alone what
    // its successor set.
    quint64 m_signInSerial = 0;
    bool m_tearingDown = false;
};

// The console region for an account: its own choice in the organization, else the
// default console region, else the sign-in region, skipping disabled regions.
QString accountConsoleRegion(const Organization &organization, const SettingsStore &settings,
                             const QString &accountId);

} // namespace tessera

Q_DECLARE_METATYPE(tessera::AccountStoreSession)
Q_DECLARE_METATYPE(tessera::AWSAccount)
Q_DECLARE_METATYPE(tessera::Organization)
