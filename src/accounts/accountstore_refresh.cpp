// Proactive token refresh, its retries and the expiry step.
#include "accounts/accountstore.h"
#include "accounts/sessionlogging.h"
#include "aws/ssooidc.h"

#include <algorithm>

namespace tessera {

namespace {
double secondsUntil(const QDateTime &from, const QDateTime &to)
{
    return double(from.msecsTo(to)) / 1000.0;
}
} // namespace

void AccountStore::scheduleProactiveRefresh()
{
    if (m_proactiveRefreshTask) {
        m_proactiveRefreshTask->cancel();
        m_proactiveRefreshTask.reset();
    }
    m_plannedTokenStep.reset();
    m_proactiveRefreshFailureCount = 0;
    if (!m_token || !m_token->refreshToken) {
        // Without a refresh token nothing can be renewed; the next use of the token
        // notices its expiry.
        return;
    }
    const double wait =
        std::max(secondsUntil(now(), m_token->expiresAt) - TokenRefreshPolicy::refreshLead,
                 TokenRefreshPolicy::shortestFirstWait);
    scheduleTokenStep(TokenRefreshPolicy::Action::refresh(wait));
}

void AccountStore::scheduleTokenStep(TokenRefreshPolicy::Action action)
{
    if (m_proactiveRefreshTask) {
        m_proactiveRefreshTask->cancel();
        m_proactiveRefreshTask.reset();
    }
    m_plannedTokenStep =
        PlannedTokenStep{action, now().addMSecs(millisecondsFromSeconds(action.after).count())};
    const int generation = m_tokenGeneration;
    auto handle =
        startTask<void>([store = QPointer<AccountStore>(this), scheduler = m_tokenRefreshScheduler,
                         action, generation](CancellationToken token) {
            return runTokenStep(store, scheduler, action, generation, std::move(token));
        });
    if (!handle.isFinished()) {
        m_proactiveRefreshTask = handle;
    }
}

void AccountStore::recheckTokenSchedule()
{
    if (!m_proactiveRefreshTask || !m_plannedTokenStep) {
        return;
    }
    TokenRefreshPolicy::Action action = m_plannedTokenStep->action;
    action.after = std::max(0.0, secondsUntil(now(), m_plannedTokenStep->due));
    scheduleTokenStep(action);
}

QCoro::Task<void> AccountStore::runTokenStep(QPointer<AccountStore> store,
                                             TokenRefreshScheduler scheduler,
                                             TokenRefreshPolicy::Action action, int generation,
                                             CancellationToken token)
{
    try {
        co_await scheduler.sleep(millisecondsFromSeconds(action.after), token);
    } catch (...) {
        co_return;
    }
    // A step planned for an older token must not act on the current one, even when its
    // cancellation came too late to stop the sleep.
    if (!isAlive(store) || store->m_tokenGeneration != generation) {
        co_return;
    }
    store->m_proactiveRefreshTask.reset();
    store->m_plannedTokenStep.reset();

    if (action.kind == TokenRefreshPolicy::Action::Kind::expire) {
        if (!store->m_token) {
            co_return;
        }
        const double left = secondsUntil(store->now(), store->m_token->expiresAt);
        if (left <= 0) {
            store->expireSession();
        } else {
            store->scheduleTokenStep(TokenRefreshPolicy::Action::expire(
                std::max(TokenRefreshPolicy::shortestExpiryRecheck, left)));
        }
        co_return;
    }

    if (!store->m_session.isSignedIn()) {
        co_return;
    }
    const bool refreshed = co_await store->refreshAccessToken();
    if (refreshed || !isAlive(store) || store->m_tokenGeneration != generation) {
        // Either the new token has planned its own first step, or another token took
        // over while the refresh ran and owns the schedule now.
        co_return;
    }
    if (!store->m_token || store->now() >= store->m_token->expiresAt) {
        store->expireSession();
        co_return;
    }
    ++store->m_proactiveRefreshFailureCount;
    const double left = std::max(0.0, secondsUntil(store->now(), store->m_token->expiresAt));
    const double retry = left - TokenRefreshPolicy::retryMargin;
    if (retry >= TokenRefreshPolicy::shortestRetry &&
        store->m_proactiveRefreshFailureCount <= TokenRefreshPolicy::retries) {
        store->scheduleTokenStep(TokenRefreshPolicy::Action::refresh(
            std::min(retry, TokenRefreshPolicy::longestRetryWait)));
    } else {
        store->scheduleTokenStep(TokenRefreshPolicy::Action::expire(left));
    }
}

QCoro::Task<bool> AccountStore::refreshAccessToken()
{
    if (m_accessTokenRefresh) {
        const TaskHandle<bool> running = m_accessTokenRefresh->task;
        co_return co_await running.result();
    }
    if (!m_token || !m_token->refreshToken || !m_clientRegistration ||
        now() >= m_clientRegistration->expiresAt) {
        co_return false;
    }

    const QPointer<AccountStore> self(this);
    const QUuid id = QUuid::createUuid();
    auto handle = startTask<bool>([store = self, token = *m_token,
                                   registration = *m_clientRegistration](CancellationToken cancel) {
        return runRefresh(store, token, registration, std::move(cancel));
    });
    if (!handle.isFinished()) {
        m_accessTokenRefresh = RunningRefresh{id, handle};
    }
    const bool refreshed = co_await handle.result();
    if (isAlive(self) && m_accessTokenRefresh && m_accessTokenRefresh->id == id) {
        m_accessTokenRefresh.reset();
    }
    co_return refreshed;
}

QCoro::Task<bool> AccountStore::runRefresh(QPointer<AccountStore> store, SSOToken token,
                                           ClientRegistration registration,
                                           CancellationToken cancel)
{
    const SSOOIDC client(token.region, store->m_transport,
                         OIDCPollingClock::fromClock(store->m_clock));
    TokenResponse answer;
    try {
        answer = SSOOIDC::validatedToken(co_await client.redeemRefreshToken(
            registration.clientId, registration.clientSecret, token.refreshToken.value(), cancel));
    } catch (const CancelledError &) {
        co_return false; // signed out, or the store is going away
    } catch (...) {
        // A failed refresh is not shown: the schedule retries, and the final expiry
        // tells the user.
        qCWarning(lcSession).noquote()
            << "Token refresh failed:" << describeException(std::current_exception());
        co_return false;
    }
    if (!isAlive(store) || cancel.isCancelled()) {
        co_return false;
    }
    const auto stillHeld = [&token](const std::optional<SSOToken> &held) {
        return held && held->accessToken == token.accessToken &&
               held->refreshToken == token.refreshToken;
    };
    if (!stillHeld(store->m_token)) {
        // Signed out or signed in anew while the answer was on its way.
        co_return false;
    }
    const SSOToken renewed{answer.accessToken,
                           answer.refreshToken ? answer.refreshToken : token.refreshToken,
                           store->now().addSecs(answer.expiresIn), token.region, token.startUrl};
    try {
        co_await store->m_keychain.save(renewed, QLatin1String(keychainTokenAccount));
    } catch (const Error &error) {
        if (isAlive(store)) {
            store->reportKeychainFailure(error);
        }
        co_return false;
    }
    // Signed out or signed in anew while the keyring saved.
    if (!isAlive(store) || cancel.isCancelled() || !stillHeld(store->m_token)) {
        co_return false;
    }
    store->applyToken(renewed);
    co_return true;
}

} // namespace tessera
