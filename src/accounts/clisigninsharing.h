#pragma once

#include "awsconfig/clitokencache.h"
#include "storage/settingsstore.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

namespace tessera {

class AccountStore;

// Keeps the AWS CLI's token cache entry for the managed profiles' sso-session holding the
// store's current access token, so `aws --profile …` works without a second sign-in.
// Effective while "awsShareSignInWithCLI" is on, the profiles are native, the managed block
// uses an sso-session of this start URL and a token is held. It follows the store's token
// and syncs on its own; whoever applies the managed block or changes these settings calls
// update().
class CLISignInSharing : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY failureMessageChanged)

public:
    CLISignInSharing(AccountStore *store, std::shared_ptr<SettingsStore> settings,
                     CLITokenCache cache = CLITokenCache(), QObject *parent = nullptr);

    // Empty after a successful update.
    const QString &failureMessage() const { return m_failureMessage; }

public Q_SLOTS:
    void update();

Q_SIGNALS:
    void failureMessageChanged();

private:
    struct Shared
    {
        QString sessionName;
        QString accessToken;
    };

    std::optional<QString> effectiveSessionName() const;
    void withdraw();
    void setFailureMessage(QString message);

    QPointer<AccountStore> m_store;
    std::shared_ptr<SettingsStore> m_settings;
    CLITokenCache m_cache;
    // What this process put into the cache, the only entry it may take away again.
    std::optional<Shared> m_shared;
    QString m_failureMessage;
};

} // namespace tessera
