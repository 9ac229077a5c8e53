#pragma once

#include "accounts/accountstore.h"
#include "foundation/manualclock.h"
#include "storage/inmemorykeychain.h"

#include <QUrl>
#include <memory>

namespace tessera {

// Puts a store into the observable states that views render, without running sign-in
// or sync.
class AccountStoreTestAccess
{
public:
    static void setSession(AccountStore &store, AccountStoreSession session)
    {
        store.setSession(std::move(session));
    }
    static void setAccounts(AccountStore &store, QList<AWSAccount> accounts)
    {
        store.setAccounts(std::move(accounts));
    }
    static void setOrganization(AccountStore &store, Organization organization)
    {
        store.setOrganization(std::move(organization));
    }
    static void setSyncing(AccountStore &store, bool syncing) { store.setSyncing(syncing); }
    static void setLastSync(AccountStore &store, std::optional<QDateTime> date)
    {
        store.setLastSync(std::move(date));
    }
    static void setBrowserFallbackURL(AccountStore &store, std::optional<QUrl> url)
    {
        store.setBrowserFallbackURL(std::move(url));
    }
    static void setTokenExpiresAt(AccountStore &store, std::optional<QDateTime> date)
    {
        store.setTokenExpiresAt(std::move(date));
    }
    static void setHasRefreshToken(AccountStore &store, bool value)
    {
        store.setHasRefreshToken(value);
    }
};

namespace test {

// A store that loads nothing and touches no platform service: memory keychain, memory
// settings, a manual clock, and an opener that records what it was asked to open.
struct ViewTestStore
{
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<InMemorySettingsStore> settings = std::make_shared<InMemorySettingsStore>();
    InMemoryKeychainStore keychain;
    QList<QUrl> openedURLs;
    bool openerSucceeds = true;
    std::unique_ptr<AccountStore> store;

    explicit ViewTestStore(std::optional<QString> organizationFile = std::nullopt)
    {
        AccountStoreServices services;
        services.clock = clock;
        store = std::make_unique<AccountStore>(
            organizationFile.has_value(), organizationFile, TokenRefreshScheduler::fromClock(clock),
            Keychain(keychain.operations()), settings,
            [this](const QUrl &url) {
                openedURLs.append(url);
                return openerSucceeds;
            },
            services);
    }
};

} // namespace test
} // namespace tessera
