#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace tessera {

// What `aws sso login` leaves for an sso-session, minus the refresh token and the client
// registration: a second holder of the refresh token could rotate it under Tessera.
struct CLITokenCacheEntry
{
    QString startUrl;
    QString region;
    QString accessToken;
    QDateTime expiresAt;
};

// The AWS CLI's SSO token cache (~/.aws/sso/cache/<sha1 of the session name>.json, where
// botocore's token loader looks). Tessera shares its sign-in through it, and never takes
// away what the user's own `aws sso login` put there.
class CLITokenCache
{
public:
    enum class WriteOutcome
    {
        written,
        unchanged,
        // An entry for another start URL, or one that outlives ours: the user's own.
        keptExisting
    };

    explicit CLITokenCache(QString directory = defaultDirectory());

    // botocore expands "~" from HOME, as QDir::homePath() does.
    static QString defaultDirectory();
    static QString fileName(const QString &sessionName);
    QString entryPath(const QString &sessionName) const;

    // Throws FileError when the folder or the file cannot be written.
    WriteOutcome write(const QString &sessionName, const CLITokenCacheEntry &entry) const;
    // Deletes the entry only while it still holds `accessToken`; true when it did. Throws
    // FileError when an entry of ours exists but cannot be deleted.
    bool removeIfHolding(const QString &sessionName, const QString &accessToken) const;

    std::optional<CLITokenCacheEntry> read(const QString &sessionName) const;

private:
    QString m_directory;
};

// The sso-session whose sign-in Tessera may share: the one the native profiles of the
// managed block use, provided its section in the file names this start URL. Nothing when
// the block has no native profile or the file is malformed.
std::optional<QString> sessionSharedWithCLI(const QString &configText, const QString &startURL);

} // namespace tessera
