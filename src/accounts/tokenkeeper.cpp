#include "accounts/tokenkeeper.h"

#include "accounts/sessionlogging.h"
#include "aws/ssooidc.h"
#include "foundation/logging.h"

#include <algorithm>

namespace tessera {

namespace {
double secondsUntil(const QDateTime &from, const QDateTime &to)
{
    return double(from.msecsTo(to)) / 1000.0;
}
} // namespace

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

TokenKeeper::TokenKeeper(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    if (!m_options.clock) {
        m_options.clock = SystemClock::shared();
    }
    if (!m_options.scheduler.sleep) {
        m_options.scheduler = TokenRefreshScheduler::fromClock(m_options.clock);
    }
}

TokenKeeper::~TokenKeeper()
{
    m_tearingDown = true;
    cancelStep();
    cancelRefresh();
}

bool TokenKeeper::isAlive(const QPointer<TokenKeeper> &keeper)
{
    return keeper && !keeper->m_tearingDown;
}

QDateTime TokenKeeper::now() const
{
    return m_options.clock->currentDateTime();
}

bool TokenKeeper::isUsable(const SSOToken &token) const
{
    return now() < token.expiresAt || token.refreshToken.has_value();
}

void TokenKeeper::setRegistration(std::optional<ClientRegistration> registration)
{
    m_registration = std::move(registration);
}

std::optional<TokenRefreshPolicy::Action> TokenKeeper::plannedStep() const
{
    return m_plannedStep ? std::optional(m_plannedStep->action) : std::nullopt;
}

void TokenKeeper::apply(std::optional<SSOToken> token)
{
    const auto expiresAt = [](const std::optional<SSOToken> &t) {
        return t ? std::optional(t->expiresAt) : std::nullopt;
    };
    const auto renewable = [](const std::optional<SSOToken> &t) {
        return t && t->refreshToken.has_value();
    };
    const bool expiryChanged = expiresAt(m_token) != expiresAt(token);
    const bool renewableChanged = renewable(m_token) != renewable(token);
    ++m_generation;
    m_token = std::move(token);
    if (expiryChanged) {
        Q_EMIT expiresAtChanged();
    }
    if (renewableChanged) {
        Q_EMIT hasRefreshTokenChanged();
    }
    planRefresh();
}

QCoro::Task<bool> TokenKeeper::forget()
{
    apply(std::nullopt);
    return deleteSaved(QPointer<TokenKeeper>(this), m_options.keychain);
}

QCoro::Task<bool> TokenKeeper::deleteSaved(QPointer<TokenKeeper> keeper, Keychain keychain)
{
    try {
        co_await keychain.remove(QLatin1String(keychainTokenAccount));
    } catch (const Error &error) {
        if (isAlive(keeper)) {
            keeper->reportKeychainFailure(error);
        } else {
            qCCritical(lcPersistence).noquote()
                << "Keychain operation failed:" << error.description();
        }
        co_return false;
    }
    co_return true;
}

void TokenKeeper::reportKeychainFailure(const Error &error)
{
    qCCritical(lcPersistence).noquote() << "Keychain operation failed:" << error.description();
    Q_EMIT keychainFailed(error.description());
}

void TokenKeeper::cancelStep()
{
    if (m_stepTask) {
        m_stepTask->cancel();
        m_stepTask.reset();
    }
}

void TokenKeeper::cancelRefresh()
{
    if (m_refresh) {
        m_refresh->task.cancel();
        m_refresh.reset();
    }
}

void TokenKeeper::planRefresh()
{
    cancelStep();
    m_plannedStep.reset();
    m_refreshFailureCount = 0;
    if (!m_token || !m_token->refreshToken) {
        // Without a refresh token nothing can be renewed; the next use of the token
        // notices its expiry.
        return;
    }
    const double wait =
        std::max(secondsUntil(now(), m_token->expiresAt) - TokenRefreshPolicy::refreshLead,
                 TokenRefreshPolicy::shortestFirstWait);
    planStep(TokenRefreshPolicy::Action::refresh(wait));
}

void TokenKeeper::planStep(TokenRefreshPolicy::Action action)
{
    cancelStep();
    m_plannedStep =
        PlannedStep{action, now().addMSecs(millisecondsFromSeconds(action.after).count())};
    auto handle = startTask<void>([keeper = QPointer<TokenKeeper>(this), action,
                                   generation = m_generation](CancellationToken cancel) {
        return runStep(keeper, action, generation, std::move(cancel));
    });
    if (!handle.isFinished()) {
        m_stepTask = handle;
    }
}

void TokenKeeper::recheckSchedule()
{
    if (!m_stepTask || !m_plannedStep) {
        return;
    }
    TokenRefreshPolicy::Action action = m_plannedStep->action;
    action.after = std::max(0.0, secondsUntil(now(), m_plannedStep->due));
    planStep(action);
}

QCoro::Task<void> TokenKeeper::runStep(QPointer<TokenKeeper> keeper,
                                       TokenRefreshPolicy::Action action, int generation,
                                       CancellationToken cancel)
{
    try {
        const TokenRefreshScheduler scheduler = keeper->m_options.scheduler;
        co_await scheduler.sleep(millisecondsFromSeconds(action.after), cancel);
    } catch (...) {
        co_return;
    }
    // A step planned for an older token must not act on the current one, even when its
    // cancellation came too late to stop the sleep.
    if (!isAlive(keeper) || keeper->m_generation != generation) {
        co_return;
    }
    keeper->m_stepTask.reset();
    keeper->m_plannedStep.reset();

    if (action.kind == TokenRefreshPolicy::Action::Kind::expire) {
        if (!keeper->m_token) {
            co_return;
        }
        const double left = secondsUntil(keeper->now(), keeper->m_token->expiresAt);
        if (left <= 0) {
            Q_EMIT keeper->expired();
        } else {
            keeper->planStep(TokenRefreshPolicy::Action::expire(
                std::max(TokenRefreshPolicy::shortestExpiryRecheck, left)));
        }
        co_return;
    }

    if (keeper->m_options.mayRefresh && !keeper->m_options.mayRefresh()) {
        co_return;
    }
    const bool refreshed = co_await keeper->refresh();
    if (refreshed || !isAlive(keeper) || keeper->m_generation != generation) {
        // Either the new token has planned its own first step, or another token took
        // over while the refresh ran and owns the schedule now.
        co_return;
    }
    if (!keeper->m_token || keeper->now() >= keeper->m_token->expiresAt) {
        Q_EMIT keeper->expired();
        co_return;
    }
    ++keeper->m_refreshFailureCount;
    const double left = std::max(0.0, secondsUntil(keeper->now(), keeper->m_token->expiresAt));
    const double retry = left - TokenRefreshPolicy::retryMargin;
    if (retry >= TokenRefreshPolicy::shortestRetry &&
        keeper->m_refreshFailureCount <= TokenRefreshPolicy::retries) {
        keeper->planStep(TokenRefreshPolicy::Action::refresh(
            std::min(retry, TokenRefreshPolicy::longestRetryWait)));
    } else {
        keeper->planStep(TokenRefreshPolicy::Action::expire(left));
    }
}

QCoro::Task<bool> TokenKeeper::refresh()
{
    if (m_refresh) {
        const TaskHandle<bool> running = m_refresh->task;
        co_return co_await running.result();
    }
    if (!m_token || !m_token->refreshToken || !m_registration ||
        now() >= m_registration->expiresAt) {
        co_return false;
    }

    const QPointer<TokenKeeper> self(this);
    const QUuid id = QUuid::createUuid();
    auto handle = startTask<bool>([keeper = self, token = *m_token,
                                   registration = *m_registration](CancellationToken cancel) {
        return runRefresh(keeper, token, registration, std::move(cancel));
    });
    if (!handle.isFinished()) {
        m_refresh = RunningRefresh{id, handle};
    }
    const bool refreshed = co_await handle.result();
    if (isAlive(self) && m_refresh && m_refresh->id == id) {
        m_refresh.reset();
    }
    co_return refreshed;
}

QCoro::Task<bool> TokenKeeper::runRefresh(QPointer<TokenKeeper> keeper, SSOToken token,
                                          ClientRegistration registration, CancellationToken cancel)
{
    const SSOOIDC client(token.region, keeper->m_options.transport,
                         OIDCPollingClock::fromClock(keeper->m_options.clock));
    const Keychain keychain = keeper->m_options.keychain;
    TokenResponse answer;
    try {
        answer = SSOOIDC::validatedToken(co_await client.redeemRefreshToken(
            registration.clientId, registration.clientSecret, token.refreshToken.value(), cancel));
    } catch (const CancelledError &) {
        co_return false; // signed out, or the keeper is going away
    } catch (...) {
        // A failed refresh is not shown: the schedule retries, and the final expiry
        // tells the user.
        qCWarning(lcSession).noquote()
            << "Token refresh failed:" << describeException(std::current_exception());
        co_return false;
    }
    if (!isAlive(keeper) || cancel.isCancelled()) {
        co_return false;
    }
    const auto stillHeld = [&token](const std::optional<SSOToken> &held) {
        return held && held->accessToken == token.accessToken &&
               held->refreshToken == token.refreshToken;
    };
    if (!stillHeld(keeper->m_token)) {
        // Signed out or signed in anew while the answer was on its way.
        co_return false;
    }
    const SSOToken renewed{answer.accessToken,
                           answer.refreshToken ? answer.refreshToken : token.refreshToken,
                           keeper->now().addSecs(answer.expiresIn), token.region, token.startUrl};
    try {
        co_await keychain.save(renewed, QLatin1String(keychainTokenAccount));
    } catch (const Error &error) {
        if (isAlive(keeper)) {
            keeper->reportKeychainFailure(error);
        }
        co_return false;
    }
    // Signed out or signed in anew while the keyring saved.
    if (!isAlive(keeper) || cancel.isCancelled() || !stillHeld(keeper->m_token)) {
        co_return false;
    }
    keeper->apply(renewed);
    co_return true;
}

} // namespace tessera
