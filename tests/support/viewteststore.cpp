#include "support/viewteststore.h"

#include "catalog/consolelink.h"
#include "storage/settings.h"
#include "support/testsupport.h"

namespace tessera::test {

namespace {
constexpr auto heldSync = std::chrono::hours(1);
}

ViewTestStore::ViewTestStore(std::optional<QString> organizationFile)
{
    AccountStore::Options options;
    options.loadPersistedState = organizationFile.has_value();
    options.organizationFile = std::move(organizationFile);
    options.keychain = Keychain(keychain.operations());
    options.settings = settings;
    options.openURL = [this](const QUrl &url) {
        openedURLs.append(url);
        return openerSucceeds;
    };
    options.transport = service;
    options.clock = clock;
    store = std::make_unique<AccountStore>(std::move(options));
}

void ViewTestStore::setAccounts(QList<AWSAccount> accounts)
{
    service->accounts.clear();
    service->roles.clear();
    for (const AWSAccount &account : accounts) {
        service->accounts << AccountEntry{account.accountId, account.accountName};
        service->roles.insert(account.accountId, account.roles);
    }
    store->accountSync().restore(std::move(accounts), store->lastSync());
}

void ViewTestStore::setLastSync(std::optional<QDateTime> lastSync)
{
    store->accountSync().restore(store->accounts(), std::move(lastSync));
}

void ViewTestStore::setOrganization(const Organization &organization)
{
    store->organizationFile().update([&](Organization &o) { o = organization; });
}

void ViewTestStore::setSession(const AccountStoreSession &session)
{
    const qsizetype opened = openedURLs.size();
    if (session.isSignedOut()) {
        store->signOut();
        return;
    }
    if (!isUsableStartURL(normalizedStartURL(*settings))) {
        settings->setString(key(settingskey::startUrl),
                            QStringLiteral("https://example.awsapps.com/start"));
    }
    service->approved = false;
    if (session.isSigningIn()) {
        service->userCode = session.userCode();
        store->signIn();
        QVERIFY(processEventsUntil([&] { return store->session() == session; }));
    } else if (!store->session().isSignedIn()) {
        const QList<AWSAccount> accounts = store->accounts();
        const std::optional<QDateTime> lastSync = store->lastSync();
        if (!store->session().isSigningIn()) {
            store->signIn();
        }
        service->approved = true;
        clock->advance(std::chrono::seconds(5)); // one polling interval
        QVERIFY(
            processEventsUntil([&] { return store->session().isSignedIn() && !store->syncing(); }));
        store->accountSync().restore(accounts, lastSync);
    }
    openedURLs.resize(opened);
}

void ViewTestStore::setSyncing(bool syncing)
{
    if (syncing) {
        service->portalLatency = heldSync;
        startTask<void>([this](CancellationToken) { return store->sync(); });
        QVERIFY(processEventsUntil([&] { return store->syncing(); }));
    } else {
        service->portalLatency = {}; // for the role listings still to come
        clock->advance(heldSync);
        QVERIFY(processEventsUntil([&] { return !store->syncing(); }));
    }
}

void ViewTestStore::changeToken(const std::function<void(SSOToken &)> &change)
{
    SSOToken token = store->tokenKeeper().token().value_or(
        SSOToken{QStringLiteral("access"), std::nullopt, clock->currentDateTime().addSecs(3600),
                 configuredSSORegion(*settings), normalizedStartURL(*settings)});
    change(token);
    store->tokenKeeper().apply(token);
}

void ViewTestStore::setTokenExpiresAt(const QDateTime &expiresAt)
{
    changeToken([&](SSOToken &token) { token.expiresAt = expiresAt; });
}

void ViewTestStore::setHasRefreshToken(bool hasRefreshToken)
{
    changeToken([&](SSOToken &token) {
        token.refreshToken =
            hasRefreshToken ? std::optional(QStringLiteral("refresh")) : std::nullopt;
    });
}

void ViewTestStore::setBrowserFallbackURL(const QUrl &url)
{
    const qsizetype opened = openedURLs.size();
    const std::optional<QString> message = store->errorMessage();
    const bool succeeds = std::exchange(openerSucceeds, false);
    store->openVerificationURL(url.toString());
    openerSucceeds = succeeds;
    store->setErrorMessage(message);
    openedURLs.resize(opened);
}

} // namespace tessera::test
