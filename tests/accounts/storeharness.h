#pragma once

#include "accounts/accountstore.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "support/fakeidentitycenter.h"

#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace tessera::test {

inline constexpr auto harnessStartURL = "https://example.awsapps.com/start";
inline constexpr auto harnessRegion = "us-east-1";

// Everything an account store needs, faked: a manual clock behind every wait, the
// in-memory identity center, secure store and settings, and a private data folder.
// Fields are declared so that the store goes first when the harness is destroyed.
struct StoreHarness
{
    StoreHarness();

    // Builds the store the way the application does, from what the fakes now hold.
    AccountStore &makeStore(std::optional<QString> organizationFile = std::nullopt);
    // Token steps sleep on `schedulerClock`, else on `clock`.
    TokenRefreshScheduler scheduler() const;

    SSOToken tokenExpiringIn(double seconds, bool withRefreshToken = true) const;
    // Valid for a day.
    ClientRegistration registration(const QString &region = QLatin1String(harnessRegion)) const;
    // Puts a record into the secure store as a previous run would have left it.
    void storeRegistration(const ClientRegistration &registration);
    // A valid registration and a token expiring in `tokenExpiresIn`, as a sign-in leaves.
    void storeSignIn(double tokenExpiresIn, bool withRefreshToken = true);
    std::optional<SSOToken> storedToken() const;
    std::optional<ClientRegistration> storedRegistration() const;

    QTemporaryDir dataHome;
    std::shared_ptr<ManualClock> clock;
    // What scheduled token steps sleep on; `clock` unless a test gives another. A second
    // clock lets a test move the wall clock while timers stand still, as in a suspend.
    std::shared_ptr<ManualClock> schedulerClock;
    std::shared_ptr<FakeIdentityCenter> service;
    InMemoryKeychainStore keychainStore;
    std::shared_ptr<InMemorySettingsStore> settings;
    std::shared_ptr<InMemorySettingsStore> profileSettings;
    QList<QUrl> openedURLs;
    bool browserOpens = true;
    std::unique_ptr<AccountStore> store;
};

} // namespace tessera::test
