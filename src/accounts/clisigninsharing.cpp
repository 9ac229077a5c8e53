#include "accounts/clisigninsharing.h"

#include "accounts/accountstore.h"
#include "awsconfig/awsconfigmanager.h"
#include "foundation/logging.h"
#include "storage/settings.h"

namespace tessera {

CLISignInSharing::CLISignInSharing(AccountStore *store, std::shared_ptr<SettingsStore> settings,
                                   CLITokenCache cache, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(std::move(settings))
    , m_cache(std::move(cache))
{
    // Sign-in, refresh, sign-out and session end all change the token's expiry; a sync may
    // have rewritten the managed block when it ends.
    connect(store, &AccountStore::tokenExpiresAtChanged, this, &CLISignInSharing::update);
    connect(store, &AccountStore::syncingChanged, this, [this] {
        if (m_store && !m_store->syncing()) {
            update();
        }
    });
    update();
}

std::optional<QString> CLISignInSharing::effectiveSessionName() const
{
    if (!m_settings->boolean(key(settingskey::awsShareSignInWithCLI))) {
        return std::nullopt;
    }
    const auto profiles = AWSConfigManagementSettings::fromSettings(*m_settings);
    if (profiles.mode != AWSConfigManagementMode::native) {
        return std::nullopt;
    }
    const QString path =
        AWSConfigManager::resolvingSymlinks(AWSConfigManager::configFileURL(profiles));
    return sessionSharedWithCLI(AWSConfigManager::readConfig(path),
                                normalizedStartURL(*m_settings));
}

void CLISignInSharing::update()
{
    if (!m_store) {
        return;
    }
    try {
        const std::optional<SSOToken> &token = m_store->tokenKeeper().token();
        const std::optional<QString> sessionName =
            token && token->expiresAt > QDateTime::currentDateTimeUtc() ? effectiveSessionName()
                                                                        : std::nullopt;
        if (m_shared && (!sessionName || *sessionName != m_shared->sessionName)) {
            withdraw();
        }
        if (sessionName) {
            const CLITokenCacheEntry entry{normalizedStartURL(*m_settings),
                                           configuredSSORegion(*m_settings), token->accessToken,
                                           token->expiresAt};
            if (m_cache.write(*sessionName, entry) != CLITokenCache::WriteOutcome::keptExisting) {
                m_shared = Shared{*sessionName, token->accessToken};
            }
        }
        setFailureMessage({});
    } catch (const Error &error) {
        qCWarning(lcAWSConfig).noquote()
            << "Sharing the sign-in with the AWS CLI failed:" << error.description();
        setFailureMessage(QStringLiteral("The AWS CLI's sign-in could not be updated: ") +
                          error.description());
    }
}

void CLISignInSharing::withdraw()
{
    const Shared shared = *m_shared;
    m_shared.reset();
    m_cache.removeIfHolding(shared.sessionName, shared.accessToken);
}

void CLISignInSharing::setFailureMessage(QString message)
{
    if (m_failureMessage != message) {
        m_failureMessage = std::move(message);
        Q_EMIT failureMessageChanged();
    }
}

} // namespace tessera
