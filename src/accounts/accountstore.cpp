#include "accounts/accountstore.h"

#include "accounts/sessionlogging.h"
#include "aws/curlhttptransport.h"
#include "foundation/logging.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

Q_LOGGING_CATEGORY(lcSession, "com.tessera.app.Session", QtInfoMsg)

namespace tessera {

namespace {
const QString organizationLoadFailedMessage = QStringLiteral(
    "Tessera could not load your saved organization. The existing file was left untouched.");
}

TokenRefreshScheduler TokenRefreshScheduler::system()
{
    return fromClock(SystemClock::shared());
}

TokenRefreshScheduler TokenRefreshScheduler::fromClock(std::shared_ptr<Clock> clock)
{
    return TokenRefreshScheduler{
        [clock](std::chrono::milliseconds duration, CancellationToken token) {
            return clock->sleep(duration, std::move(token));
        }};
}

AccountStore::AccountStore(bool loadPersistedState, std::optional<QString> organizationFileURL,
                           TokenRefreshScheduler tokenRefreshScheduler, Keychain keychain,
                           std::shared_ptr<SettingsStore> defaults, OpenURLFunction openURL,
                           AccountStoreServices services, QObject *parent)
    : QObject(parent)
    , m_tokenRefreshScheduler(std::move(tokenRefreshScheduler))
    , m_keychain(std::move(keychain))
    , m_defaults(std::move(defaults))
    , m_openURL(std::move(openURL))
    , m_organizationFileURL(std::move(organizationFileURL))
    , m_clock(services.clock ? std::move(services.clock) : SystemClock::shared())
    , m_transport(services.transport ? std::move(services.transport) : defaultHttpTransport())
    , m_profileSettings(services.profileSettings ? std::move(services.profileSettings) : m_defaults)
{
    if (!loadPersistedState) {
        return;
    }
    this->loadPersistedState();
}

AccountStore::~AccountStore()
{
    m_tearingDown = true;
    if (m_proactiveRefreshTask) {
        m_proactiveRefreshTask->cancel();
    }
    if (m_accessTokenRefresh) {
        m_accessTokenRefresh->task.cancel();
    }
    if (m_signInTask) {
        m_signInTask->cancel();
    }
    m_syncTask.cancel();
}

void AccountStore::loadPersistedState()
{
    if (!m_organizationFileURL) {
        m_loadingPersistedState = true;
        // A load still waiting for the keyring runs on by itself.
        const QCoro::Task<void> loading = loadSavedSignIn(QPointer<AccountStore>(this), m_keychain);
        m_loadingPersistedState = false;

        try {
            if (const auto loaded = loadAccountCache()) {
                m_accounts = loaded->accounts;
                m_lastSync = loaded->lastSync;
            }
        } catch (const Error &error) {
            qCCritical(lcPersistence).noquote()
                << "Account cache load failed:" << error.description();
        }
    }

    try {
        if (const auto loaded = loadOrganization(m_organizationFileURL)) {
            m_organization = *loaded;
        }
    } catch (const Error &error) {
        m_organizationPersistenceBlocked = true;
        reportOrganizationFailure(organizationLoadFailedMessage, error.description());
    }

    if (!m_organizationFileURL) {
        configureSyncTimer();
        scheduleProactiveRefresh();
    }
}

QCoro::Task<void> AccountStore::loadSavedSignIn(QPointer<AccountStore> store, Keychain keychain)
{
    // A sign-in or sign-out while the keyring answers decides the state instead.
    const int generation = store->m_tokenGeneration;
    const quint64 signInSerial = store->m_signInSerial;
    std::optional<ClientRegistration> registration;
    std::optional<SSOToken> token;
    try {
        registration =
            co_await keychain.load<ClientRegistration>(QLatin1String(keychainClientAccount));
        token = co_await keychain.load<SSOToken>(QLatin1String(keychainTokenAccount));
    } catch (const Error &error) {
        if (isAlive(store)) {
            store->reportKeychainFailure(error);
        }
    }
    if (!isAlive(store) || store->m_tokenGeneration != generation ||
        store->m_signInSerial != signInSerial) {
        co_return;
    }
    store->applySavedSignIn(std::move(registration), std::move(token));
}

void AccountStore::applySavedSignIn(std::optional<ClientRegistration> registration,
                                    std::optional<SSOToken> token)
{
    m_clientRegistration = std::move(registration);
    if (!token) {
        return;
    }
    const bool usable = isTokenUsable(*token);
    if (m_loadingPersistedState) {
        // Nobody watches yet, and the constructor plans the refresh once all is loaded.
        m_token = std::move(token);
        m_tokenExpiresAt = m_token->expiresAt;
        m_hasRefreshToken = m_token->refreshToken.has_value();
        if (usable) {
            m_session = AccountStoreSession::signedIn();
        }
        return;
    }
    applyToken(std::move(token));
    if (usable) {
        setSession(AccountStoreSession::signedIn());
    }
}

void AccountStore::reportKeychainFailure(const Error &error)
{
    qCCritical(lcPersistence).noquote() << "Keychain operation failed:" << error.description();
    setErrorMessage(error.description());
}

void AccountStore::reportOrganizationFailure(const QString &message,
                                             const QString &failureDescription)
{
    qCCritical(lcPersistence).noquote() << "Organization persistence failed:" << failureDescription;
    m_organizationErrorMessage = message;
    setErrorMessage(message);
}

bool AccountStore::isAlive(const QPointer<AccountStore> &store)
{
    return store && !store->m_tearingDown;
}

bool AccountStore::isTokenUsable(const SSOToken &token) const
{
    return now() < token.expiresAt || token.refreshToken.has_value();
}

QDateTime AccountStore::now() const
{
    return m_clock->currentDateTime();
}

std::chrono::milliseconds AccountStore::syncTimerInterval() const
{
    return m_syncTimer ? m_syncTimer->intervalAsDuration() : std::chrono::milliseconds{0};
}

void AccountStore::setSession(AccountStoreSession session)
{
    if (m_session == session) {
        return;
    }
    m_session = std::move(session);
    Q_EMIT sessionChanged();
}

void AccountStore::setAccounts(QList<AWSAccount> accounts)
{
    if (m_accounts == accounts) {
        return;
    }
    m_accounts = std::move(accounts);
    Q_EMIT accountsChanged();
}

void AccountStore::setOrganization(Organization organization)
{
    if (m_organization == organization) {
        return;
    }
    m_organization = std::move(organization);
    Q_EMIT organizationChanged();
}

void AccountStore::setSyncing(bool syncing)
{
    if (m_syncing == syncing) {
        return;
    }
    m_syncing = syncing;
    Q_EMIT syncingChanged();
}

void AccountStore::setLastSync(std::optional<QDateTime> lastSync)
{
    if (m_lastSync == lastSync) {
        return;
    }
    m_lastSync = std::move(lastSync);
    Q_EMIT lastSyncChanged();
}

void AccountStore::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message) {
        return;
    }
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void AccountStore::setBrowserFallbackURL(std::optional<QUrl> url)
{
    if (m_browserFallbackURL == url) {
        return;
    }
    m_browserFallbackURL = std::move(url);
    Q_EMIT browserFallbackURLChanged();
}

void AccountStore::setTokenExpiresAt(std::optional<QDateTime> expiresAt)
{
    if (m_tokenExpiresAt == expiresAt) {
        return;
    }
    m_tokenExpiresAt = std::move(expiresAt);
    Q_EMIT tokenExpiresAtChanged();
}

void AccountStore::setHasRefreshToken(bool hasRefreshToken)
{
    if (m_hasRefreshToken == hasRefreshToken) {
        return;
    }
    m_hasRefreshToken = hasRefreshToken;
    Q_EMIT hasRefreshTokenChanged();
}

} // namespace tessera
