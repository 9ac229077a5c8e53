// Plans AWS CLI profiles for a large organisation against a large hand-written config and
// prints how long it took and the peak memory. Touches only a temporary folder.
#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/awsprofilespagemodel.h"
#include "storage/settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace tessera;

namespace {
QString accountId(int index)
{
    return QStringLiteral("%1").arg(100000000000LL + index, 12, 10, QLatin1Char('0'));
}

QList<AWSAccount> makeAccounts(int count, int rolesPerAccount)
{
    QList<AWSAccount> accounts;
    for (int i = 0; i < count; ++i) {
        AWSAccount account{accountId(i), QStringLiteral("Team %1 Workload").arg(i), {}};
        for (int r = 0; r < rolesPerAccount; ++r) {
            account.roles << QStringLiteral("Role%1").arg(r);
        }
        accounts << account;
    }
    return accounts;
}

// User profiles: a fifth point at accounts and roles that will be discovered, the rest at
// accounts that will not.
QString makeUserConfig(int profiles)
{
    QString text = QStringLiteral("# hand-written\n[default]\nregion = us-east-1\n\n");
    for (int i = 0; i < profiles; ++i) {
        const bool discovered = i % 5 == 0;
        text += QStringLiteral("[profile user-%1]\nsso_session = corp\nsso_account_id = %2\n"
                               "sso_role_name = Role%3\nregion = eu-west-1\n\n")
                    .arg(i)
                    .arg(accountId(discovered ? i / 5 : 500000 + i))
                    .arg(discovered ? 3 : 9);
    }
    return text;
}

// The settings page plans on a worker: how long the main thread is held by one preview, and
// the longest gap its event loop sees while the plan is computed.
void runPageModel(const QList<AWSAccount> &accounts, const QString &path)
{
    InMemorySettingsStore settings;
    registerTesseraDefaults(settings);
    settings.setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
    settings.setString(key(settingskey::awsConfigPath), path);
    settings.setString(key(settingskey::startUrl), QStringLiteral("https://corp.test/start"));
    AWSProfilesPageModel model(settings, [&accounts] { return accounts; });

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    QElapsedTimer total;
    total.start();
    model.refresh();
    const double onMainThread = double(total.nsecsElapsed()) / 1e6;
    sinceTick.start();
    ticker.start();
    while (model.isPlanning()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    ticker.stop();
    std::printf("settings page preview of the same: main thread held %.1f ms to start it, plan "
                "shown after %.1f ms, longest event-loop gap meanwhile %lld ms, %lld candidates\n",
                onMainThread, double(total.nsecsElapsed()) / 1e6,
                static_cast<long long>(longestGap),
                static_cast<long long>(model.plan() ? model.plan()->candidates.size() : -1));
}

long peakMemoryKiB()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double timedPlan(const QList<AWSAccount> &accounts, const AWSConfigManagementSettings &settings,
                 AWSConfigPlan &plan)
{
    QElapsedTimer timer;
    timer.start();
    plan = AWSConfigManager::plan(accounts, QStringLiteral("https://corp.test/start"),
                                  QStringLiteral("us-east-1"), settings, {}, true,
                                  QDateTime::currentDateTimeUtc());
    return double(timer.nsecsElapsed()) / 1e6;
}

void run(int accountCount, int userProfiles, const QString &folder)
{
    const QString path = folder + QStringLiteral("/config-%1").arg(accountCount);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(makeUserConfig(userProfiles).toUtf8()) < 0) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return;
    }
    file.close();

    AWSConfigManagementSettings settings;
    settings.mode = AWSConfigManagementMode::native;
    settings.customPath = path;
    const QList<AWSAccount> accounts = makeAccounts(accountCount, 4);

    AWSConfigPlan plan;
    const double first = timedPlan(accounts, settings, plan);
    int written = 0;
    for (const auto &candidate : plan.candidates) {
        written += candidate.status == AWSConfigProfileStatus::create ? 1 : 0;
    }
    // Re-plan against the written block: now both sides of the file are large.
    QFile::remove(path);
    file.open(QIODevice::WriteOnly);
    file.write(plan.proposedContents.toUtf8());
    file.close();
    const double second = timedPlan(accounts, settings, plan);

    std::printf("%5d accounts x 4 roles, %5d user profiles: first plan %8.1f ms (%d created), "
                "re-plan over the written block %8.1f ms, unchanged: %s, file %.1f MiB\n",
                accountCount, userProfiles, first, written, second,
                plan.proposedContents == plan.originalContents ? "yes" : "no",
                double(plan.originalContents.toUtf8().size()) / (1024.0 * 1024.0));
    runPageModel(accounts, path);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    // The smaller runs show how the time grows: doubling the input should roughly double it.
    run(1250, 5000, folder.path());
    run(2500, 10000, folder.path());
    run(5000, 20000, folder.path());
    std::printf("peak memory: %.1f MiB\n", double(peakMemoryKiB()) / 1024.0);
    return 0;
}
