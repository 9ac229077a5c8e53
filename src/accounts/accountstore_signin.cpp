// Sign-in, session rules and sign-out.
#include "accounts/accountstore.h"
#include "aws/ssooidc.h"
#include "foundation/logging.h"
#include "storage/dates.h"
#include "storage/settings.h"

namespace tessera {

namespace {
const QString startURLMissingMessage =
    QStringLiteral("Set your access portal URL in Settings first.");
const QString invalidVerificationURLMessage =
    QStringLiteral("AWS returned an invalid verification URL.");
const QString browserFailedMessage = QStringLiteral(
    "Tessera could not open the AWS verification page. Use the link below to continue.");
const QString settingsChangedMessage =
    QStringLiteral("Start URL or region changed — sign in again.");
const QString sessionEndedMessage =
    QStringLiteral("SSO session ended — sign in again to sync. Session length is set by your org.");

// QUrl lower-cases the scheme it parses, so "HTTPS://…" would pass a check of scheme()
// alone; the scheme must be exactly "https" as typed.
std::optional<QUrl> parseHTTPSURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || !text.startsWith(QLatin1String("https:"))) {
        return std::nullopt;
    }
    return url;
}
} // namespace

void AccountStore::signIn()
{
    if (m_signInTask) {
        m_signInTask->cancel();
    }
    setErrorMessage(std::nullopt);
    setBrowserFallbackURL(std::nullopt);

    const QString startUrl = normalizedStartURL(*m_options.settings);
    if (!parseHTTPSURL(startUrl)) {
        setErrorMessage(startURLMissingMessage);
        return;
    }
    const QString region = configuredSSORegion(*m_options.settings);

    const quint64 serial = ++m_signInSerial;
    auto handle = startTask<void>(
        [store = QPointer<AccountStore>(this), region, startUrl](CancellationToken token) {
            return runSignIn(store, region, startUrl, std::move(token));
        });
    // A task that never suspended has already ended and cleared its own handle.
    if (!handle.isFinished() && m_signInSerial == serial) {
        m_signInTask = handle;
    }
}

QCoro::Task<void> AccountStore::runSignIn(QPointer<AccountStore> store, QString region,
                                          QString startUrl, CancellationToken token)
{
    const quint64 serial = store->m_signInSerial;
    const SSOOIDC client(region, store->m_options.transport,
                         OIDCPollingClock::fromClock(store->m_options.clock));
    std::exception_ptr failure;
    try {
        std::optional<ClientRegistration> registration = store->m_tokens->registration();
        if (!registration || store->now() >= registration->expiresAt ||
            registration->region != configuredSSORegion(*store->m_options.settings)) {
            const RegisterResponse registered =
                SSOOIDC::validatedRegistration(co_await client.registerClient(token));
            if (!isAlive(store)) {
                co_return;
            }
            token.throwIfCancelled();
            registration =
                ClientRegistration{registered.clientId, registered.clientSecret,
                                   dateFromUnixSeconds(registered.clientSecretExpiresAt), region};
            co_await store->m_options.keychain.save(*registration,
                                                    QLatin1String(keychainClientAccount));
            if (!isAlive(store)) {
                co_return;
            }
            token.throwIfCancelled();
            store->m_tokens->setRegistration(registration);
        }

        const DeviceAuthResponse authorization = co_await client.startDeviceAuthorization(
            registration->clientId, registration->clientSecret, startUrl, token);
        if (!isAlive(store)) {
            co_return;
        }
        token.throwIfCancelled();
        SSOOIDC::validatedPollingInterval(authorization);
        store->setSession(AccountStoreSession::signingIn(authorization.userCode));
        store->openVerificationURL(authorization.verificationUriComplete);

        const TokenResponse granted = co_await client.pollForToken(
            authorization, registration->clientId, registration->clientSecret, token);
        if (!isAlive(store)) {
            co_return;
        }
        token.throwIfCancelled();
        const SSOToken fresh{granted.accessToken, granted.refreshToken,
                             store->now().addSecs(granted.expiresIn), region, startUrl};
        co_await store->m_options.keychain.save(fresh, QLatin1String(keychainTokenAccount));
        if (!isAlive(store)) {
            co_return;
        }
        // A sign-out while the keyring saved has queued the deletion of what was saved.
        token.throwIfCancelled();
        store->m_tokens->apply(fresh);
        store->setBrowserFallbackURL(std::nullopt);
        store->setSession(AccountStoreSession::signedIn());
        if (store->m_sync->isRunning()) {
            // That sync lists what the previous token may see; this sign-in runs its own.
            store->m_sync->abandon();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        if (isAlive(store)) {
            store->finishFailedSignIn(serial, failure);
        }
        co_return;
    }

    co_await store->sync();
    if (isAlive(store)) {
        store->finishSignIn(serial);
    }
}

void AccountStore::finishFailedSignIn(quint64 serial, std::exception_ptr failure)
{
    // A sign-in that was replaced leaves the session, the message and the link to the one
    // that replaced it.
    if (serial != m_signInSerial) {
        return;
    }
    setBrowserFallbackURL(std::nullopt);
    try {
        std::rethrow_exception(failure);
    } catch (const CancelledError &) {
        setSession(m_tokens->token() ? AccountStoreSession::signedIn()
                                     : AccountStoreSession::signedOut());
    } catch (...) {
        if (m_tokens->token() && m_tokens->isUsable(*m_tokens->token())) {
            setSession(AccountStoreSession::signedIn());
        } else {
            setSession(AccountStoreSession::signedOut());
        }
        try {
            std::rethrow_exception(failure);
        } catch (const KeychainError &error) {
            qCCritical(lcPersistence).noquote()
                << "Keychain operation failed:" << error.description();
        } catch (...) {
        }
        setErrorMessage(describeException(failure));
    }
    finishSignIn(serial);
}

void AccountStore::finishSignIn(quint64 serial)
{
    if (serial == m_signInSerial) {
        m_signInTask.reset();
    }
}

void AccountStore::cancelSignIn()
{
    setBrowserFallbackURL(std::nullopt);
    if (m_signInTask) {
        m_signInTask->cancel();
    }
}

void AccountStore::signOut()
{
    setBrowserFallbackURL(std::nullopt);
    if (m_signInTask) {
        m_signInTask->cancel();
    }
    m_sync->cancel();
    m_tokens->cancelRefresh();
    // The deletion reports its own failure.
    const QCoro::Task<bool> deletion = m_tokens->forget();
    setSession(AccountStoreSession::signedOut());
}

bool AccountStore::openVerificationURL(const QString &text)
{
    setBrowserFallbackURL(std::nullopt);
    const std::optional<QUrl> url = parseHTTPSURL(text);
    if (!url) {
        setErrorMessage(invalidVerificationURLMessage);
        return false;
    }
    if (m_options.openURL && m_options.openURL(*url)) {
        return true;
    }
    setBrowserFallbackURL(*url);
    setErrorMessage(browserFailedMessage);
    return false;
}

QCoro::Task<std::optional<QString>> AccountStore::validAccessToken()
{
    if (!m_tokens->token()) {
        setSession(AccountStoreSession::signedOut());
        co_return std::nullopt;
    }
    if (m_tokens->token()->startUrl != normalizedStartURL(*m_options.settings) ||
        m_tokens->token()->region != configuredSSORegion(*m_options.settings)) {
        QCoro::Task<bool> deletion = m_tokens->forget();
        setSession(AccountStoreSession::signedOut());
        co_await showOnceDeleted(QPointer<AccountStore>(this), std::move(deletion),
                                 settingsChangedMessage);
        co_return std::nullopt;
    }
    if (now() < m_tokens->token()->expiresAt) {
        co_return currentAccessToken();
    }

    const QPointer<AccountStore> self(this);
    const SSOToken expired = *m_tokens->token();
    const bool refreshed = co_await m_tokens->refresh();
    if (!isAlive(self)) {
        co_return std::nullopt;
    }
    if (refreshed && m_tokens->token()) {
        co_return currentAccessToken();
    }
    if (m_tokens->token() && *m_tokens->token() != expired) {
        // A sign-in replaced the token while the refresh ran; judge the new one instead
        // of ending the session it just started.
        co_return co_await validAccessToken();
    }
    // Without a token someone else (sign-out, another expiry) has already ended the
    // session while the refresh ran; ending it again would only replace their message.
    if (m_tokens->token()) {
        expireSession();
    }
    co_return std::nullopt;
}

std::optional<QString> AccountStore::currentAccessToken() const
{
    // A copy on purpose: QCoro's co_return moves from an lvalue it is given, which would
    // empty the held token.
    return std::optional<QString>(m_tokens->token()->accessToken);
}

QCoro::Task<void> AccountStore::showOnceDeleted(QPointer<AccountStore> store,
                                                QCoro::Task<bool> deletion, QString message)
{
    const bool deleted = co_await std::move(deletion);
    if (deleted && isAlive(store)) {
        store->setErrorMessage(message);
    }
}

void AccountStore::expireSession()
{
    m_tokens->cancelRefresh();
    QCoro::Task<bool> deletion = m_tokens->forget();
    setSession(AccountStoreSession::signedOut());
    const QCoro::Task<void> showing =
        showOnceDeleted(QPointer<AccountStore>(this), std::move(deletion), sessionEndedMessage);
}

} // namespace tessera
