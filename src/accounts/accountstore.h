#pragma once

#include "aws/httptransport.h"
#include "catalog/consolecatalog.h"
#include "foundation/clock.h"
#include "foundation/singleflight.h"
#include "foundation/taskhandle.h"
#include "storage/keychain.h"
#include "storage/records.h"
#include "storage/settingsstore.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

// The sign-in state the views show.
class AccountStoreSession
{
public:
    enum class Case
    {
        signedOut,
        signingIn,
        signedIn
    };

    AccountStoreSession() = default;
    static AccountStoreSession signedOut() { return {}; }
    static AccountStoreSession signingIn(QString userCode)
    {
        return AccountStoreSession(Case::signingIn, std::move(userCode));
    }
    static AccountStoreSession signedIn() { return AccountStoreSession(Case::signedIn, {}); }

    Case state() const { return m_case; }
    bool isSignedOut() const { return m_case == Case::signedOut; }
    bool isSigningIn() const { return m_case == Case::signingIn; }
    bool isSignedIn() const { return m_case == Case::signedIn; }
    // The code to show while signing in; empty otherwise.
    const QString &userCode() const { return m_userCode; }

    bool operator==(const AccountStoreSession &other) const
    {
        return m_case == other.m_case &&
               (m_case != Case::signingIn || m_userCode == other.m_userCode);
    }

private:
    AccountStoreSession(Case c, QString code)
        : m_case(c)
        , m_userCode(std::move(code))
    {}
    Case m_case = Case::signedOut;
    QString m_userCode;
};

// The sleep used for scheduled token steps; replaceable so tests control every wait.
struct TokenRefreshScheduler
{
    std::function<QCoro::Task<void>(std::chrono::milliseconds, CancellationToken)> sleep;

    // Sleeps on the monotonic clock.
    static TokenRefreshScheduler system();
    static TokenRefreshScheduler fromClock(std::shared_ptr<Clock> clock);
};

struct TokenRefreshPolicy
{
    struct Action
    {
        enum class Kind
        {
            refresh,
            expire
        };
        Kind kind = Kind::refresh;
        double after = 0; // seconds

        static Action refresh(double after) { return {Kind::refresh, after}; }
        static Action expire(double after) { return {Kind::expire, after}; }
        bool operator==(const Action &) const = default;
    };

    static constexpr double refreshLead = 300;
    static constexpr double shortestFirstWait = 15;
    static constexpr double retryMargin = 30;
    static constexpr double shortestRetry = 1;
    static constexpr double longestRetryWait = 120;
    static constexpr int retries = 2;
    static constexpr double shortestExpiryRecheck = 1;
};

using OpenURLFunction = std::function<bool(const QUrl &)>;

// Platform services the store reaches beyond its six construction arguments. Every member
// has a production default; tests replace them.
struct AccountStoreServices
{
    // Wall-clock dates and the monotonic clock used for sign-in polling.
    std::shared_ptr<Clock> clock;
    // The shared HTTP session of every OIDC and portal client.
    std::shared_ptr<HttpTransport> transport;
    // The user's standard settings, read by the AWS CLI profile update after a sync.
    // Defaults to the store's own settings.
    std::shared_ptr<SettingsStore> profileSettings;
};

// The single observable application state: session, accounts, organization, and every
// background task. Lives on the main thread for the life of the process.
class AccountStore : public QObject
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
    AccountStore(bool loadPersistedState, std::optional<QString> organizationFileURL,
                 TokenRefreshScheduler tokenRefreshScheduler, Keychain keychain,
                 std::shared_ptr<SettingsStore> defaults, OpenURLFunction openURL,
                 AccountStoreServices services = {}, QObject *parent = nullptr);
    ~AccountStore() override;

    // --- Observable state ---
    const AccountStoreSession &session() const { return m_session; }
    const QList<AWSAccount> &accounts() const { return m_accounts; }
    const Organization &organization() const { return m_organization; }
    bool syncing() const { return m_syncing; }
    const std::optional<QDateTime> &lastSync() const { return m_lastSync; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    const std::optional<QUrl> &browserFallbackURL() const { return m_browserFallbackURL; }
    const std::optional<QDateTime> &tokenExpiresAt() const { return m_tokenExpiresAt; }
    bool hasRefreshToken() const { return m_hasRefreshToken; }

    QDateTime lastSyncOrNull() const { return m_lastSync.value_or(QDateTime()); }
    QString errorMessageOrEmpty() const { return m_errorMessage.value_or(QString()); }
    QUrl browserFallbackURLOrEmpty() const { return m_browserFallbackURL.value_or(QUrl()); }
    QDateTime tokenExpiresAtOrNull() const { return m_tokenExpiresAt.value_or(QDateTime()); }

    // --- Private state, readable for views and tests ---
    const std::optional<SSOToken> &token() const { return m_token; }
    const std::optional<ClientRegistration> &clientRegistration() const
    {
        return m_clientRegistration;
    }
    bool organizationPersistenceBlocked() const { return m_organizationPersistenceBlocked; }
    const std::optional<QString> &organizationErrorMessage() const
    {
        return m_organizationErrorMessage;
    }
    int tokenGeneration() const { return m_tokenGeneration; }
    int proactiveRefreshFailureCount() const { return m_proactiveRefreshFailureCount; }
    bool isSignInRunning() const { return m_signInTask.has_value(); }
    bool isSyncTimerActive() const { return m_syncTimer != nullptr; }
    std::chrono::milliseconds syncTimerInterval() const;
    const Keychain &keychain() const { return m_keychain; }
    SettingsStore &defaults() const { return *m_defaults; }
    const std::shared_ptr<SettingsStore> &defaultsPointer() const { return m_defaults; }
    const std::shared_ptr<Clock> &clock() const { return m_clock; }
    const std::shared_ptr<HttpTransport> &transport() const { return m_transport; }
    void setErrorMessage(std::optional<QString> message);

    // --- Session and sign-in ---
    void signIn();
    void signOut();
    void cancelSignIn();
    bool openVerificationURL(const QString &text);
    QCoro::Task<std::optional<QString>> validAccessToken();
    void applyToken(std::optional<SSOToken> token);
    // Forgets the token at once; the task answers whether the saved one was deleted.
    QCoro::Task<bool> clearStoredToken();
    void expireSession();

    // --- Token refresh ---
    void scheduleProactiveRefresh();
    void scheduleTokenStep(TokenRefreshPolicy::Action action);
    QCoro::Task<bool> refreshAccessToken();
    // Re-plans the pending token step by the wall clock. Monotonic timers stand still while
    // the machine is suspended, so after a resume a step that is due must not wait on.
    void recheckTokenSchedule();

    // --- Account sync ---
    QCoro::Task<void> sync();
    void configureSyncTimer();

    // --- Console links ---
    QString consoleRegionForAccount(const QString &accountId) const;
    std::optional<QUrl>
    consoleLink(const AWSAccount &account, const QString &roleName,
                const std::optional<ConsoleService> &service = std::nullopt) const;
    // When the browser cannot be opened, `unopenedLink` (if given) receives the link, so
    // that it can be shown for the user to open or copy by hand.
    bool openConsole(const AWSAccount &account, const QString &roleName,
                     const std::optional<ConsoleService> &service = std::nullopt,
                     QUrl *unopenedLink = nullptr);
    // The start URL in the settings was saved: a complaint that it is missing is void.
    void startURLSaved();

    // --- Organization ---
    void updateOrganization(const std::function<void(Organization &)> &change);
    void togglePinnedAccount(const QString &accountId);
    void togglePinnedService(const QString &serviceName);
    void setServiceEnabled(const QString &serviceName, bool enabled);
    void createGroup(const QString &name);
    void setGroup(const QString &accountId, const std::optional<QString> &groupName);
    void deleteGroup(const QString &groupName);
    void setConsoleRegion(const QString &regionText, const QString &accountId);
    void setConsoleRegionEnabled(const QString &regionId, bool enabled);
    void setEnabledConsoleRegions(const QSet<QString> &regionIds);

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
    // Lets view tests put the store into any observable state.
    friend class AccountStoreTestAccess;

    // Setters that notify only on a real change.
    void setSession(AccountStoreSession session);
    void setAccounts(QList<AWSAccount> accounts);
    void setOrganization(Organization organization);
    void setSyncing(bool syncing);
    void setLastSync(std::optional<QDateTime> lastSync);
    void setBrowserFallbackURL(std::optional<QUrl> url);
    void setTokenExpiresAt(std::optional<QDateTime> expiresAt);
    void setHasRefreshToken(bool hasRefreshToken);

    void loadPersistedState();
    // Reads the saved sign-in. Stores that answer at once have applied it when this
    // returns; otherwise the store starts signed out and takes the sign-in when it comes.
    static QCoro::Task<void> loadSavedSignIn(QPointer<AccountStore> store, Keychain keychain);
    void applySavedSignIn(std::optional<ClientRegistration> registration,
                          std::optional<SSOToken> token);
    static QCoro::Task<bool> deleteStoredToken(QPointer<AccountStore> store, Keychain keychain);
    static QCoro::Task<void> showOnceDeleted(QPointer<AccountStore> store,
                                             QCoro::Task<bool> deletion, QString message);
    void reportKeychainFailure(const Error &error);
    void reportOrganizationFailure(const QString &message, const QString &failureDescription);
    bool isTokenUsable(const SSOToken &token) const;
    QDateTime now() const;

    // Task bodies; each holds the store through a QPointer and checks it after every
    // suspension, so the store may be destroyed while they wait.
    static QCoro::Task<void> runSignIn(QPointer<AccountStore> store, QString region,
                                       QString startUrl, CancellationToken token);
    static QCoro::Task<void> runTokenStep(QPointer<AccountStore> store,
                                          TokenRefreshScheduler scheduler,
                                          TokenRefreshPolicy::Action action, int generation,
                                          CancellationToken token);
    static QCoro::Task<bool> runRefresh(QPointer<AccountStore> store, SSOToken token,
                                        ClientRegistration registration, CancellationToken cancel);
    static QCoro::Task<void> runSync(QPointer<AccountStore> store, CancellationToken token);
    QCoro::Task<void> performSync(CancellationToken token);
    // Shows why a sync failed. `generation` is that of the token its requests carried.
    void reportSyncFailure(std::exception_ptr failure, std::optional<int> generation);
    // Cancels the running sync and forgets it at once: whatever it still learns belongs to
    // a token that is no longer held, so it ends without touching the store.
    void abandonRunningSync();

    // Whether a suspended task may still touch the store: it exists and is not being torn
    // down (tasks cancelled by the destructor resume while its body runs).
    static bool isAlive(const QPointer<AccountStore> &store);
    // The ending shared by every failed or cancelled sign-in.
    void finishFailedSignIn(quint64 serial, std::exception_ptr failure);
    void finishSignIn(quint64 serial);
    std::optional<QString> currentAccessToken() const;

    AccountStoreSession m_session;
    QList<AWSAccount> m_accounts;
    Organization m_organization;
    bool m_syncing = false;
    std::optional<QDateTime> m_lastSync;
    std::optional<QString> m_errorMessage;
    std::optional<QUrl> m_browserFallbackURL;
    std::optional<QDateTime> m_tokenExpiresAt;
    bool m_hasRefreshToken = false;
    std::optional<SSOToken> m_token;
    std::optional<ClientRegistration> m_clientRegistration;
    std::optional<TaskHandle<void>> m_signInTask;
    std::unique_ptr<QTimer> m_syncTimer;
    MainActorSingleFlightTask<void> m_syncTask;
    std::optional<TaskHandle<void>> m_proactiveRefreshTask;
    // The step `m_proactiveRefreshTask` waits for, and when it is due by the wall clock.
    struct PlannedTokenStep
    {
        TokenRefreshPolicy::Action action;
        QDateTime due;
    };
    std::optional<PlannedTokenStep> m_plannedTokenStep;
    struct RunningRefresh
    {
        QUuid id;
        TaskHandle<bool> task;
    };
    std::optional<RunningRefresh> m_accessTokenRefresh;
    int m_proactiveRefreshFailureCount = 0;
    int m_tokenGeneration = 0;
    TokenRefreshScheduler m_tokenRefreshScheduler;
    Keychain m_keychain;
    std::shared_ptr<SettingsStore> m_defaults;
    OpenURLFunction m_openURL;
    std::optional<QString> m_organizationFileURL;
    bool m_organizationPersistenceBlocked = false;
    std::optional<QString> m_organizationErrorMessage;

    std::shared_ptr<Clock> m_clock;
    std::shared_ptr<HttpTransport> m_transport;
    std::shared_ptr<SettingsStore> m_profileSettings;

    // Identifies the newest sign-in, so that an older one that ends late leaves alone what
    // its successor set.
    quint64 m_signInSerial = 0;
    // Identifies the sync run that owns `syncing`; a run abandoned for a newer token sees
    // a different number when it resumes and leaves everything alone.
    quint64 m_syncRun = 0;
    bool m_tearingDown = false;
    // While the constructor loads, which leaves the refresh schedule to its end.
    bool m_loadingPersistedState = false;
};

// The complaint shown while no usable access portal URL is set.
QString startURLMissingMessage();

// The console region for an account: its own choice in the organization, else the
// default console region, else the sign-in region, skipping disabled regions.
QString accountConsoleRegion(const Organization &organization, const SettingsStore &settings,
                             const QString &accountId);

} // namespace tessera

Q_DECLARE_METATYPE(tessera::AccountStoreSession)
Q_DECLARE_METATYPE(tessera::AWSAccount)
Q_DECLARE_METATYPE(tessera::Organization)
