#pragma once

#include "awsconfig/awsconfigdocument.h"
#include "awsconfig/awsconfigplan.h"
#include "awsconfig/awsconfigsection.h"
#include "awsconfig/awsconfigtypes.h"
#include "storage/records.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>
#include <utility>

namespace tessera {

// Reads, plans and writes the AWS CLI config. Stateless: every operation depends only on
// its arguments, the file system and the process environment. Failures are thrown as
// AWSConfigManagerError (or FileError for file-system failures while writing).
class AWSConfigManager
{
public:
    // --- Reading -------------------------------------------------------------------
    // The custom path, else AWS_CONFIG_FILE, else ~/.aws/config; a leading "~" expanded.
    // Symbolic links are not resolved here.
    static QString configFileURL(const AWSConfigManagementSettings &settings);
    // Follows symbolic links as far as they lead, also for a file that does not exist yet.
    static QString resolvingSymlinks(const QString &path);
    // The file's text; the empty string for a missing file.
    static QString readConfig(const QString &path);

    static QList<AWSConfigSection> parseSections(const QString &text);
    static QString valueToken(const QString &value);
    static std::optional<QString> sectionAccountId(const QMap<QString, QString> &values);
    static std::optional<QString> sectionRoleName(const QMap<QString, QString> &values);
    static std::optional<std::pair<QString, QString>> parseRoleARN(const QString &text);

    // Names of the profiles in ~/.aws/config (or `path`) that point at the account and,
    // when given, the role. Throws when the file exists but cannot be read.
    static QStringList awsProfileNames(const QString &accountId,
                                       const std::optional<QString> &roleName = std::nullopt,
                                       const std::optional<QString> &path = std::nullopt);

    // --- Planning ------------------------------------------------------------------
    static AWSConfigPlan plan(const QList<AWSAccount> &accounts, const QString &startURL,
                              const QString &ssoRegion, const AWSConfigManagementSettings &settings,
                              const QMap<QString, QString> &mappings, bool keepOrphans,
                              const QDateTime &now);

    // --- Writing -------------------------------------------------------------------
    // Writes the plan with a backup of the previous file; returns the backup's path, or
    // nothing when no backup was needed (file unchanged or newly created). `now` names the
    // backup.
    static std::optional<QString> apply(const AWSConfigPlan &plan, const QDateTime &now);
    static std::optional<QString> latestBackup(const QString &configPath);
    static void pruneBackups(const QString &configPath);
    static void restoreBackup(const QString &backupPath, const AWSConfigPlan &plan);
    // Removes the temporaries that writes of the config at `configPath` left when they
    // were interrupted; answers how many.
    static int removeInterruptedWrites(const QString &configPath);

    static QMap<QString, QString> loadMappings();
    static void saveMappings(const QMap<QString, QString> &mappings);
    static QString mappingsFileURL();

    // The first executable "granted" on PATH (or `searchPath`) or in the usual install
    // folders.
    static std::optional<QString> grantedExecutablePath();
    static std::optional<QString> grantedExecutablePath(const QString &searchPath);

    static constexpr int keptBackupCount = 10;
};

} // namespace tessera
