#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/configvalues.h"
#include "awsconfigtestdata.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace tessera::test;

namespace {
using Status = AWSConfigProfileStatus;

const QDateTime planTime(QDate(2026, 1, 10), QTime(20, 30), Qt::UTC);

const QString userOwnedConfig =
    QStringLiteral("[profile dev]\n"
                   "sso_account_id = 111111111111\n"
                   "sso_role_name = Dev\n"
                   "\n"
                   "[profile TAKEN-X]\n"
                   "sso_account_id = 999999999999\n"
                   "sso_role_name = X\n"
                   "\n"
                   "# >>> Tessera managed AWS profiles\n"
                   "# Last updated by Tessera: 2025-01-01 00:00:00 PST\n"
                   "\n"
                   "[profile Beta-Admin]\n"
                   "sso_session = tessera-x-test\n"
                   "sso_account_id = 222222222222\n"
                   "sso_role_name = Admin\n"
                   "\n"
                   "[profile gone]\n"
                   "sso_session = tessera-x-test\n"
                   "sso_account_id = 555555555555\n"
                   "sso_role_name = Old\n"
                   "# <<< Tessera managed AWS profiles\n");

QMap<QString, Status> statusesByName(const AWSConfigPlan &plan)
{
    QMap<QString, Status> result;
    for (const auto &candidate : plan.candidates) {
        result.insert(candidate.name, candidate.status);
    }
    return result;
}
} // namespace

class TestAWSConfigPlanning : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    AWSConfigPlan planWith(const AWSConfigManagementSettings &settings,
                           const QMap<QString, QString> &mappings = {}, bool keepOrphans = true,
                           const QList<AWSAccount> &accounts = sampleAccounts())
    {
        return AWSConfigManager::plan(accounts, startURL, ssoRegion, settings, mappings,
                                      keepOrphans, planTime);
    }

private Q_SLOTS:
    void init() { m_path = m_dir.filePath(QStringLiteral("config")); }
    void cleanup() { QFile::remove(m_path); }

    void decidesEachCandidatesStatus()
    {
        writeText(m_path, userOwnedConfig);
        auto settings = settingsFor(m_path);
        settings.namingTemplate = QStringLiteral("{accountName}-{role}");
        settings.nameSeparator = AWSProfileNameSeparator::preserve;
        const AWSConfigPlan plan = planWith(settings);

        QStringList order;
        for (const auto &candidate : plan.candidates) {
            order << candidate.name;
        }
        QCOMPARE(order, (QStringList{QStringLiteral("alpha-Admin"), QStringLiteral("dev"),
                                     QStringLiteral("Beta-Admin"), QStringLiteral("Bob's-Admin"),
                                     QStringLiteral("Taken-X")}));
        const QMap<QString, Status> expected{{QStringLiteral("alpha-Admin"), Status::create},
                                             {QStringLiteral("dev"), Status::existing},
                                             {QStringLiteral("Beta-Admin"), Status::update},
                                             {QStringLiteral("Bob's-Admin"), Status::conflict},
                                             {QStringLiteral("Taken-X"), Status::conflict}};
        QCOMPARE(statusesByName(plan), expected);
        QCOMPARE(plan.candidates.first().id,
                 candidateId(QStringLiteral("111111111111"), QStringLiteral("Admin")));
        QCOMPARE(plan.orphanedProfileNames, QStringList{QStringLiteral("gone")});
        QCOMPARE(
            plan.mappings.value(candidateId(QStringLiteral("111111111111"), QStringLiteral("Dev"))),
            QStringLiteral("dev"));

        // Only created and updated profiles are written; user-owned text stays as it was.
        const AWSConfigDocument proposed(plan.proposedContents);
        QCOMPARE(proposed.unmanaged(), AWSConfigDocument(userOwnedConfig).unmanaged());
        const auto names = [](const QList<AWSConfigSection> &sections) {
            QStringList result;
            for (const auto &section : sections) {
                result << section.name;
            }
            return result;
        };
        QCOMPARE(names(AWSConfigManager::parseSections(*proposed.managedBody())),
                 (QStringList{sessionName, QStringLiteral("alpha-Admin"),
                              QStringLiteral("Beta-Admin"), QStringLiteral("gone")}));
        QVERIFY(plan.proposedContents.contains(
            QLatin1String("# Last updated by Tessera: 2026-01-10 12:30:00 PST")));
    }

    void refusesAnEarlierCandidatesName()
    {
        writeText(m_path, QString());
        auto settings = settingsFor(m_path);
        settings.namingTemplate = QStringLiteral("{accountName|slug}");
        const AWSConfigPlan plan = planWith(settings);
        QCOMPARE(plan.candidates.at(0).status, Status::create);
        QCOMPARE(plan.candidates.at(1).name, QStringLiteral("alpha"));
        QCOMPARE(plan.candidates.at(1).status, Status::conflict);
        QCOMPARE(plan.conflicts().size(), 1);
    }

    void refusesValuesThatWouldBreakTheFile()
    {
        writeText(m_path, QString());
        const QList<AWSAccount> accounts{
            AWSAccount{QStringLiteral("111111111111"),
                       QStringLiteral("a"),
                       {QStringLiteral("R\n# <<< Tessera managed AWS profiles")}},
            AWSAccount{
                QStringLiteral("2222\r22222222"), QStringLiteral("b"), {QStringLiteral("R")}},
            AWSAccount{QStringLiteral("333333333333"), QStringLiteral("c"), {QStringLiteral("R")}}};
        const AWSConfigPlan plan = planWith(settingsFor(m_path), {}, true, accounts);
        QCOMPARE(plan.conflicts().size(), 2);
        QCOMPARE(plan.candidates.last().status, Status::create);
        QCOMPARE(
            AWSConfigManager::parseSections(*AWSConfigDocument(plan.proposedContents).managedBody())
                .size(),
            2);
    }

    // A user's section is the profile the AWS CLI takes it for, under the name it gives it.
    void matchesUserProfilesByTheirAWSCLIName_data()
    {
        QTest::addColumn<QString>("userSection");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("status");
        const QString elsewhere =
            QStringLiteral("\nsso_account_id = 999999999999\nsso_role_name = X\n");
        QTest::newRow("quoted name, another target")
            << (QStringLiteral("[profile 'alpha-Admin']") + elsewhere)
            << QStringLiteral("alpha-Admin") << int(Status::conflict);
        QTest::newRow("comment after the header, another target")
            << (QStringLiteral("[profile alpha-Admin] # mine") + elsewhere)
            << QStringLiteral("alpha-Admin") << int(Status::conflict);
        QTest::newRow("kind word in capitals is no profile")
            << (QStringLiteral("[Profile alpha-Admin]") + elsewhere)
            << QStringLiteral("alpha-Admin") << int(Status::create);
        QTest::newRow("single quote in the user's own name")
            << QStringLiteral("[profile \"Bob's-Admin\"]\nsso_account_id = 333333333333\n"
                              "sso_role_name = Admin\n")
            << QStringLiteral("Bob's-Admin") << int(Status::existing);
    }
    void matchesUserProfilesByTheirAWSCLIName()
    {
        QFETCH(QString, userSection);
        QFETCH(QString, name);
        QFETCH(int, status);
        writeText(m_path, userSection);
        auto settings = settingsFor(m_path);
        settings.namingTemplate = QStringLiteral("{accountName}-{role}");
        settings.nameSeparator = AWSProfileNameSeparator::preserve;
        QCOMPARE(int(statusesByName(planWith(settings)).value(name, Status(-1))), status);
    }

    void refusesSettingsThatWouldAddLines_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        const int url = int(AWSConfigValueKind::startURL);
        const int sso = int(AWSConfigValueKind::ssoRegion);
        const int cli = int(AWSConfigValueKind::cliRegion);
        const QString nul(QChar(0));
        QTest::newRow("url") << url << QStringLiteral(" https://d-1.awsapps.com/start/#/ ") << true;
        QTest::newRow("url, LF") << url << QStringLiteral("https://x.test/s\n[profile e]") << false;
        QTest::newRow("url, CR") << url << QStringLiteral("https://x.test/s\rt") << false;
        QTest::newRow("url, NUL") << url << (QStringLiteral("https://x.test/s") + nul) << false;
        QTest::newRow("url, space") << url << QStringLiteral("https://x.test/my start") << false;
        QTest::newRow("url, bracket") << url << QStringLiteral("https://x.test/s]") << false;
        QTest::newRow("url, not ASCII")
            << url << QStringLiteral("https://x.test/caf\u00e9") << false;
        QTest::newRow("sso region") << sso << QStringLiteral(" EU-West-1") << true;
        QTest::newRow("sso region, LF") << sso << QStringLiteral("us-east-1\nx = y") << false;
        QTest::newRow("sso region, CR") << sso << QStringLiteral("us-east\r-1") << false;
        QTest::newRow("sso region, NUL") << sso << (QStringLiteral("us-east-1") + nul) << false;
        QTest::newRow("sso region, space") << sso << QStringLiteral("us east 1") << false;
        QTest::newRow("sso region, bracket") << sso << QStringLiteral("us-east-1]") << false;
        QTest::newRow("cli region, none") << cli << QString() << true;
        QTest::newRow("cli region") << cli << QStringLiteral("eu-central-1\n") << true;
        QTest::newRow("cli region, LF") << cli << QStringLiteral("eu\n[profile x]") << false;
        QTest::newRow("cli region, space") << cli << QStringLiteral("eu central-1") << false;
    }
    void refusesSettingsThatWouldAddLines()
    {
        QFETCH(int, kind);
        QFETCH(QString, value);
        QFETCH(bool, valid);
        const auto error = validateAWSConfigValue(AWSConfigValueKind(kind), value);
        QCOMPARE(!error, valid);
        if (error) {
            QCOMPARE(error->kind(), AWSConfigManagerError::Kind::invalidValue);
        }

        // The block refuses what the settings window refuses, in either kind of profile.
        for (const auto mode :
             {AWSConfigManagementMode::native, AWSConfigManagementMode::granted}) {
            writeText(m_path, QString());
            auto settings = settingsFor(m_path, mode);
            const auto pick = [&](AWSConfigValueKind which, const QString &otherwise) {
                return AWSConfigValueKind(kind) == which ? value : otherwise;
            };
            settings.cliRegion = pick(AWSConfigValueKind::cliRegion, QString());
            const auto plan = [&] {
                return AWSConfigManager::plan(
                    sampleAccounts(), pick(AWSConfigValueKind::startURL, startURL),
                    pick(AWSConfigValueKind::ssoRegion, ssoRegion), settings, {}, true, planTime);
            };
            if (!valid) {
                QVERIFY_THROWS_EXCEPTION(AWSConfigManagerError, plan());
                continue;
            }
            const AWSConfigPlan result = plan();
            qsizetype written = mode == AWSConfigManagementMode::native ? 1 : 0;
            for (const auto &candidate : result.candidates) {
                written += candidate.status == Status::create ? 1 : 0;
            }
            const QString body = *AWSConfigDocument(result.proposedContents).managedBody();
            QCOMPARE(AWSConfigManager::parseSections(body).size(), written);
        }
    }

    void blankTemplateNamesAreConflicts()
    {
        auto settings = settingsFor(m_path);
        settings.namingTemplate = QStringLiteral("  ");
        const AWSConfigPlan plan = planWith(settings);
        QCOMPARE(plan.conflicts().size(), plan.candidates.size());
        settings.namingTemplate.clear();
        QCOMPARE(planWith(settings).candidates.first().name, QStringLiteral("alpha-Admin"));
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

        settings.namingTemplate = QStringLiteral("{accountName|upper}+{role}");
        settings.nameSeparator = AWSProfileNameSeparator::preserve;
        settings.nameCase = AWSProfileNameCase::preserve;
        plan = planWith(settings, stored);
        QCOMPARE(plan.mappings.value(adminId), QStringLiteral("Admin.alpha"));
        QCOMPARE(plan.mappings.value(betaId), QStringLiteral("BETA+Admin"));
    }

    void renamedBlockProfileIsUpdatedNotOrphaned()
    {
        writeText(m_path, userOwnedConfig);
        auto settings = settingsFor(m_path);
        settings.nameCase = AWSProfileNameCase::lowercase;
        const AWSConfigPlan plan = planWith(settings);
        QCOMPARE(statusesByName(plan).value(QStringLiteral("beta-admin")), Status::update);
        QCOMPARE(plan.orphanedProfileNames, QStringList{QStringLiteral("gone")});
        QVERIFY(!plan.proposedContents.contains(QLatin1String("[profile Beta-Admin]")));
        QVERIFY(plan.proposedContents.contains(QLatin1String("[profile beta-admin]")));
    }

    void keepsOrDropsOrphans()
    {
        writeText(m_path, userOwnedConfig);
        const auto settings = settingsFor(m_path);
        const AWSConfigPlan kept = planWith(settings, {}, true, {});
        QCOMPARE(kept.orphanedProfileNames,
                 (QStringList{QStringLiteral("Beta-Admin"), QStringLiteral("gone")}));
        QVERIFY(kept.candidates.isEmpty());
        QVERIFY(kept.proposedContents.contains(
            QLatin1String("[profile gone]\nsso_session = tessera-x-test")));
        QVERIFY(kept.proposedContents.contains(QLatin1String("[sso-session tessera-x-test]")));

        const AWSConfigPlan dropped = planWith(settings, {}, false, {});
        QCOMPARE(dropped.orphanedProfileNames, kept.orphanedProfileNames);
        const AWSConfigDocument document(dropped.proposedContents);
        QVERIFY(document.managedBody()->startsWith(
            QLatin1String("# Last updated by Tessera: 2026-01-10")));
        QVERIFY(AWSConfigManager::parseSections(*document.managedBody()).isEmpty());
    }

    void respectsAUserOwnedSession_data()
    {
        QTest::addColumn<QString>("session");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("conflicts");
        const int native = int(AWSConfigManagementMode::native);
        const int granted = int(AWSConfigManagementMode::granted);
        const QString matching = QStringLiteral("[sso-session tessera-x-test]\nsso_start_url = "
                                                "https://x.test/start/\nsso_region = US-EAST-1\n");
        const QString otherURL = QStringLiteral("[sso-session Tessera-X-Test]\nsso_start_url = "
                                                "https://y.test\nsso_region = us-east-1\n");
        const QString noRegion =
            QStringLiteral("[sso-session tessera-x-test]\nsso_start_url = https://x.test/start\n");
        QTest::newRow("native, matching") << matching << native << 0;
        QTest::newRow("native, other start URL") << otherURL << native << 1;
        QTest::newRow("native, region missing") << noRegion << native << 1;
        QTest::newRow("granted, other start URL") << otherURL << granted << 0;
    }
    void respectsAUserOwnedSession()
    {
        QFETCH(QString, session);
        QFETCH(int, mode);
        QFETCH(int, conflicts);
        writeText(m_path, session);
        const AWSConfigPlan plan = planWith(settingsFor(m_path, AWSConfigManagementMode(mode)));
        QCOMPARE(plan.globalConflicts.size(), conflicts);
        if (conflicts) {
            QVERIFY(
                plan.globalConflicts.first().startsWith(QStringLiteral("The sso-session name “")));
            QVERIFY(
                plan.globalConflicts.first().endsWith(QStringLiteral("” is already user-owned.")));
        }
        const AWSConfigDocument document(plan.proposedContents);
        QVERIFY(!document.managedBody()->contains(QLatin1String("[sso-session")));
    }

    void namesAUserSessionAsTheUserWroteIt()
    {
        writeText(m_path, QStringLiteral("[sso-session Tessera-X-Test]\nsso_start_url = "
                                         "https://x.test/start\nsso_region = us-east-1\n"));
        const AWSConfigPlan plan = planWith(settingsFor(m_path));
        QVERIFY(plan.globalConflicts.isEmpty());
        QVERIFY(plan.proposedContents.contains(QLatin1String("sso_session = Tessera-X-Test\n")));
        QVERIFY(!plan.proposedContents.contains(QLatin1String("sso_session = tessera-x-test")));
    }

    void replanningAnAppliedPlanChangesNothing_data()
    {
        QTest::addColumn<QString>("original");
        QTest::addColumn<int>("mode");
        QTest::newRow("native, lf") << userOwnedConfig << int(AWSConfigManagementMode::native);
        QTest::newRow("granted, crlf, no final break")
            << QStringLiteral("; mine\r\n[profile x]\r\nregion = eu-west-1")
            << int(AWSConfigManagementMode::granted);
        QTest::newRow("crlf with a kept orphan")
            << QString(userOwnedConfig).replace(QLatin1String("\n"), QLatin1String("\r\n"))
            << int(AWSConfigManagementMode::native);
        QTest::newRow("missing file") << QString() << int(AWSConfigManagementMode::native);
    }
    void replanningAnAppliedPlanChangesNothing()
    {
        QFETCH(QString, original);
        QFETCH(int, mode);
        if (!original.isEmpty()) {
            writeText(m_path, original);
        }
        auto settings = settingsFor(m_path, AWSConfigManagementMode(mode));
        settings.cliRegion = QStringLiteral("eu-central-1");
        // Without the account whose name a user profile takes, so that the plan can be applied.
        const QList<AWSAccount> accounts = sampleAccounts().mid(1);
        const AWSConfigPlan first = planWith(settings, {}, true, accounts);
        QVERIFY(first.conflicts().isEmpty());
        QVERIFY(AWSConfigDocument(first.proposedContents)
                    .unmanaged()
                    .startsWith(AWSConfigDocument(original).unmanaged()));
        AWSConfigManager::apply(AWSConfigPlan(first), planTime);
        QCOMPARE(readText(m_path), first.proposedContents);

        const AWSConfigPlan second = AWSConfigManager::plan(
            accounts, startURL, ssoRegion, settings, first.mappings, true, planTime.addDays(40));
        QCOMPARE(second.proposedContents, second.originalContents);
        QCOMPARE(second.originalContents, first.proposedContents);
    }

    void reportsBrokenFiles()
    {
        writeText(m_path, QStringLiteral("# >>> Tessera managed AWS profiles\n"));
        QVERIFY_THROWS_EXCEPTION(AWSConfigManagerError, planWith(settingsFor(m_path)));
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigPlanning)
#include "tst_awsconfig_planning.moc"
