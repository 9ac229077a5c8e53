#pragma once

#include "aws/httptransport.h"
#include "foundation/clock.h"
#include "foundation/taskhandle.h"
#include "storage/keychain.h"
#include "storage/records.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

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

// Holds the access token and the client registration it was issued to, renews the token
// before it runs out and notices when it has. Every change of the token starts a new
// generation, so work begun for an older token can tell that it no longer applies.
class TokenKeeper : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        Keychain keychain;
        std::shared_ptr<HttpTransport> transport;
        std::shared_ptr<Clock> clock;
        TokenRefreshScheduler scheduler;
        // Whether a scheduled refresh may run now; the schedule stands still otherwise.
        std::function<bool()> mayRefresh;
    };

    explicit TokenKeeper(Options options, QObject *parent = nullptr);
    ~TokenKeeper() override;

    const std::optional<SSOToken> &token() const { return m_token; }
    const std::optional<ClientRegistration> &registration() const { return m_registration; }
    void setRegistration(std::optional<ClientRegistration> registration);
    int generation() const { return m_generation; }
    // Usable: not yet expired, or renewable.
    bool isUsable(const SSOToken &token) const;
    // The next scheduled step as planned, if any.
    std::optional<TokenRefreshPolicy::Action> plannedStep() const;
    int refreshFailureCount() const { return m_refreshFailureCount; }

    // Holds `token` (or none) from now on and plans its renewal.
    void apply(std::optional<SSOToken> token);
    // Forgets the token at once; the task answers whether the saved one was deleted.
    QCoro::Task<bool> forget();
    // Renews the token with its refresh token; concurrent callers share one request.
    QCoro::Task<bool> refresh();
    // Cancels a running renewal; whoever waits for it learns that it failed.
    void cancelRefresh();
    // Re-plans the pending step by the wall clock. Monotonic timers stand still while the
    // machine is suspended, so after a resume a step that is due must not wait on.
    void recheckSchedule();

Q_SIGNALS:
    void expiresAtChanged();
    void hasRefreshTokenChanged();
    // The token ran out and could not be renewed: the session is over.
    void expired();
    // The secure store refused an operation; the description is for the user.
    void keychainFailed(const QString &description);

private:
    void planRefresh();
    void planStep(TokenRefreshPolicy::Action action);
    void cancelStep();
    void reportKeychainFailure(const Error &error);
    QDateTime now() const;

    static bool isAlive(const QPointer<TokenKeeper> &keeper);
    static QCoro::Task<void> runStep(QPointer<TokenKeeper> keeper,
                                     TokenRefreshPolicy::Action action, int generation,
                                     CancellationToken cancel);
    static QCoro::Task<bool> runRefresh(QPointer<TokenKeeper> keeper, SSOToken token,
                                        ClientRegistration registration, CancellationToken cancel);
    static QCoro::Task<bool> deleteSaved(QPointer<TokenKeeper> keeper, Keychain keychain);

    Options m_options;
    std::optional<SSOToken> m_token;
    std::optional<ClientRegistration> m_registration;
    int m_generation = 0;
    int m_refreshFailureCount = 0;

    // The step `m_stepTask` waits for, and when it is due by the wall clock.
    struct PlannedStep
    {
        TokenRefreshPolicy::Action action;
        QDateTime due;
    };
    std::optional<PlannedStep> m_plannedStep;
    std::optional<TaskHandle<void>> m_stepTask;
    struct RunningRefresh
    {
        QUuid id;
        TaskHandle<bool> task;
    };
    std::optional<RunningRefresh> m_refresh;
    bool m_tearingDown = false;
};

} // namespace tessera
