// Planning the managed block against the user's config, and writing it: backups, permissions,
// stale plans, full disks and the update after a sync.
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

using namespace tessera;
using namespace tessera::test;

namespace {
using Status = AWSConfigProfileStatus;

const QDateTime planTime(QDate(2026, 1, 10), QTime(20, 30), Qt::UTC);

const QString userOwnedConfig = QStringLiteral(
    "[profile dev]\nsso_account_id = 111111111111\nsso_role_name = Dev\n\n"
    "[profile TAKEN-X]\nsso_account_id = 999999999999\nsso_role_name = X\n\n"
    "# >>> Tessera managed AWS profiles\n# Last updated by Tessera: 2025-01-01 00:00:00 PST\n\n"
    "[profile Beta-Admin]\nsso_session = tessera-x-test\nsso_account_id = 222222222222\n"
    "sso_role_name = Admin\n\n"
    "[profile gone]\nsso_session = tessera-x-test\nsso_account_id = 555555555555\n"
    "sso_role_name = Old\n# <<< Tessera managed AWS profiles\n");

QString statuses(const AWSConfigPlan &plan)
{
    QStringList result;
    for (const auto &candidate : plan.candidates) {
        result << candidate.name + QLatin1Char(':') + QString::number(int(candidate.status));
    }
    return result.join(QLatin1Char(' '));
}

QStringList blockSections(const AWSConfigPlan &plan)
{
    QStringList names;
    const auto body = AWSConfigDocument(plan.proposedContents).managedBody();
    for (const auto &section : AWSConfigManager::parseSections(body.value_or(QString()))) {
        names << section.name;
    }
    return names;
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

class TestAWSConfigProfiles : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

    AWSConfigPlan planWith(const AWSConfigManagementSettings &settings,
                           const QMap<QString, QString> &mappings = {}, bool keepOrphans = true,
                           const QList<AWSAccount> &accounts = sampleAccounts())
    {
        return AWSConfigManager::plan(accounts, startURL, ssoRegion, settings, mappings,
                                      keepOrphans, planTime);
    }

    // A plan that can be applied (no account takes a user's profile name); each region gives
    // a different block, so every apply has something to write.
    AWSConfigPlan planFor(const QString &cliRegion, const QMap<QString, QString> &mappings = {},
                          const QDateTime &when = planTime)
    {
        auto settings = settingsFor(m_path);
        settings.cliRegion = cliRegion;
        return AWSConfigManager::plan(sampleAccounts().mid(1), startURL, ssoRegion, settings,
                                      mappings, true, when);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("config"));
        writeText(m_path, userOwnedConfig);
        QFile::remove(AWSConfigManager::mappingsFileURL());
    }

    // create 0, update 1, existing 2, conflict 3
    void decidesEachCandidatesStatus_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<int>("nameCase");
        QTest::addColumn<QString>("expected");
        QTest::newRow("legacy names")
            << QStringLiteral("{accountName}-{role}") << int(AWSProfileNameCase::preserve)
            << QStringLiteral("alpha-Admin:0 dev:2 Beta-Admin:1 "
                              "Bob's-Admin:3 Taken-X:3");
        // The block's profile is renamed in place, not orphaned.
        QTest::newRow("renamed") << QString() << int(AWSProfileNameCase::lowercase)
                                 << QStringLiteral("alpha-admin:0 dev:2 beta-admin:1 "
                                                   "bob-s-admin:0 taken-x:3");
        QTest::newRow("an earlier candidate's name")
            << QStringLiteral("{role}") << int(AWSProfileNameCase::preserve)
            << QStringLiteral("Admin:0 dev:2 Admin:3 Admin:3 X:0");
        // The user's own profile for a role is found by what it points at, not by name.
        QTest::newRow("blank template") << QStringLiteral("  ") << int(AWSProfileNameCase::preserve)
                                        << QStringLiteral(":3 dev:2 :3 :3 :3");
    }
    void decidesEachCandidatesStatus()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(int, nameCase);
        QFETCH(QString, expected);
        auto settings = settingsFor(m_path);
        settings.namingTemplate = nameTemplate;
        settings.nameSeparator = AWSProfileNameSeparator::preserve;
        settings.nameCase = AWSProfileNameCase(nameCase);
        const AWSConfigPlan plan = planWith(settings);
        QCOMPARE(statuses(plan), expected);
        QCOMPARE(plan.orphanedProfileNames, QStringList{QStringLiteral("gone")});
        // Only created and updated profiles are written; user-owned text stays as it was.
        QCOMPARE(AWSConfigDocument(plan.proposedContents).unmanaged(),
                 AWSConfigDocument(userOwnedConfig).unmanaged());
        QStringList written{sessionName};
        for (const auto &candidate : plan.candidates) {
            if (candidate.status == Status::create || candidate.status == Status::update) {
                written << candidate.name;
            }
        }
        QCOMPARE(blockSections(plan), written << QStringLiteral("gone"));
    }

    void keepsUserNamesAndOrphans()
    {
        const AWSConfigPlan plan = planWith(settingsFor(m_path));
        QCOMPARE(plan.candidates.first().id,
                 candidateId(QStringLiteral("111111111111"), QStringLiteral("Admin")));
        QCOMPARE(
            plan.mappings.value(candidateId(QStringLiteral("111111111111"), QStringLiteral("Dev"))),
            QStringLiteral("dev"));
        QVERIFY(plan.proposedContents.contains(
            QLatin1String("# Last updated by Tessera: 2026-01-10 12:30:00 PST")));

        // Kept orphans: see decidesEachCandidatesStatus. Dropped ones are still reported.
        const AWSConfigPlan dropped = planWith(settingsFor(m_path), {}, false, {});
        QCOMPARE(dropped.orphanedProfileNames,
                 (QStringList{QStringLiteral("Beta-Admin"), QStringLiteral("gone")}));
        QVERIFY(blockSections(dropped).isEmpty());
    }

    void refusesValuesThatWouldBreakTheFile()
    {
        const QList<AWSAccount> accounts{
            AWSAccount{QStringLiteral("111111111111"),
                       QStringLiteral("a"),
                       {QStringLiteral("R\n# <<< Tessera managed AWS profiles")}},
            AWSAccount{
                QStringLiteral("2222\r22222222"), QStringLiteral("b"), {QStringLiteral("R")}},
            AWSAccount{QStringLiteral("333333333333"), QStringLiteral("c"), {QStringLiteral("R")}}};
        writeText(m_path, QString());
        const AWSConfigPlan plan = planWith(settingsFor(m_path), {}, true, accounts);
        QCOMPARE(plan.conflicts().size(), 2);
        QCOMPARE(blockSections(plan), (QStringList{sessionName, QStringLiteral("c-R")}));
    }

    void refusesSettingsThatWouldAddLines_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        const int url = int(AWSConfigValueKind::startURL);
        const int sso = int(AWSConfigValueKind::ssoRegion);
        const int cli = int(AWSConfigValueKind::cliRegion);
        QTest::newRow("url") << url << QStringLiteral(" https://d-1.awsapps.com/start/#/ ") << true;
        QTest::newRow("url, LF") << url << QStringLiteral("https://x.test/s\n[profile e]") << false;
        QTest::newRow("url, bracket") << url << QStringLiteral("https://x.test/s]") << false;
        QTest::newRow("sso region") << sso << QStringLiteral(" EU-West-1") << true;
        QTest::newRow("sso region, CR") << sso << QStringLiteral("us-east\r-1") << false;
        QTest::newRow("cli region, final break") << cli << QStringLiteral("eu-central-1\n") << true;
        QTest::newRow("cli region, LF") << cli << QStringLiteral("eu\n[profile x]") << false;
    }
    void refusesSettingsThatWouldAddLines()
    {
        QFETCH(int, kind);
        QFETCH(QString, value);
        QFETCH(bool, valid);
        const auto which = AWSConfigValueKind(kind);
        const auto pick = [&](AWSConfigValueKind asked, const QString &otherwise) {
            return which == asked ? value : otherwise;
        };
        // The block refuses what the settings window refuses, in either kind of profile.
        for (const auto mode :
             {AWSConfigManagementMode::native, AWSConfigManagementMode::granted}) {
            auto settings = settingsFor(m_path, mode);
            settings.cliRegion = pick(AWSConfigValueKind::cliRegion, QString());
            QCOMPARE(errorOf([&] {
                         AWSConfigManager::plan(sampleAccounts(),
                                                pick(AWSConfigValueKind::startURL, startURL),
                                                pick(AWSConfigValueKind::ssoRegion, ssoRegion),
                                                settings, {}, true, planTime);
                     }),
                     valid ? std::nullopt
                           : std::optional(AWSConfigManagerError::Kind::invalidValue));
        }
    }

    void storedNamesFollowSettingsButNotTemplateEdits()
    {
        const QString adminId =
            candidateId(QStringLiteral("111111111111"), QStringLiteral("Admin"));
        const QString devId = candidateId(QStringLiteral("111111111111"), QStringLiteral("Dev"));
        const QString betaId = candidateId(QStringLiteral("222222222222"), QStringLiteral("Admin"));
        const QString unplanned = candidateId(QStringLiteral("999999999999"), QStringLiteral("R"));
        const QMap<QString, QString> stored{{adminId, QStringLiteral("Admin.alpha")},
                                            {devId, QStringLiteral("my own name")},
                                            {betaId, QStringLiteral("Beta-Admin")},
                                            {unplanned, QStringLiteral("kept")}};
        writeText(m_path, QString());
        auto settings = settingsFor(m_path);
        settings.namingTemplate = QStringLiteral("{role}.{accountName}");
        settings.nameSeparator = AWSProfileNameSeparator::underscores;
        settings.nameCase = AWSProfileNameCase::uppercase;
        AWSConfigPlan plan = planWith(settings, stored);
        QCOMPARE(plan.mappings.value(adminId), QStringLiteral("ADMIN_ALPHA"));
        QCOMPARE(plan.mappings.value(devId), QStringLiteral("my own name"));
        // Rendered by the old default template: follows the current one.
        QCOMPARE(plan.mappings.value(betaId), QStringLiteral("ADMIN_BETA"));
        QCOMPARE(plan.mappings.value(unplanned), QStringLiteral("kept"));
    }

    void respectsAUserOwnedSession_data()
    {
        QTest::addColumn<QString>("session");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("conflict");
        const int native = int(AWSConfigManagementMode::native);
        const QString section = QStringLiteral("[sso-session %1]\nsso_start_url = %2\n%3");
        const QString region = QStringLiteral("sso_region = US-EAST-1\n");
        QTest::newRow("native, matching")
            << section.arg(sessionName, startURL + QLatin1Char('/'), region) << native << false;
        QTest::newRow("native, named in capitals")
            << section.arg(QStringLiteral("Tessera-X-Test"), startURL, region) << native << false;
        QTest::newRow("native, other start URL")
            << section.arg(sessionName, QStringLiteral("https://y.test"), region) << native << true;
        QTest::newRow("native, region missing")
            << section.arg(sessionName, startURL, QString()) << native << true;
        QTest::newRow("granted, other start URL")
            << section.arg(sessionName, QStringLiteral("https://y.test"), region)
            << int(AWSConfigManagementMode::granted) << false;
    }
    void respectsAUserOwnedSession()
    {
        QFETCH(QString, session);
        QFETCH(int, mode);
        QFETCH(bool, conflict);
        writeText(m_path, session);
        const AWSConfigPlan plan = planWith(settingsFor(m_path, AWSConfigManagementMode(mode)));
        QCOMPARE(plan.globalConflicts.size(), conflict ? 1 : 0);
        QVERIFY(!blockSections(plan).contains(sessionName, Qt::CaseInsensitive));
        // Native profiles name the session as the user wrote it.
        const QString userName = AWSConfigManager::parseSections(session).first().name;
        QCOMPARE(plan.proposedContents.contains(QStringLiteral("sso_session = ") + userName),
                 AWSConfigManagementMode(mode) == AWSConfigManagementMode::native);
    }

    void replanningAnAppliedPlanChangesNothing_data()
    {
        QTest::addColumn<QString>("original");
        QTest::newRow("lf") << userOwnedConfig;
        QTest::newRow("crlf with a kept orphan")
            << QString(userOwnedConfig).replace(QLatin1String("\n"), QLatin1String("\r\n"));
        QTest::newRow("missing file") << QString();
    }
    void replanningAnAppliedPlanChangesNothing()
    {
        QFETCH(QString, original);
        if (original.isEmpty()) {
            m_path = m_dir->filePath(QStringLiteral("new/.aws/config")); // its folders too
        } else {
            writeText(m_path, original);
        }
        const AWSConfigPlan first = planFor(QStringLiteral("eu-central-1"));
        QVERIFY(AWSConfigDocument(first.proposedContents)
                    .unmanaged()
                    .startsWith(AWSConfigDocument(original).unmanaged()));
        // A backup is made of an existing file only; a new one is private.
        QCOMPARE(AWSConfigManager::apply(first, planTime).has_value(), !original.isEmpty());
        QCOMPARE(readText(m_path), first.proposedContents);
        if (original.isEmpty()) {
            QCOMPARE(modeOf(m_path), mode_t(0600));
        }

        // Nothing to write, but the names are saved all the same.
        QFile::remove(AWSConfigManager::mappingsFileURL());
        const AWSConfigPlan second =
            planFor(QStringLiteral("eu-central-1"), first.mappings, planTime.addDays(40));
        QCOMPARE(second.originalContents, first.proposedContents);
        QCOMPARE(second.proposedContents, second.originalContents);
        QCOMPARE(AWSConfigManager::apply(second, planTime), std::nullopt);
        QCOMPARE(AWSConfigManager::loadMappings(), first.mappings);
    }

    void backsUpWithinOneSecondAndKeepsPermissions()
    {
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
        const auto first = AWSConfigManager::apply(planFor(QStringLiteral("eu-west-1")), planTime);
        const auto second = AWSConfigManager::apply(planFor(QStringLiteral("eu-west-2")), planTime);
        QCOMPARE(first, m_dir->filePath(backupName(planTime)));
        QCOMPARE(second, *first + QStringLiteral("-02"));
        QCOMPARE(readText(*first), userOwnedConfig);
        QCOMPARE(modeOf(m_path), mode_t(0640));
        QCOMPARE(modeOf(*first), mode_t(0640));
        QCOMPARE(AWSConfigManager::latestBackup(m_path), second);

        AWSConfigManager::restoreBackup(*first, planFor(QString()));
        QCOMPARE(readText(m_path), userOwnedConfig);
        QFile::remove(*first);
        QCOMPARE(errorOf([&] { AWSConfigManager::restoreBackup(*first, planFor(QString())); }),
                 AWSConfigManagerError::Kind::missingBackup);
    }

    void keepsTheTenNewestBackups()
    {
        QStringList made;
        for (int i = 0; i < 12; ++i) {
            made << backupName(planTime.addSecs(i));
            writeText(m_dir->filePath(made.last()), userOwnedConfig);
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
        const auto backup = AWSConfigManager::apply(plan, planTime);
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(readText(m_path), plan.proposedContents);
        QCOMPARE(backup, QFileInfo(elsewhere.path()).canonicalFilePath() + QLatin1Char('/') +
                             backupName(planTime, QStringLiteral("real-config")));
        QCOMPARE(AWSConfigManager::latestBackup(m_path), backup);
    }

    // A plan with conflicts is refused too: see updatesProfilesAfterASync.
    void refusesAStalePlan()
    {
        const AWSConfigPlan plan = planFor(QString());
        writeText(m_path, userOwnedConfig + QStringLiteral("region = edited\n"));
        QCOMPARE(errorOf([&] { AWSConfigManager::apply(plan, planTime); }),
                 AWSConfigManagerError::Kind::fileChanged);
        QCOMPARE(readText(m_path), userOwnedConfig + QStringLiteral("region = edited\n"));
        QVERIFY(backupsIn(m_dir->path()).isEmpty());
    }

    void aFullDiskKeepsTheOldFiles()
    {
        // The config: the write fails, the old file and its backup (small enough) stay whole.
        const QString original = QStringLiteral("[profile mine]\r\n; kept\r\n");
        writeText(m_path, original);
        const AWSConfigPlan plan = planFor(QStringLiteral("eu-west-1"));
        const off_t limit = 64;
        QVERIFY(plan.proposedContents.size() > limit * 4);
        QVERIFY(runWithFileSizeLimit(limit, [&] {
            try {
                AWSConfigManager::apply(plan, planTime);
            } catch (const FileError &) {
                return true;
            }
            return false;
        }));
        QCOMPARE(readText(m_path), original);
        QCOMPARE(readText(m_dir->filePath(backupName(planTime))), original);
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
        writeText(path, withBlock ? planFor(QString()).proposedContents : QStringLiteral("[a]\n"));
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
            updateAWSProfilesAfterSync(accounts, startURL, ssoRegion, settings, planTime);
        };
        update(sampleAccounts());
        QCOMPARE(readText(m_path), userOwnedConfig); // automatic sync is off
        settings.setBool(key(settingskey::awsProfileAutoSync), true);

        settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("granted"));
        settings.setString(key(settingskey::awsProfileNameCase), QStringLiteral("uppercase"));
        update(sampleAccounts().mid(1));
        QVERIFY(readText(m_path).contains(
            QLatin1String("[profile ALPHA-ADMIN]\ngranted_sso_start_url")));
        // The user's own TAKEN-X profile takes a generated name and blocks the update.
        QCOMPARE(errorOf([&] { update(sampleAccounts()); }),
                 AWSConfigManagerError::Kind::conflicts);
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigProfiles)
#include "tst_awsconfig_profiles.moc"
