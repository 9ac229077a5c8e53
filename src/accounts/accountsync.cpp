#include "accounts/accountsync.h"

#include "accounts/sessionlogging.h"
#include "aws/portalclient.h"
#include "awsconfig/profileautoupdate.h"
#include "foundation/boundedconcurrency.h"
#include "foundation/logging.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <QCollator>
#include <algorithm>
#include <climits>

namespace tessera {

namespace {
constexpr int portalPageLimit = 1000;
constexpr std::size_t roleListingsInFlight = 6;

// Orders by Unicode code point. Plain QString comparison orders UTF-16 code units, which
// puts characters beyond U+FFFF before U+E000…U+FFFF.
bool codePointLess(const QString &a, const QString &b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x == y) {
            continue;
        }
        const auto fix = [](char16_t unit) -> char16_t {
            if (unit >= 0xD800) {
                return unit >= 0xE000 ? char16_t(unit - 0x800) : char16_t(unit + 0x2000);
            }
            return unit;
        };
        return fix(x) < fix(y);
    }
    return a.size() < b.size();
}

QCoro::Task<AWSAccount> listAccountRoles(PortalClient client, AccountEntry entry,
                                         CancellationToken token)
{
    QStringList roles = co_await client.listRoles(entry.accountId, token);
    std::sort(roles.begin(), roles.end(), codePointLess);
    co_return AWSAccount{entry.accountId, entry.accountName, roles};
}

void sortAccountsByName(std::vector<AWSAccount> &accounts)
{
    QCollator collator; // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(accounts.begin(), accounts.end(),
                     [&collator](const AWSAccount &a, const AWSAccount &b) {
                         return collator.compare(a.accountName, b.accountName) < 0;
                     });
}

} // namespace

AccountSync::AccountSync(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    if (!m_options.clock) {
        m_options.clock = SystemClock::shared();
    }
    if (!m_options.profileSettings) {
        m_options.profileSettings = m_options.settings;
    }
}

AccountSync::~AccountSync()
{
    m_tearingDown = true;
    m_task.cancel();
}

bool AccountSync::isAlive(const QPointer<AccountSync> &sync)
{
    return sync && !sync->m_tearingDown;
}

QDateTime AccountSync::now() const
{
    return m_options.clock->currentDateTime();
}

void AccountSync::restore(QList<AWSAccount> accounts, std::optional<QDateTime> lastSync)
{
    if (m_accounts != accounts) {
        m_accounts = std::move(accounts);
        Q_EMIT accountsChanged();
    }
    if (m_lastSync != lastSync) {
        m_lastSync = std::move(lastSync);
        Q_EMIT lastSyncChanged();
    }
}

void AccountSync::setSyncing(bool syncing)
{
    if (m_syncing != syncing) {
        m_syncing = syncing;
        Q_EMIT syncingChanged();
    }
}

QCoro::Task<void> AccountSync::run()
{
    return m_task.run([sync = QPointer<AccountSync>(this)](CancellationToken cancel) {
        return runGuarded(sync, std::move(cancel));
    });
}

QCoro::Task<void> AccountSync::runGuarded(QPointer<AccountSync> sync, CancellationToken cancel)
{
    if (isAlive(sync)) {
        co_await sync->perform(std::move(cancel));
    }
}

QCoro::Task<void> AccountSync::perform(CancellationToken token)
{
    if (m_syncing) {
        co_return;
    }
    const QPointer<AccountSync> self(this);
    SyncCredentials *const credentials = m_options.credentials;
    const quint64 run = ++m_run;
    // Every failure, wherever it is raised, ends here: a sync reports through its signals
    // and never throws to whoever awaits it.
    std::optional<int> generation;
    std::vector<AWSAccount> listed;
    std::exception_ptr failure;
    try {
        const std::optional<QString> accessToken = co_await credentials->validAccessToken();
        if (!isAlive(self) || run != m_run || !accessToken) {
            co_return;
        }
        generation = credentials->tokenGeneration();
        setSyncing(true);
        Q_EMIT started();

        PortalRetryOptions retry;
        retry.clock = m_options.clock; // retries after throttling wait on the same clock
        const PortalClient client(credentials->tokenRegion(), *accessToken, m_options.transport,
                                  portalPageLimit, retry);
        const QList<AccountEntry> entries = co_await client.listAccounts(token);
        token.throwIfCancelled();
        // Named, not a temporary in the co_await expression: GCC 12 destroys such
        // temporaries twice.
        std::function<QCoro::Task<AWSAccount>(std::size_t, CancellationToken)> listRolesOf =
            [client, entries](std::size_t index, CancellationToken child) {
                return listAccountRoles(client, entries.at(qsizetype(index)), std::move(child));
            };
        listed = co_await runWithConcurrencyLimit<AWSAccount>(
            std::size_t(entries.size()), roleListingsInFlight, listRolesOf, token);
        token.throwIfCancelled();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!isAlive(self) || run != m_run) {
        co_return;
    }
    if (failure) {
        reportFailure(failure, generation);
    } else {
        sortAccountsByName(listed);
        finish(QList<AWSAccount>(listed.begin(), listed.end()));
    }
    setSyncing(false);
}

void AccountSync::finish(QList<AWSAccount> accounts)
{
    try {
        restore(std::move(accounts), now());
        try {
            saveAccountCache(AccountCache{m_accounts, *m_lastSync});
        } catch (const Error &error) {
            qCCritical(lcPersistence).noquote()
                << "Account cache save failed:" << error.description();
        }
        const SettingsStore &settings = *m_options.settings;
        try {
            updateAWSProfilesAfterSync(m_accounts, normalizedStartURL(settings),
                                       configuredSSORegion(settings), *m_options.profileSettings,
                                       now());
        } catch (const Error &error) {
            Q_EMIT failed(QStringLiteral("Accounts synced, but AWS profiles were not updated: ") +
                          error.description());
        }
    } catch (...) {
        Q_EMIT failed(describeException(std::current_exception()));
    }
}

void AccountSync::reportFailure(std::exception_ptr failure, std::optional<int> generation)
{
    try {
        std::rethrow_exception(failure);
    } catch (const PortalError &error) {
        if (error.errorCase() != PortalError::Case::unauthorized) {
            Q_EMIT failed(error.description());
        } else if (generation == m_options.credentials->tokenGeneration()) {
            Q_EMIT tokenRejected();
        } else {
            // The rejected token was replaced while the request was out (a refresh, a new
            // sign-in, a sign-out); the answer says nothing about the token held now.
            qCWarning(lcSession) << "Ignored a rejection of a token that is no longer held";
        }
    } catch (...) {
        Q_EMIT failed(describeException(failure));
    }
}

void AccountSync::abandon()
{
    m_task.cancel();
    ++m_run;
    setSyncing(false);
}

void AccountSync::configureTimer()
{
    m_timer.reset();
    const int minutes = m_options.settings->integer(key(settingskey::syncMinutes));
    if (minutes < 1) {
        return;
    }
    // QTimer counts milliseconds in an int; a larger interval would wrap around.
    constexpr int longestMinutes = INT_MAX / 60000;
    auto timer = std::make_unique<QTimer>(this);
    timer->setObjectName(QStringLiteral("syncTimer"));
    timer->setTimerType(Qt::CoarseTimer);
    timer->setInterval(std::chrono::minutes(std::min(minutes, longestMinutes)));
    connect(timer.get(), &QTimer::timeout, this, [sync = QPointer<AccountSync>(this)] {
        startTask<void>([sync](CancellationToken) { return runTimerTick(sync); });
    });
    timer->start();
    m_timer = std::move(timer);
}

std::optional<std::chrono::milliseconds> AccountSync::timerInterval() const
{
    return m_timer ? std::optional(m_timer->intervalAsDuration()) : std::nullopt;
}

QCoro::Task<void> AccountSync::runTimerTick(QPointer<AccountSync> sync)
{
    if (isAlive(sync) && sync->m_options.credentials->isSignedIn()) {
        co_await sync->run();
    }
}

} // namespace tessera
