#include "awsconfig/clitokencache.h"

#include "awsconfig/awsconfigdocument.h"
#include "awsconfig/awsconfigmanager.h"
#include "foundation/logging.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tessera {

namespace {

QString isoUtc(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate); // "2026-01-02T03:04:05Z"
}

QDateTime parsedExpiry(const QString &text)
{
    // The CLI writes "Z" or "+00:00" offsets; both parse as ISO 8601 with an offset.
    QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    if (!parsed.isValid()) {
        parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
    }
    return parsed;
}

void makePrivateDirectory(const QString &path)
{
    if (QDir(path).exists()) {
        return; // The CLI's own folder: its mode is the user's business.
    }
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent)) {
        throw FileError(QStringLiteral("Could not create ") + parent);
    }
    // Created with its final mode, so the folder is never briefly open to others.
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
        throw FileError(QStringLiteral("Could not create ") + path + QStringLiteral(": ") +
                        QString::fromLocal8Bit(std::strerror(errno)));
    }
}

} // namespace

CLITokenCache::CLITokenCache(QString directory)
    : m_directory(std::move(directory))
{}

QString CLITokenCache::defaultDirectory()
{
    return QDir::homePath() + QStringLiteral("/.aws/sso/cache");
}

QString CLITokenCache::fileName(const QString &sessionName)
{
    const QByteArray digest =
        QCryptographicHash::hash(sessionName.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QString::fromLatin1(digest) + QStringLiteral(".json");
}

QString CLITokenCache::entryPath(const QString &sessionName) const
{
    return m_directory + QLatin1Char('/') + fileName(sessionName);
}

std::optional<CLITokenCacheEntry> CLITokenCache::read(const QString &sessionName) const
{
    const std::optional<QByteArray> data = readFileIfPresent(entryPath(sessionName));
    if (!data) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(*data);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    CLITokenCacheEntry entry;
    entry.startUrl = object.value(QStringLiteral("startUrl")).toString();
    entry.region = object.value(QStringLiteral("region")).toString();
    entry.accessToken = object.value(QStringLiteral("accessToken")).toString();
    entry.expiresAt = parsedExpiry(object.value(QStringLiteral("expiresAt")).toString());
    return entry;
}

CLITokenCache::WriteOutcome CLITokenCache::write(const QString &sessionName,
                                                 const CLITokenCacheEntry &entry) const
{
    // A file that is not a JSON object holds no token anyone could use (botocore treats it
    // as missing), so it may be replaced.
    if (const auto existing = read(sessionName)) {
        if (existing->accessToken == entry.accessToken && existing->startUrl == entry.startUrl &&
            existing->region == entry.region &&
            existing->expiresAt.toSecsSinceEpoch() == entry.expiresAt.toSecsSinceEpoch()) {
            return WriteOutcome::unchanged;
        }
        const bool otherPortal =
            normalizeStartURL(existing->startUrl) != normalizeStartURL(entry.startUrl);
        const bool outlivesOurs =
            existing->expiresAt.isValid() &&
            existing->expiresAt.toSecsSinceEpoch() > entry.expiresAt.toSecsSinceEpoch();
        if (otherPortal || outlivesOurs) {
            return WriteOutcome::keptExisting;
        }
    }

    QJsonObject object;
    object.insert(QStringLiteral("startUrl"), entry.startUrl);
    object.insert(QStringLiteral("region"), entry.region);
    object.insert(QStringLiteral("accessToken"), entry.accessToken);
    object.insert(QStringLiteral("expiresAt"), isoUtc(entry.expiresAt));
    makePrivateDirectory(m_directory);
    writeFileAtomically(entryPath(sessionName),
                        QJsonDocument(object).toJson(QJsonDocument::Compact),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return WriteOutcome::written;
}

bool CLITokenCache::removeIfHolding(const QString &sessionName, const QString &accessToken) const
{
    const auto existing = read(sessionName);
    if (!existing || accessToken.isEmpty() || existing->accessToken != accessToken) {
        return false;
    }
    QFile file(entryPath(sessionName));
    if (!file.remove()) {
        throw FileError(QStringLiteral("Could not delete ") + file.fileName() +
                        QStringLiteral(": ") + file.errorString());
    }
    return true;
}

std::optional<QString> sessionSharedWithCLI(const QString &configText, const QString &startURL)
{
    std::optional<AWSConfigDocument> document;
    try {
        document.emplace(configText);
    } catch (const AWSConfigManagerError &error) {
        qCWarning(lcAWSConfig).noquote()
            << "Sign-in not shared with the AWS CLI:" << error.description();
        return std::nullopt;
    }
    if (!document->managedBody()) {
        return std::nullopt;
    }
    std::optional<QString> sessionName;
    for (const AWSConfigSection &section :
         AWSConfigManager::parseSections(*document->managedBody())) {
        const auto value = section.values.constFind(QStringLiteral("sso_session"));
        if (section.kind == AWSConfigSection::Kind::profile && value != section.values.constEnd()) {
            sessionName = AWSConfigManager::valueToken(*value);
            break;
        }
    }
    if (!sessionName || sessionName->isEmpty()) {
        return std::nullopt;
    }
    const QString wanted = normalizeStartURL(startURL);
    for (const AWSConfigSection &section : AWSConfigManager::parseSections(configText)) {
        if (section.kind != AWSConfigSection::Kind::ssoSession || section.name != *sessionName) {
            continue;
        }
        const QString url =
            AWSConfigManager::valueToken(section.values.value(QStringLiteral("sso_start_url")));
        if (normalizeStartURL(url) == wanted) {
            return sessionName;
        }
    }
    return std::nullopt;
}

} // namespace tessera
