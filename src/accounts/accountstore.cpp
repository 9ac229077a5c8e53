#include "accounts/accountstore.h"

#include "catalog/consolelink.h"
#include "foundation/logging.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <QCoreApplication>

Q_LOGGING_CATEGORY(lcSession, "com.tessera.app.Session", QtInfoMsg)

namespace tessera {

AccountStore::AccountStore(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    Q_ASSERT(m_options.transport && m_options.settings);
    if (!m_options.clock) {
        m_options.clock = SystemClock::shared();
    }
    const QPointer<AccountStore> self(this);
    m_tokens = std::make_unique<TokenKeeper>(TokenKeeper::Options{
        m_options.keychain, m_options.transport, m_options.clock, m_options.refreshScheduler,
        [self] { return self && self->m_session.isSignedIn(); }});
    m_sync = std::make_unique<AccountSync>(AccountSync::Options{
        this, m_options.transport, m_options.clock, m_options.settings, m_options.profileSettings});
    m_organization = std::make_unique<OrganizationFile>(m_options.organizationFile);
    connectParts();
    if (m_options.loadPersistedState) {
        loadPersistedState();
    }
}

AccountStore::~AccountStore()
{
    m_tearingDown = true;
    if (m_signInTask) {
        m_signInTask->cancel();
    }
    // Their running tasks end while the store is still whole.
    m_sync.reset();
    m_tokens.reset();
}

void AccountStore::connectParts()
{
    connect(m_tokens.get(), &TokenKeeper::expiresAtChanged, this,
            &AccountStore::tokenExpiresAtChanged);
    connect(m_tokens.get(), &TokenKeeper::hasRefreshTokenChanged, this,
            &AccountStore::hasRefreshTokenChanged);
    connect(m_tokens.get(), &TokenKeeper::expired, this, &AccountStore::expireSession);
    connect(m_tokens.get(), &TokenKeeper::keychainFailed, this,
            [this](const QString &description) { setErrorMessage(description); });

    connect(m_sync.get(), &AccountSync::accountsChanged, this, &AccountStore::accountsChanged);
    connect(m_sync.get(), &AccountSync::lastSyncChanged, this, &AccountStore::lastSyncChanged);
    connect(m_sync.get(), &AccountSync::syncingChanged, this, &AccountStore::syncingChanged);
    connect(m_sync.get(), &AccountSync::started, this, [this] { setErrorMessage(std::nullopt); });
    connect(m_sync.get(), &AccountSync::failed, this,
            [this](const QString &message) { setErrorMessage(message); });
    connect(m_sync.get(), &AccountSync::tokenRejected, this, &AccountStore::expireSession);

    connect(m_organization.get(), &OrganizationFile::organizationChanged, this,
            &AccountStore::organizationChanged);
    connect(m_organization.get(), &OrganizationFile::failed, this,
            [this](const QString &message) { setErrorMessage(message); });
    // Only the organization's own earlier message is cleared; one shown since stays.
    connect(m_organization.get(), &OrganizationFile::recovered, this,
            [this](const QString &message) {
                if (m_errorMessage == message) {
                    setErrorMessage(std::nullopt);
                }
            });
}

void AccountStore::loadPersistedState()
{
    const bool whole = !m_options.organizationFile;
    if (whole) {
        // A load still waiting for the keyring runs on by itself.
        const QCoro::Task<void> loading =
            loadSavedSignIn(QPointer<AccountStore>(this), m_options.keychain);
        try {
            if (const auto loaded = loadAccountCache()) {
                m_sync->restore(loaded->accounts, loaded->lastSync);
            }
        } catch (const Error &error) {
            qCCritical(lcPersistence).noquote()
                << "Account cache load failed:" << error.description();
        }
    }
    m_organization->load();
    if (whole) {
        m_sync->configureTimer();
    }
}

QCoro::Task<void> AccountStore::loadSavedSignIn(QPointer<AccountStore> store, Keychain keychain)
{
    // A sign-in or sign-out while the keyring answers decides the state instead.
    const int generation = store->m_tokens->generation();
    const quint64 signInSerial = store->m_signInSerial;
    std::optional<ClientRegistration> registration;
    std::optional<SSOToken> token;
    try {
        registration =
            co_await keychain.load<ClientRegistration>(QLatin1String(keychainClientAccount));
        token = co_await keychain.load<SSOToken>(QLatin1String(keychainTokenAccount));
    } catch (const Error &error) {
        if (isAlive(store)) {
            store->reportKeychainFailure(error.description());
        }
    }
    if (!isAlive(store) || store->m_tokens->generation() != generation ||
        store->m_signInSerial != signInSerial) {
        co_return;
    }
    store->m_tokens->setRegistration(std::move(registration));
    if (!token) {
        co_return;
    }
    const bool usable = store->m_tokens->isUsable(*token);
    store->m_tokens->apply(std::move(token));
    if (usable) {
        store->setSession(AccountStoreSession::signedIn());
    }
}

void AccountStore::reportKeychainFailure(const QString &description)
{
    qCCritical(lcPersistence).noquote() << "Keychain operation failed:" << description;
    setErrorMessage(description);
}

bool AccountStore::isAlive(const QPointer<AccountStore> &store)
{
    return store && !store->m_tearingDown;
}

QDateTime AccountStore::now() const
{
    return m_options.clock->currentDateTime();
}

std::optional<QDateTime> AccountStore::tokenExpiresAt() const
{
    const auto &token = m_tokens->token();
    return token ? std::optional(token->expiresAt) : std::nullopt;
}

bool AccountStore::hasRefreshToken() const
{
    const auto &token = m_tokens->token();
    return token && token->refreshToken.has_value();
}

QString AccountStore::tokenRegion() const
{
    const auto &token = m_tokens->token();
    return token ? token->region : configuredSSORegion(*m_options.settings);
}

void AccountStore::setSession(AccountStoreSession session)
{
    if (m_session == session) {
        return;
    }
    m_session = std::move(session);
    Q_EMIT sessionChanged();
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

QString AccountStore::consoleRegionForAccount(const QString &accountId) const
{
    return accountConsoleRegion(organization(), *m_options.settings, accountId);
}

QString accountConsoleRegion(const Organization &organization, const SettingsStore &settings,
                             const QString &accountId)
{
    const auto override = organization.accountConsoleRegions.constFind(accountId);
    const std::optional<QString> first = override != organization.accountConsoleRegions.cend()
                                             ? std::optional(override.value())
                                             : std::nullopt;
    const QSet<QString> disabled(organization.disabledConsoleRegionIds.cbegin(),
                                 organization.disabledConsoleRegionIds.cend());
    return resolveConsoleRegion(first, configuredDefaultConsoleRegion(settings),
                                configuredSSORegion(settings), disabled);
}

std::optional<QUrl> AccountStore::consoleLink(const AWSAccount &account, const QString &roleName,
                                              const std::optional<ConsoleService> &service) const
{
    const ConsoleService &target = service ? *service : consoleHome();
    const auto destination = target.urlForRegion(consoleRegionForAccount(account.accountId));
    if (!destination) {
        return std::nullopt;
    }
    return consoleDeepLink(normalizedStartURL(*m_options.settings), account.accountId, roleName,
                           *destination);
}

QString startURLMissingMessage()
{
    return QStringLiteral("Set your access portal URL in Settings first.");
}

void AccountStore::startURLSaved()
{
    if (m_errorMessage == startURLMissingMessage() &&
        isUsableStartURL(normalizedStartURL(*m_options.settings))) {
        setErrorMessage(std::nullopt);
    }
}

bool AccountStore::openConsole(const AWSAccount &account, const QString &roleName,
                               const std::optional<ConsoleService> &service, QUrl *unopenedLink)
{
    if (!isUsableStartURL(normalizedStartURL(*m_options.settings))) {
        setErrorMessage(startURLMissingMessage());
        return false;
    }
    const auto link = consoleLink(account, roleName, service);
    if (!link) {
        setErrorMessage(QStringLiteral("Could not create the AWS console link."));
        return false;
    }
    setErrorMessage(std::nullopt);
    if (!m_options.openURL || !m_options.openURL(*link)) {
        //: Shown when the desktop refused to open the console link in a browser.
        setErrorMessage(qtTrId("Tessera could not open the AWS console link."));
        if (unopenedLink) {
            *unopenedLink = *link;
        }
        return false;
    }
    return true;
}

} // namespace tessera
