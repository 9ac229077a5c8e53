#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/profileautoupdate.h"
#include "awsconfigtestdata.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tessera;
using namespace tessera::test;

namespace {
const QDateTime firstApply(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
const QString original = QStringLiteral("[profile mine]\r\n; kept\r\n");

mode_t modeOf(const QString &path)
{
    struct stat status = {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

QString backupName(const QDateTime &when, const QString &file = QStringLiteral("config"))
{
    return file + QStringLiteral(".tessera-backup-") +
           when.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
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
    AWSConfigPlan planFor(const QString &cliRegion, const QString &path = QString())
    {
        auto settings = settingsFor(path.isEmpty() ? m_path : path);
        settings.cliRegion = cliRegion;
        return AWSConfigManager::plan(sampleAccounts().mid(1), startURL, ssoRegion, settings, {},
                                      true, firstApply);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("config"));
        writeText(m_path, original);
        QFile::remove(AWSConfigManager::mappingsFileURL());
    }

    void createsAMissingFilePrivatelyAndSavesNamesEvenWhenUnchanged()
    {
        const QString path = m_dir->filePath(QStringLiteral("new/.aws/config"));
        const AWSConfigPlan plan = planFor(QString(), path);
        QCOMPARE(AWSConfigManager::apply(plan, firstApply), std::nullopt);
        QCOMPARE(readText(path), plan.proposedContents);
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(AWSConfigManager::loadMappings(), plan.mappings);

        QFile::remove(AWSConfigManager::mappingsFileURL());
        QCOMPARE(AWSConfigManager::apply(planFor(QString(), path), firstApply), std::nullopt);
        QVERIFY(backupsIn(QFileInfo(path).path()).isEmpty());
        QCOMPARE(AWSConfigManager::loadMappings(), plan.mappings);
    }

    void backsUpWithinOneSecondAndKeepsPermissions()
    {
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
        const auto first =
            AWSConfigManager::apply(planFor(QStringLiteral("eu-west-1")), firstApply);
        const auto second =
            AWSConfigManager::apply(planFor(QStringLiteral("eu-west-2")), firstApply);
        QCOMPARE(first, m_dir->filePath(backupName(firstApply)));
        QCOMPARE(second, *first + QStringLiteral("-02"));
        QCOMPARE(readText(*first), original);
        QCOMPARE(modeOf(m_path), mode_t(0640));
        QCOMPARE(modeOf(*first), mode_t(0640));
        QCOMPARE(AWSConfigManager::latestBackup(m_path), second);

        AWSConfigManager::restoreBackup(*first, planFor(QString()));
        QCOMPARE(readText(m_path), original);
        QFile::remove(*first);
        try {
            AWSConfigManager::restoreBackup(*first, planFor(QString()));
            QFAIL("restored a missing backup");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::missingBackup);
        }
    }

    void keepsTheTenNewestBackups()
    {
        QStringList made;
        for (int i = 0; i < 12; ++i) {
            made << backupName(firstApply.addSecs(i));
            writeText(m_dir->filePath(made.last()), original);
        }
        AWSConfigManager::pruneBackups(m_path);
        QCOMPARE(backupsIn(m_dir->path()), made.mid(2));
    }

    void writesThroughASymbolicLink()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("real-config"));
        QVERIFY(QFile::rename(m_path, target));
        QVERIFY(QFile::link(target, m_path));
        const AWSConfigPlan plan = planFor(QString());
        QCOMPARE(plan.targetURL, QFileInfo(target).canonicalFilePath());
        const auto backup = AWSConfigManager::apply(plan, firstApply);
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(readText(m_path), plan.proposedContents);
        QCOMPARE(backup, QFileInfo(elsewhere.path()).canonicalFilePath() + QLatin1Char('/') +
                             backupName(firstApply, QStringLiteral("real-config")));
        QCOMPARE(AWSConfigManager::latestBackup(m_path), backup);
    }

    void refusesStalePlansAndConflicts()
    {
        const AWSConfigPlan plan = planFor(QString());
        AWSConfigPlan conflicting = plan;
        conflicting.globalConflicts << QStringLiteral("x");
        try {
            AWSConfigManager::apply(conflicting, firstApply);
            QFAIL("applied a plan with conflicts");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::conflicts);
        }
        writeText(m_path, original + QStringLiteral("region = edited\n"));
        try {
            AWSConfigManager::apply(plan, firstApply);
            QFAIL("applied a stale plan");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.kind(), AWSConfigManagerError::Kind::fileChanged);
        }
        QCOMPARE(readText(m_path), original + QStringLiteral("region = edited\n"));
        QVERIFY(backupsIn(m_dir->path()).isEmpty());
    }

    void aFullDiskKeepsTheOldFiles()
    {
        // The config: the write fails, the old file and its backup stay whole.
        const AWSConfigPlan plan = planFor(QStringLiteral("eu-west-1"));
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
        QCOMPARE(readText(m_dir->filePath(backupName(firstApply))), original);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // The profile names: a failure is only logged, and the old names stay readable.
        const QString mappings = AWSConfigManager::mappingsFileURL();
        writeText(mappings, QStringLiteral("{\"a|b|c\":\"old\"}"));
        QVERIFY(runWithFileSizeLimit(limit, [&] {
            AWSConfigManager::saveMappings(plan.mappings);
            return true;
        }));
        QCOMPARE(AWSConfigManager::loadMappings().value(QStringLiteral("a|b|c")),
                 QStringLiteral("old"));
        for (const char *broken : {"{\"a\": 1}", "not json"}) {
            writeText(mappings, QString::fromLatin1(broken));
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^Ignored the profile names")));
            QVERIFY(AWSConfigManager::loadMappings().isEmpty());
        }
    }

    void removesOnlyItsOwnInterruptedWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withBlock");
        QTest::addColumn<bool>("removed");
        QTest::newRow("temporary") << "config.AbCdEf" << true << true;
        QTest::newRow("user's copy") << "config.backup" << true << false;
        QTest::newRow("without the block") << "config.AbCdEf" << false << false;
        QTest::newRow("other file") << "credentials.AbCdEf" << true << false;
    }
    void removesOnlyItsOwnInterruptedWrites()
    {
        QFETCH(QString, name);
        QFETCH(bool, withBlock);
        QFETCH(bool, removed);
        const QString path = m_dir->filePath(name);
        writeText(path, withBlock ? planFor(QString()).proposedContents : original);
        QCOMPARE(AWSConfigManager::removeInterruptedWrites(m_path), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(path), !removed);
        QVERIFY(QFileInfo::exists(m_path));
    }

    void updatesProfilesAfterASync()
    {
        InMemorySettingsStore settings;
        registerTesseraDefaults(settings);
        settings.setString(key(settingskey::awsConfigPath), m_path);
        settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        const auto update = [&](const QList<AWSAccount> &accounts) {
            updateAWSProfilesAfterSync(accounts, startURL, ssoRegion, settings, firstApply);
        };
        update(sampleAccounts());
        QCOMPARE(readText(m_path), original); // automatic sync is off
        settings.setBool(key(settingskey::awsProfileAutoSync), true);

        settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("granted"));
        settings.setString(key(settingskey::awsProfileNameCase), QStringLiteral("uppercase"));
        update(sampleAccounts().mid(1));
        QVERIFY(readText(m_path).contains(
            QLatin1String("[profile ALPHA-ADMIN]\r\ngranted_sso_start_url")));
        // A user profile that takes a generated name blocks the update and says why.
        writeText(m_path, QStringLiteral("[profile TAKEN-X]\nsso_account_id = 9\n"));
        try {
            update(sampleAccounts());
            QFAIL("updated over a conflict");
        } catch (const AWSConfigManagerError &error) {
            QCOMPARE(error.description(),
                     QStringLiteral("Resolve profile and session-name conflicts before applying."));
        }
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigWriting)
#include "tst_awsconfig_writing.moc"
