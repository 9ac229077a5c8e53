#include "awsconfig/awsconfigdocument.h"
#include "awsconfig/awsconfigmanager.h"
#include "foundation/logging.h"
#include "storage/interruptedwrites.h"
#include "storage/supportfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tessera {

namespace {
constexpr mode_t newConfigMode = 0600;

QString backupPrefix(const QString &configPath)
{
    return QFileInfo(configPath).fileName() + QStringLiteral(".tessera-backup-");
}

// Backups of the config, oldest first: the stamp is year-first and a counter sorts after
// the plain stamp of the same second.
QStringList backupNames(const QString &resolvedConfigPath)
{
    const QDir directory = QFileInfo(resolvedConfigPath).dir();
    if (!directory.exists()) {
        return {};
    }
    const QString prefix = backupPrefix(resolvedConfigPath);
    QStringList names;
    for (const QString &name : directory.entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                   QDir::NoDotAndDotDot)) {
        if (name.startsWith(prefix)) {
            names.append(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

QString systemError(const QString &what, const QString &path)
{
    return what + QStringLiteral(" “") + path + QStringLiteral("”: ") +
           QString::fromLocal8Bit(std::strerror(errno));
}

QString freeBackupPath(const QString &configPath, const QDateTime &now)
{
    const QString base =
        QFileInfo(configPath)
            .dir()
            .filePath(backupPrefix(configPath) +
                      QLocale::c().toString(now.toLocalTime(), QStringLiteral("yyyyMMdd-HHmmss")));
    QString candidate = base;
    for (int counter = 2; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink();
         ++counter) {
        candidate =
            base + QLatin1Char('-') + QStringLiteral("%1").arg(counter, 2, 10, QLatin1Char('0'));
    }
    return candidate;
}

mode_t permissionBits(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        throw FileError(systemError(QStringLiteral("Could not read the permissions of"), path));
    }
    return status.st_mode & 07777;
}

void setPermissionBits(const QString &path, mode_t mode)
{
    if (::chmod(QFile::encodeName(path).constData(), mode) != 0) {
        throw FileError(systemError(QStringLiteral("Could not set the permissions of"), path));
    }
}

QString makeBackup(const QString &configPath, const QDateTime &now, mode_t mode)
{
    const QString backup = freeBackupPath(configPath, now);
    QFile source(configPath);
    if (!source.copy(backup)) {
        throw FileError(QStringLiteral("Could not back up the AWS config to “") + backup +
                        QStringLiteral("”: ") + source.errorString());
    }
    // The copy holds the same secrets as the original; never let it be more readable.
    setPermissionBits(backup, mode & 0777);
    return backup;
}
} // namespace

std::optional<QString> AWSConfigManager::apply(const AWSConfigPlan &plan, const QDateTime &now)
{
    if (plan.hasConflicts()) {
        throw AWSConfigManagerError::conflicts();
    }
    if (readConfig(plan.targetURL) != plan.originalContents) {
        throw AWSConfigManagerError::fileChanged();
    }
    if (plan.proposedContents == plan.originalContents) {
        saveMappings(plan.mappings);
        return std::nullopt;
    }

    const QString directory = QFileInfo(plan.targetURL).path();
    if (!QDir().mkpath(directory)) {
        throw FileError(QStringLiteral("Could not create the folder “") + directory +
                        QStringLiteral("”."));
    }
    std::optional<QString> backup;
    mode_t mode = newConfigMode;
    if (QFileInfo::exists(plan.targetURL)) {
        mode = permissionBits(plan.targetURL);
        backup = makeBackup(plan.targetURL, now, mode);
        if ((mode & 0777) == 0) {
            mode = newConfigMode;
        }
    }
    writeFileAtomically(plan.targetURL, plan.proposedContents.toUtf8(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    setPermissionBits(plan.targetURL, mode);
    saveMappings(plan.mappings);
    pruneBackups(plan.targetURL);
    return backup;
}

std::optional<QString> AWSConfigManager::latestBackup(const QString &configPath)
{
    const QString resolved = resolvingSymlinks(configPath);
    const QStringList names = backupNames(resolved);
    if (names.isEmpty()) {
        return std::nullopt;
    }
    return QFileInfo(resolved).dir().filePath(names.last());
}

void AWSConfigManager::pruneBackups(const QString &configPath)
{
    const QString resolved = resolvingSymlinks(configPath);
    const QDir directory = QFileInfo(resolved).dir();
    const QStringList names = backupNames(resolved);
    for (qsizetype i = 0; i + keptBackupCount < names.size(); ++i) {
        // A backup left over costs only space; the write it follows has succeeded.
        QFile backup(directory.filePath(names.at(i)));
        if (!backup.remove()) {
            qCWarning(lcAWSConfig).noquote() << "Could not remove the old backup"
                                             << backup.fileName() << ":" << backup.errorString();
        }
    }
}

void AWSConfigManager::restoreBackup(const QString &backupPath, const AWSConfigPlan &plan)
{
    const auto bytes = readFileIfPresent(backupPath);
    if (!bytes) {
        throw AWSConfigManagerError::missingBackup();
    }
    const QString target = resolvingSymlinks(plan.targetURL);
    // An existing file keeps its permission bits; a recreated one is private.
    writeFileAtomically(target, *bytes,
                        QFileInfo::exists(target)
                            ? std::nullopt
                            : std::optional(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
}

int AWSConfigManager::removeInterruptedWrites(const QString &configPath)
{
    // The config's folder is the user's, and "config.backup" has the form of a temporary
    // too. So only a file that holds Tessera's block counts, and only with both upper- and
    // lower-case letters in its suffix, which a random suffix has 31 times in 32 and a
    // word a user picks hardly ever.
    const QFileInfo target(resolvingSymlinks(configPath));
    const QString targetName = target.fileName();
    const QByteArray marker(managedBlockStartMarker);
    return tessera::removeInterruptedWrites(target.path(), [&](const QFileInfo &entry) {
        const QString name = entry.fileName();
        if (!isInterruptedWriteOf(name, targetName)) {
            return false;
        }
        const QStringView suffix = QStringView(name).sliced(targetName.size() + 1);
        const auto isUpper = [](QChar c) { return c.isUpper(); };
        if (std::none_of(suffix.begin(), suffix.end(), isUpper) ||
            std::all_of(suffix.begin(), suffix.end(), isUpper)) {
            return false;
        }
        QFile file(entry.filePath());
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(marker);
    });
}

std::optional<QString> AWSConfigManager::grantedExecutablePath()
{
    return grantedExecutablePath(qEnvironmentVariable("PATH"));
}

std::optional<QString> AWSConfigManager::grantedExecutablePath(const QString &searchPath)
{
    QStringList candidates;
    for (const QString &directory : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        candidates.append(directory + QStringLiteral("/granted"));
    }
    candidates << QStringLiteral("/opt/homebrew/bin/granted")
               << QStringLiteral("/usr/local/bin/granted");
    for (const QString &candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace tessera
