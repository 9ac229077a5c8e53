#pragma once

#include "aws/httptransport.h"
#include "foundation/clock.h"
#include "foundation/singleflight.h"
#include "storage/records.h"
#include "storage/settingsstore.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

// What a sync needs from whoever holds the sign-in.
class SyncCredentials
{
public:
    virtual ~SyncCredentials() = default;
    // The access token to list with, renewed if need be; none when there is no session
    // (the holder has already said why).
    virtual QCoro::Task<std::optional<QString>> validAccessToken() = 0;
    // Identifies the token held now; see TokenKeeper::generation().
    virtual int tokenGeneration() const = 0;
    // The region of the token held now; the configured one when none is held.
    virtual QString tokenRegion() const = 0;
    virtual bool isSignedIn() const = 0;
};

// The accounts and roles the signed-in user may reach: lists them from the access portal,
// keeps the result with the time of the last sync, caches it on disk, refreshes the AWS
// CLI profiles from it, and syncs again on the user's interval.
class AccountSync : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        SyncCredentials *credentials = nullptr;
        std::shared_ptr<HttpTransport> transport;
        std::shared_ptr<Clock> clock;
        // The app's settings: start URL, regions, sync interval.
        std::shared_ptr<SettingsStore> settings;
        // The user's standard settings, read by the AWS CLI profile update.
        std::shared_ptr<SettingsStore> profileSettings;
    };

    explicit AccountSync(Options options, QObject *parent = nullptr);
    ~AccountSync() override;

    const QList<AWSAccount> &accounts() const { return m_accounts; }
    const std::optional<QDateTime> &lastSync() const { return m_lastSync; }
    bool syncing() const { return m_syncing; }
    // Whether a sync runs, including one still waiting for its access token.
    bool isRunning() const { return m_syncing || m_task.isRunning(); }

    // Shows what an earlier run listed, without writing anything.
    void restore(QList<AWSAccount> accounts, std::optional<QDateTime> lastSync);
    // Lists the accounts; overlapping calls share one run. Never throws: failures are
    // reported through the signals.
    QCoro::Task<void> run();
    // Cancels the running sync and forgets it at once: whatever it still learns belongs to
    // a token that is no longer held, so it ends without touching anything.
    void abandon();
    void cancel() { m_task.cancel(); }

    // (Re)starts the interval timer from the settings; none below one minute.
    void configureTimer();
    std::optional<std::chrono::milliseconds> timerInterval() const;

Q_SIGNALS:
    void accountsChanged();
    void lastSyncChanged();
    void syncingChanged();
    // A sync has begun talking to the portal; earlier messages no longer apply.
    void started();
    // The message to show for a failed (or partly failed) sync.
    void failed(const QString &message);
    // The portal rejected the token held now.
    void tokenRejected();

private:
    static QCoro::Task<void> runTimerTick(QPointer<AccountSync> sync);
    static QCoro::Task<void> runGuarded(QPointer<AccountSync> sync, CancellationToken cancel);
    QCoro::Task<void> perform(CancellationToken cancel);
    void finish(QList<AWSAccount> accounts);
    // Shows why a sync failed. `generation` is that of the token its requests carried.
    void reportFailure(std::exception_ptr failure, std::optional<int> generation);
    void setSyncing(bool syncing);
    QDateTime now() const;
    static bool isAlive(const QPointer<AccountSync> &sync);

    Options m_options;
    QList<AWSAccount> m_accounts;
    std::optional<QDateTime> m_lastSync;
    bool m_syncing = false;
    MainActorSingleFlightTask<void> m_task;
    std::unique_ptr<QTimer> m_timer;
    // Identifies the run that owns `syncing`; a run abandoned for a newer token sees a
    // different number when it resumes and leaves everything alone.
    quint64 m_run = 0;
    bool m_tearingDown = false;
};

} // namespace tessera
