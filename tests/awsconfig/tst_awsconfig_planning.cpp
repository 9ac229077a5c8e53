#include "awsconfig/awsconfigmanager.h"
#include "awsconfigtestdata.h"

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
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("config"));
        writeText(m_path, userOwnedConfig);
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

        const AWSConfigPlan kept = planWith(settingsFor(m_path), {}, true, {});
        QCOMPARE(kept.orphanedProfileNames,
                 (QStringList{QStringLiteral("Beta-Admin"), QStringLiteral("gone")}));
        QCOMPARE(blockSections(kept),
                 (QStringList{sessionName, QStringLiteral("Beta-Admin"), QStringLiteral("gone")}));
        const AWSConfigPlan dropped = planWith(settingsFor(m_path), {}, false, {});
        QCOMPARE(dropped.orphanedProfileNames, kept.orphanedProfileNames);
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
            try {
                AWSConfigManager::plan(
                    sampleAccounts(), pick(AWSConfigValueKind::startURL, startURL),
                    pick(AWSConfigValueKind::ssoRegion, ssoRegion), settings, {}, true, planTime);
                QVERIFY(valid);
            } catch (const AWSConfigManagerError &error) {
                QVERIFY(!valid);
                QCOMPARE(error.kind(), AWSConfigManagerError::Kind::invalidValue);
            }
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
        QCOMPARE(plan.globalConflicts,
                 conflict ? QStringList{QStringLiteral("The sso-session name “") + sessionName +
                                        QStringLiteral("” is already user-owned.")}
                          : QStringList());
        QVERIFY(!blockSections(plan).contains(sessionName, Qt::CaseInsensitive));
        // Native profiles name the session as the user wrote it.
        const QString userName = AWSConfigManager::parseSections(session).first().name;
        QCOMPARE(plan.proposedContents.contains(QStringLiteral("sso_session = ") + userName),
                 AWSConfigManagementMode(mode) == AWSConfigManagementMode::native);
    }

    void replanningAnAppliedPlanChangesNothing_data()
    {
        QTest::addColumn<QString>("original");
        QTest::addColumn<int>("mode");
        QTest::newRow("native, lf") << userOwnedConfig << int(AWSConfigManagementMode::native);
        QTest::newRow("crlf with a kept orphan")
            << QString(userOwnedConfig).replace(QLatin1String("\n"), QLatin1String("\r\n"))
            << int(AWSConfigManagementMode::native);
        QTest::newRow("missing file") << QString() << int(AWSConfigManagementMode::native);
    }
    void replanningAnAppliedPlanChangesNothing()
    {
        QFETCH(QString, original);
        QFETCH(int, mode);
        QFile::remove(m_path);
        if (!original.isEmpty()) {
            writeText(m_path, original);
        }
        auto settings = settingsFor(m_path, AWSConfigManagementMode(mode));
        settings.cliRegion = QStringLiteral("eu-central-1");
        // Without the account whose name a user profile takes, so that the plan can be applied.
        const QList<AWSAccount> accounts = sampleAccounts().mid(1);
        const AWSConfigPlan first = planWith(settings, {}, true, accounts);
        QVERIFY(AWSConfigDocument(first.proposedContents)
                    .unmanaged()
                    .startsWith(AWSConfigDocument(original).unmanaged()));
        AWSConfigManager::apply(first, planTime);
        QCOMPARE(readText(m_path), first.proposedContents);

        const AWSConfigPlan second = AWSConfigManager::plan(
            accounts, startURL, ssoRegion, settings, first.mappings, true, planTime.addDays(40));
        QCOMPARE(second.originalContents, first.proposedContents);
        QCOMPARE(second.proposedContents, second.originalContents);
    }
};

QTEST_GUILESS_MAIN(TestAWSConfigPlanning)
#include "tst_awsconfig_planning.moc"
