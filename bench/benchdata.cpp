#include "benchdata.h"

#include "aws/curlhttptransport.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"

#include <QString>
#include <algorithm>
#include <ctime>

namespace tessera::bench {

namespace {
// A fixed pseudo-random sequence, so that every run ranks the same data.
class Sequence
{
public:
    quint32 next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }
    int below(int n) { return int(next() % quint32(n)); }

private:
    quint32 m_state = 20260101u;
};

QString s(const char *text)
{
    return QString::fromUtf8(text);
}
} // namespace

Organisation makeOrganisation(const OrganisationSize &size)
{
    const QStringList teams = {
        s("payments"),  s("identity"), s("search"),        s("billing"), s("data-platform"),
        s("ml"),        s("mobile"),   s("web"),           s("infra"),   s("security"),
        s("analytics"), s("checkout"), s("logistics"),     s("catalog"), s("messaging"),
        s("growth"),    s("support"),  s("observability"), s("edge"),    s("storage"),
    };
    const QStringList environments = {s("prod"),    s("staging"), s("dev"),
                                      s("sandbox"), s("qa"),      s("perf")};
    const QStringList rolePool = {
        s("AdministratorAccess"), s("ReadOnlyAccess"), s("PowerUserAccess"),
        s("DeveloperAccess"),     s("BillingAccess"),  s("SecurityAudit"),
        s("ViewOnlyAccess"),      s("DatabaseAdmin"),  s("NetworkAdministrator"),
        s("SupportUser"),         s("DataScientist"),  s("SystemAdministrator"),
    };

    Sequence random;
    Organisation result;
    for (int i = 0; i < size.accounts; ++i) {
        AWSAccount account;
        account.accountId = QStringLiteral("%1").arg(
            100000000000LL + qint64(random.next()) * 97 + i, 12, 10, QLatin1Char('0'));
        account.accountName = QStringLiteral("acme-%1-%2-%3")
                                  .arg(teams.at(random.below(int(teams.size()))),
                                       environments.at(random.below(int(environments.size()))))
                                  .arg(i);
        const int first = random.below(int(rolePool.size()));
        for (int r = 0; r < size.rolesPerAccount; ++r) {
            account.roles.append(rolePool.at((first + r * 5) % rolePool.size()));
        }
        result.accounts.append(account);
    }

    Organization &organization = result.organization;
    for (int g = 0; g < size.groups; ++g) {
        organization.groupNames.append(
            QStringLiteral("Team %1 %2").arg(teams.at(g % teams.size())).arg(g / teams.size() + 1));
    }
    for (const AWSAccount &account : std::as_const(result.accounts)) {
        if (random.below(10) < 4) {
            organization.accountGroups.insert(
                account.accountId, organization.groupNames.at(random.below(size.groups)));
        }
    }
    for (int p = 0; p < size.pinned; ++p) {
        organization.pinnedAccountIds.append(
            result.accounts.at(random.below(size.accounts)).accountId);
    }
    organization.pinnedAccountIds = uniqued(organization.pinnedAccountIds);
    return result;
}

std::unique_ptr<AccountStore> makeStoreOnFakes(std::shared_ptr<ManualClock> clock,
                                               std::shared_ptr<SettingsStore> settings)
{
    registerTesseraDefaults(*settings);
    AccountStore::Options options;
    options.loadPersistedState = true;
    options.keychain = Keychain(InMemoryKeychainStore().operations());
    options.settings = std::move(settings);
    options.openURL = [](const QUrl &) { return true; };
    options.transport = defaultHttpTransport();
    options.clock = std::move(clock);
    return std::make_unique<AccountStore>(std::move(options));
}

double threadCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

QStringList benchmarkQueries()
{
    return {
        s("prod"),          s("payments prod"), s("pay prd"),    s("1000"),
        s("read"),          s("sec aud"),       s("ml staging"), s("team infra"),
        s("dev ident"),     s("billing"),       s("xyz"),        s("data plat prod"),
        s("checkout qa 4"), s("admin"),         s("obs perf"),   s("acme web dev"),
    };
}

} // namespace tessera::bench
