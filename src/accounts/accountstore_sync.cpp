// Account sync and the auto-sync timer.
#include "accounts/accountstore.h"
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

QCoro::Task<void> runSyncTimerTick(QPointer<AccountStore> store)
{
    if (store && store->session().isSignedIn()) {
        co_await store->sync();
    }
}
} // namespace

QCoro::Task<void> AccountStore::sync()
{
    return m_syncTask.run([store = QPointer<AccountStore>(this)](CancellationToken token) {
        return runSync(store, std::move(token));
    });
}

QCoro::Task<void> AccountStore::runSync(QPointer<AccountStore> store, CancellationToken token)
{
    if (isAlive(store)) {
        co_await store->performSync(std::move(token));
    }
}

QCoro::Task<void> AccountStore::performSync(CancellationToken token)
{
    if (m_syncing) {
        co_return;
    }
    const QPointer<AccountStore> self(this);
    const quint64 run = ++m_syncRun;
    // Every failure, wherever it is raised, ends here: a sync reports through the store
    // and never throws to whoever awaits it.
    std::optional<int> generation;
    std::vector<AWSAccount> listed;
    std::exception_ptr failure;
    try {
        const std::optional<QString> accessToken = co_await validAccessToken();
        if (!isAlive(self) || run != m_syncRun || !accessToken) {
            co_return;
        }
        generation = m_tokenGeneration;
        setSyncing(true);
        setErrorMessage(std::nullopt);

        const QString region = m_token ? m_token->region : configuredSSORegion(*m_defaults);
        PortalRetryOptions retry;
        retry.clock = m_clock; // retries after throttling wait on the store's clock too
        const PortalClient client(region, *accessToken, m_transport, portalPageLimit, retry);
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
    if (!isAlive(self) || run != m_syncRun) {
        co_return;
    }
    if (failure) {
        reportSyncFailure(failure, generation);
        setSyncing(false);
        co_return;
    }

    try {
        sortAccountsByName(listed);
        setAccounts(QList<AWSAccount>(listed.begin(), listed.end()));
        setLastSync(now());
        try {
            saveAccountCache(AccountCache{m_accounts, *m_lastSync});
        } catch (const Error &error) {
            qCCritical(lcPersistence).noquote()
                << "Account cache save failed:" << error.description();
        }
        try {
            updateAWSProfilesAfterSync(m_accounts, normalizedStartURL(*m_defaults),
                                       configuredSSORegion(*m_defaults), *m_profileSettings, now());
        } catch (const Error &error) {
            setErrorMessage(QStringLiteral("Accounts synced, but AWS profiles were not updated: ") +
                            error.description());
        }
    } catch (...) {
        setErrorMessage(describeException(std::current_exception()));
    }
    setSyncing(false);
}

void AccountStore::reportSyncFailure(std::exception_ptr failure, std::optional<int> generation)
{
    try {
        std::rethrow_exception(failure);
    } catch (const PortalError &error) {
        if (error.errorCase() != PortalError::Case::unauthorized) {
            setErrorMessage(error.description());
        } else if (generation == m_tokenGeneration) {
            expireSession();
        } else {
            // The rejected token was replaced while the request was out (a refresh, a new
            // sign-in, a sign-out); the answer says nothing about the token held now.
            qCWarning(lcSession) << "Ignored a rejection of a token that is no longer held";
        }
    } catch (...) {
        setErrorMessage(describeException(failure));
    }
}

void AccountStore::abandonRunningSync()
{
    m_syncTask.cancel();
    ++m_syncRun;
    setSyncing(false);
}

void AccountStore::configureSyncTimer()
{
    m_syncTimer.reset();
    const int minutes = m_defaults->integer(key(settingskey::syncMinutes));
    if (minutes < 1) {
        return;
    }
    // QTimer counts milliseconds in an int; a larger interval would wrap around.
    constexpr int longestMinutes = INT_MAX / 60000;
    auto timer = std::make_unique<QTimer>(this);
    timer->setObjectName(QStringLiteral("syncTimer"));
    timer->setTimerType(Qt::CoarseTimer);
    timer->setInterval(std::chrono::minutes(std::min(minutes, longestMinutes)));
    connect(timer.get(), &QTimer::timeout, this, [store = QPointer<AccountStore>(this)] {
        startTask<void>([store](CancellationToken) { return runSyncTimerTick(store); });
    });
    timer->start();
    m_syncTimer = std::move(timer);
}

} // namespace tessera
