#include "storeharness.h"

#include "support/testsupport.h"

#include <QTest>

namespace tessera::test {

StoreHarness::StoreHarness()
    : clock(std::make_shared<ManualClock>())
    , service(std::make_shared<FakeIdentityCenter>(clock))
    , settings(std::make_shared<InMemorySettingsStore>())
    , profileSettings(std::make_shared<InMemorySettingsStore>())
{
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    registerTesseraDefaults(*settings);
    registerTesseraDefaults(*profileSettings);
    settings->setString(key(settingskey::startUrl), QLatin1String(harnessStartURL));
    settings->setString(key(settingskey::ssoRegion), QLatin1String(harnessRegion));
}

TokenRefreshScheduler StoreHarness::scheduler() const
{
    auto sleepClock = schedulerClock ? schedulerClock : clock;
    return TokenRefreshScheduler::fromClock(sleepClock);
}

AccountStore &StoreHarness::makeStore(std::optional<QString> organizationFile)
{
    AccountStore::Options options;
    options.loadPersistedState = true;
    options.organizationFile = std::move(organizationFile);
    options.keychain = Keychain(keychainStore.operations());
    options.settings = settings;
    options.openURL = [this](const QUrl &url) {
        openedURLs << url;
        return browserOpens;
    };
    options.transport = service;
    options.clock = clock;
    options.refreshScheduler = scheduler();
    options.profileSettings = profileSettings;
    store = std::make_unique<AccountStore>(std::move(options));
    return *store;
}

SSOToken StoreHarness::tokenExpiringIn(double seconds, bool withRefreshToken) const
{
    return SSOToken{QStringLiteral("held-access"),
                    withRefreshToken ? std::optional(QStringLiteral("held-refresh")) : std::nullopt,
                    clock->currentDateTime().addMSecs(qint64(seconds * 1000)),
                    QLatin1String(harnessRegion), QLatin1String(harnessStartURL)};
}

ClientRegistration StoreHarness::registration(const QString &region) const
{
    return ClientRegistration{QStringLiteral("held-client"), QStringLiteral("held-secret"),
                              clock->currentDateTime().addDays(1), region};
}

void StoreHarness::storeRegistration(const ClientRegistration &registration)
{
    test::waitFor(Keychain(keychainStore.operations())
                      .save(registration, QLatin1String(keychainClientAccount)));
}

void StoreHarness::storeSignIn(double tokenExpiresIn, bool withRefreshToken)
{
    storeRegistration(registration());
    test::waitFor(Keychain(keychainStore.operations())
                      .save(tokenExpiringIn(tokenExpiresIn, withRefreshToken),
                            QLatin1String(keychainTokenAccount)));
}

std::optional<SSOToken> StoreHarness::storedToken() const
{
    return test::waitFor(
        Keychain(keychainStore.operations()).load<SSOToken>(QLatin1String(keychainTokenAccount)));
}

std::optional<ClientRegistration> StoreHarness::storedRegistration() const
{
    return test::waitFor(Keychain(keychainStore.operations())
                             .load<ClientRegistration>(QLatin1String(keychainClientAccount)));
}
} // namespace tessera::test
