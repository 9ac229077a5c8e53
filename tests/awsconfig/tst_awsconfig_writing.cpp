#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/profileautoupdate.h"
#include "awsconfigtestdata.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tessera;
using namespace tessera::test;

namespace {
const QDateTime firstApply(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);

mode_t modeOf(const QString &path)
{
    struct stat status = {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

QString stampOf(const QDateTime &when)
{
    return when.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

QStringList backupsIn(const QString &directory)
{
    return QDir(directory).entryList({QStringLiteral("config.tessera-backup-*")}, QDir::Files,
                                     QDir::Name);
}
} // namespace

class TestAWSConfigWriting : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

    // Each region gives a different block, so every apply has something to write.
    AWSConfigPlan planFor(const QString &cliRegion, const QDateTime &now,
                          const QString &path = QString())
    {
        auto settings = settingsFor(path.isEmpty() ? m_path : path);
        settings.cliRegion = cliRegion;
        return AWSConfigManager::plan(sampleAccounts().mid(1), startURL, ssoRegion, settings, {},
                                      true, now);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("config"));
        QFile::remove(AWSConfigManager::mappingsFileURL());
    }

    void createsAMissingFilePrivately()
    {
        const QString path = m_dir->filePath(QStringLiteral("new/.aws/config"));
        const AWSConfigPlan plan = planFor(QString(), firstApply, path);
        QCOMPARE(plan.originalContents, QString());
        QCOMPARE(AWSConfigManager::apply(plan, firstApply), std::nullopt);
        QCOMPARE(readText(path), plan.proposedContents);
        QCOMPARE(modeOf(path), mode_t(0600));
        QVERIFY(backupsIn(QFileInfo(path).path()).isEmpty());
        QCOMPARE(AWSConfigManager::loadMappings(), plan.mappings);
    }

    void unchangedPlanWritesNothingButSavesNames()
    {
        writeText(m_path, QStringLiteral("[profile mine]\r\nregion = x"));
        AWSConfigManager::apply(planFor(QString(), firstApply), firstApply);
        QFile::remove(AWSConfigManager::mappingsFileURL());
        const QStringList backups = backupsIn(m_dir->path());
        const AWSConfigPlan again = planFor(QString(), firstApply.addSecs(60));
        QCOMPARE(again.proposedContents, again.originalContents);
        QCOMPARE(AWSConfigManager::apply(again, firstApply.addSecs(60)), std::nullopt);
        QCOMPARE(backupsIn(m_dir->path()), backups);
        QCOMPARE(AWSConfigManager::loadMappings(), again.mappings);
    }

    void backsUpWithinOneSecondAndKeepsPermissions()
    {
        const QString original = QStringLiteral("[profile mine]\nregion = x\n");
        writeText(m_path, original);
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);

        const auto first =
            AWSConfigManager::apply(planFor(QStringLiteral("eu-west-1"), firstApply), firstApply);
        const auto second =
            AWSConfigManager::apply(planFor(QStringLiteral("eu-west-2"), firstApply), firstApply);
        const QString stamp =
            m_dir->filePath(QStringLiteral("config.tessera-backup-") + stampOf(firstApply));
        QCOMPARE(first, stamp);
        QCOMPARE(second, stamp + QStringLiteral("-02"));
        QCOMPARE(readText(*first), original);
        QCOMPARE(modeOf(m_path), mode_t(0640));
        QCOMPARE(modeOf(*first), mode_t(0640));
        QCOMPARE(AWSConfigManager::latestBackup(m_path), second);
    }

    void keepsTheTenNewestBackups()
    {
        writeText(m_path, QStringLiteral("[profile mine]\n"));
        QStringList made;
        for (int i = 0; i < 12; ++i) {
            const QDateTime now = firstApply.addSecs(i);
            made << *AWSConfigManager::apply(planFor(QStringLiteral("r%1").arg(i), now), now);
        }
        QStringList expected;
        for (const QString &path : made.mid(2)) {
            expected << QFileInfo(path).fileName();
        }
        QCOMPARE(backupsIn(m_dir->path()), expected);
    }

    void writesThroughASymbolicLink()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("real-config"));
        writeText(target, QStringLiteral("[profile mine]\n"));
        QVERIFY(QFile::link(target, m_path));

        const AWSConfigPlan plan = planFor(QString(), firstApply);
        QCOMPARE(plan.targetURL, QFileInfo(target).canonicalFilePath());
        const auto backup = AWSConfigManager::apply(plan, firstApply);
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(readText(m_path), plan.proposedContents);
        QVERIFY(backup);
        QCOMPARE(QFileInfo(*backup).canonicalPath(),
                 QFileInfo(elsewhere.path()).canonicalFilePath());
        QCOMPARE(QFileInfo(*backup).fileName(),
                 QStringLiteral("real-config.tessera-backup-") + stampOf(firstApply));
        QCOMPARE(AWSConfigManager::latestBackup(m_path), backup);
    }

    void refusesStalePlansAndConflicts()
    {
        const QString original = QStringLiteral("[profile mine]\n");
        writeText(m_path, original);
        const AWSConfigPlan plan = planFor(QString(), firstApply);
        writeText(m_path, original + QStringLiteral("region = edited\n"));
        try {
            AWSConfigManager::apply(plan, firstApply);
            QFAIL("applied a stale plan");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::fileChanged);
        }
        QCOMPARE(readText(m_path), original + QStringLiteral("region = edited\n"));
        QFile::remove(m_path);
        QVERIFY_THROWS_EXCEPTION(AWSConfigManagerError, AWSConfigManager::apply(plan, firstApply));
        QVERIFY(!QFileInfo::exists(m_path));

        AWSConfigPlan conflicting = planFor(QString(), firstApply);
        conflicting.globalConflicts << QStringLiteral("x");
        try {
            AWSConfigManager::apply(conflicting, firstApply);
            QFAIL("applied a plan with conflicts");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::conflicts);
        }
        QVERIFY(backupsIn(m_dir->path()).isEmpty());
    }

    void restoresTheNewestBackup()
    {
        const QString original = QStringLiteral("[profile mine]\r\n; kept\r\n");
        writeText(m_path, original);
        const AWSConfigPlan plan = planFor(QString(), firstApply);
        const auto backup = AWSConfigManager::apply(plan, firstApply);
        AWSConfigManager::restoreBackup(*backup, plan);
        QCOMPARE(readText(m_path), original);

        QFile::remove(*backup);
        try {
            AWSConfigManager::restoreBackup(*backup, plan);
            QFAIL("restored a missing backup");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::missingBackup);
        }
        QCOMPARE(AWSConfigManager::latestBackup(m_path), std::nullopt);
    }

    void aFullDiskKeepsTheOldFiles()
    {
        // The config: the write fails, the old file and its backup stay whole.
        const QString original = QStringLiteral("[profile mine]\n");
        writeText(m_path, original);
        const AWSConfigPlan plan = planFor(QStringLiteral("eu-west-1"), firstApply);
        const off_t limit = 64;
        QVERIFY(plan.proposedContents.size() > limit * 4);
        QVERIFY(runWithFileSizeLimit(limit, [&] {
            try {
                AWSConfigManager::apply(plan, firstApply);
            } catch (const FileError &) {
                return true;
            }
            return false;
        }));
        QCOMPARE(readText(m_path), original);
        const QStringList backups = backupsIn(m_dir->path());
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readText(m_dir->filePath(backups.constFirst())), original);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // The profile names: a failure is only logged, and the old names stay readable.
        const QString mappings = AWSConfigManager::mappingsFileURL();
        writeText(mappings, QStringLiteral("{\"a|b|c\":\"old\"}"));
        QVERIFY(runWithFileSizeLimit(limit, [&] {
            AWSConfigManager::saveMappings(plan.mappings);
            return true;
        }));
        QCOMPARE(readText(mappings), QStringLiteral("{\"a|b|c\":\"old\"}"));
    }

    void removesOnlyItsOwnInterruptedWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withBlock");
        QTest::addColumn<bool>("removed");
        QTest::newRow("temporary") << "config.AbCdEf" << true << true;
        QTest::newRow("user's copy") << "config.backup" << true << false;
        QTest::newRow("upper case") << "config.BACKUP" << true << false;
        QTest::newRow("without the block") << "config.AbCdEf" << false << false;
        QTest::newRow("backup") << "config.tessera-backup-20260304-050607" << true << false;
        QTest::newRow("other file") << "credentials.AbCdEf" << true << false;
    }

    void removesOnlyItsOwnInterruptedWrites()
    {
        QFETCH(QString, name);
        QFETCH(bool, withBlock);
        QFETCH(bool, removed);
        writeText(m_path, QStringLiteral("[profile mine]\n"));
        const QString path = m_dir->filePath(name);
        writeText(path, withBlock ? planFor(QString(), firstApply).proposedContents
                                  : QStringLiteral("[profile mine]\n"));
        QCOMPARE(AWSConfigManager::removeInterruptedWrites(m_path), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(path), !removed);
        QVERIFY(QFileInfo::exists(m_path));
    }

    void readsOnlyWellFormedMappings()
    {
        AWSConfigManager::saveMappings({{QStringLiteral("a|b|c"), QStringLiteral("name")}});
        QCOMPARE(AWSConfigManager::loadMappings().value(QStringLiteral("a|b|c")),
                 QStringLiteral("name"));
        QCOMPARE(QFileInfo(AWSConfigManager::mappingsFileURL()).fileName(),
                 QStringLiteral("aws-profile-mappings.json"));
        writeText(AWSConfigManager::mappingsFileURL(), QStringLiteral("{\"a\": 1}"));
        QVERIFY(AWSConfigManager::loadMappings().isEmpty());
        writeText(AWSConfigManager::mappingsFileURL(), QStringLiteral("not json"));
        QVERIFY(AWSConfigManager::loadMappings().isEmpty());
    }

    void findsAnExecutableGranted()
    {
        QTemporaryDir first;
        QTemporaryDir second;
        writeText(first.filePath(QStringLiteral("granted")), QStringLiteral("not executable"));
        const QString executable = second.filePath(QStringLiteral("granted"));
        writeText(executable, QStringLiteral("#!/bin/sh\n"));
        QVERIFY(::chmod(QFile::encodeName(executable).constData(), 0755) == 0);
        QCOMPARE(AWSConfigManager::grantedExecutablePath(QStringLiteral("::") + first.path() +
                                                         QLatin1Char(':') + second.path()),
                 executable);
        QCOMPARE(AWSConfigManager::grantedExecutablePath(first.path()).has_value(),
                 QFileInfo(QStringLiteral("/usr/local/bin/granted")).isExecutable());
    }

    void updatesProfilesAfterASync()
    {
        InMemorySettingsStore settings;
        registerTesseraDefaults(settings);
        settings.setString(key(settingskey::awsConfigPath), m_path);
        const QString original = QStringLiteral("[profile mine]\n");
        writeText(m_path, original);

        settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        QCOMPARE(
            updateAWSProfilesAfterSync(sampleAccounts(), startURL, ssoRegion, settings, firstApply),
            std::nullopt);
        QCOMPARE(readText(m_path), original); // automatic sync is off

        settings.setBool(key(settingskey::awsProfileAutoSync), true);
        settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("bogus"));
        QCOMPARE(
            updateAWSProfilesAfterSync(sampleAccounts(), startURL, ssoRegion, settings, firstApply),
            std::nullopt);
        QCOMPARE(readText(m_path), original);

        settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("granted"));
        settings.setString(key(settingskey::awsProfileNameCase), QStringLiteral("uppercase"));
        QCOMPARE(updateAWSProfilesAfterSync(sampleAccounts().mid(1), startURL, ssoRegion, settings,
                                            firstApply),
                 std::nullopt);
        QVERIFY(readText(m_path).contains(
            QLatin1String("[profile ALPHA-ADMIN]\ngranted_sso_start_url")));
        QCOMPARE(AWSConfigManager::loadMappings().value(
                     candidateId(QStringLiteral("111111111111"), QStringLiteral("Admin"))),
                 QStringLiteral("ALPHA-ADMIN"));

        // A user profile that takes a generated name blocks the update and says why.
        writeText(m_path,
                  QStringLiteral(
                      "[profile TAKEN-X]\nsso_account_id = 999999999999\nsso_role_name = X\n"));
        QCOMPARE(
            updateAWSProfilesAfterSync(sampleAccounts(), startURL, ssoRegion, settings, firstApply),
            QStringLiteral("Resolve profile and session-name conflicts before applying."));
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigWriting)
#include "tst_awsconfig_writing.moc"
