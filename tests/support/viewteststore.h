#pragma once

#include "accounts/accountstore.h"
#include "foundation/manualclock.h"
#include "storage/inmemorykeychain.h"
#include "support/fakeidentitycenter.h"

#include <QUrl>
#include <memory>

namespace tessera::test {

// A store for view tests on fakes only: a manual clock, the in-memory identity center,
// secure store and settings, and an opener that records what it was asked to open. The
// setters bring the store into the states views render through its own operations: a real
// sign-in and sync against the fake, the token keeper, the sync's restore and the
// organization file. None of them leaves an opened URL behind.
struct ViewTestStore
{
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<InMemorySettingsStore> settings = std::make_shared<InMemorySettingsStore>();
    std::shared_ptr<FakeIdentityCenter> service = std::make_shared<FakeIdentityCenter>(clock);
    InMemoryKeychainStore keychain;
    QList<QUrl> openedURLs;
    bool openerSucceeds = true;
    std::unique_ptr<AccountStore> store; // declared last, so destroyed first

    // With `organizationFile` the store loads that organization and nothing else.
    explicit ViewTestStore(std::optional<QString> organizationFile = std::nullopt);

    // Shows `accounts` as an earlier run left them; the identity center lists the same.
    void setAccounts(QList<AWSAccount> accounts);
    void setLastSync(std::optional<QDateTime> lastSync);
    void setOrganization(const Organization &organization);
    // Signs in (approved at once, accounts and last sync kept), stops at the user code,
    // or signs out. Sets a start URL first when none is usable.
    void setSession(const AccountStoreSession &session);
    // Starts a sync the identity center holds until it is let go with `false`.
    void setSyncing(bool syncing);
    // Replaces the held token's expiry or refresh token.
    void setTokenExpiresAt(const QDateTime &expiresAt);
    void setHasRefreshToken(bool hasRefreshToken);
    // What the store offers when the browser does not open `url`; the message stays as it was.
    void setBrowserFallbackURL(const QUrl &url);

private:
    void changeToken(const std::function<void(SSOToken &)> &change);
};

} // namespace tessera::test
