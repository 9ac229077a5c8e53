#include "awsconfig/awsprofilespagemodel.h"

#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/profilenaming.h"
#include "foundation/error.h"
#include "foundation/logging.h"
#include "storage/settings.h"

#include <QCollator>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace tessera {

namespace {
bool managesProfiles(AWSConfigManagementMode mode)
{
    return mode == AWSConfigManagementMode::native || mode == AWSConfigManagementMode::granted;
}

// Unicode scalar order, as planning orders roles.
bool roleBefore(const QString &a, const QString &b)
{
    const auto left = a.toUcs4();
    const auto right = b.toUcs4();
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}
} // namespace

AWSProfilesPageModel::AWSProfilesPageModel(SettingsStore &settings, AccountsSource accounts,
                                           Now now, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_accounts(std::move(accounts))
    , m_now(now ? std::move(now) : Now([] { return QDateTime::currentDateTime(); }))
{}

// A plan still being computed finishes on its worker with its own copies and is dropped.
AWSProfilesPageModel::~AWSProfilesPageModel() = default;

AWSConfigManagementSettings AWSProfilesPageModel::profileSettings() const
{
    return AWSConfigManagementSettings::fromSettings(m_settings);
}

bool AWSProfilesPageModel::canApply() const
{
    return managesProfiles(profileSettings().mode) && m_plan.has_value();
}

std::optional<QString> AWSProfilesPageModel::exampleProfileName(const QString &nameTemplate) const
{
    const QList<AWSAccount> accounts = m_accounts();
    if (accounts.isEmpty()) {
        return std::nullopt;
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const AWSAccount &first = *std::min_element(
        accounts.cbegin(), accounts.cend(), [&](const AWSAccount &a, const AWSAccount &b) {
            return collator.compare(a.accountName, b.accountName) < 0;
        });
    if (first.roles.isEmpty()) {
        return std::nullopt;
    }
    const QString role = *std::min_element(first.roles.cbegin(), first.roles.cend(), roleBefore);
    const AWSConfigManagementSettings settings = profileSettings();
    return profileName(nameTemplate.isEmpty() ? QString::fromLatin1(defaultNamingTemplate)
                                              : nameTemplate,
                       first.accountId, first.accountName, role, settings.mode,
                       settings.nameSeparator, settings.nameCase);
}

void AWSProfilesPageModel::show()
{
    if (!m_loadedMappings) {
        m_mappings = AWSConfigManager::loadMappings();
        m_loadedMappings = true;
    }
    refresh();
}

void AWSProfilesPageModel::refresh()
{
    m_resultMessage.reset();
    m_failureMessage.reset();
    const quint64 generation = ++m_generation;
    const AWSConfigManagementSettings settings = profileSettings();
    const QList<AWSAccount> accounts = m_accounts();
    if (!managesProfiles(settings.mode) || accounts.isEmpty()) {
        take(generation, {});
        return;
    }

    m_planning = true;
    Q_EMIT stateChanged();
    // Everything the worker reads is a copy taken here; it touches no member.
    const QString startUrl = m_settings.string(key(settingskey::startUrl)).value_or(QString());
    const QString ssoRegion =
        m_settings.string(key(settingskey::ssoRegion)).value_or(QLatin1String(defaultSSORegion));
    const QMap<QString, QString> mappings = m_mappings;
    const bool keepOrphans = !m_removeOrphans;
    const QDateTime now = m_now();
    auto *watcher = new QFutureWatcher<Outcome>(this);
    connect(watcher, &QFutureWatcher<Outcome>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        take(generation, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([=]() -> Outcome {
        Outcome outcome;
        try {
            outcome.plan = AWSConfigManager::plan(accounts, startUrl, ssoRegion, settings, mappings,
                                                  keepOrphans, now);
            outcome.backupURL = AWSConfigManager::latestBackup(outcome.plan->targetURL);
        } catch (...) {
            outcome.plan.reset();
            outcome.failure = describeException(std::current_exception());
        }
        return outcome;
    }));
}

void AWSProfilesPageModel::take(quint64 generation, Outcome outcome)
{
    if (generation != m_generation) {
        return;
    }
    m_planning = false;
    m_plan = std::move(outcome.plan);
    m_backupURL = std::move(outcome.backupURL);
    if (outcome.failure) {
        m_failureMessage = outcome.failure;
        qCWarning(lcAWSConfig).noquote() << "AWS profile preview failed:" << *outcome.failure;
    }
    Q_EMIT stateChanged();
    if (m_afterRefresh) {
        std::exchange(m_afterRefresh, {})();
    }
}

void AWSProfilesPageModel::refreshThen(std::function<void()> step)
{
    m_afterRefresh = std::move(step);
    refresh();
}

void AWSProfilesPageModel::setRemoveOrphans(bool remove)
{
    if (remove == m_removeOrphans) {
        return;
    }
    m_removeOrphans = remove;
    refresh();
}

void AWSProfilesPageModel::applyChanges()
{
    refreshThen([this] { applyCurrentPlan(); });
}

void AWSProfilesPageModel::applyCurrentPlan()
{
    if (!m_plan) {
        return;
    }
    const AWSConfigPlan plan = *m_plan;
    try {
        AWSConfigManager::apply(plan, m_now());
    } catch (...) {
        m_failureMessage = describeException(std::current_exception());
        qCWarning(lcAWSConfig).noquote()
            << "Applying the AWS profiles failed:" << *m_failureMessage;
        Q_EMIT stateChanged();
        return;
    }
    m_mappings = plan.mappings;
    const QString message = plan.proposedContents != plan.originalContents
                                ? qtTrId("AWS config updated and backed up.")
                                : qtTrId("Profile mappings saved; the config was already current.");
    refreshThen([this, message] {
        m_resultMessage = message;
        Q_EMIT stateChanged();
    });
}

void AWSProfilesPageModel::resetNamesToTemplate()
{
    if (!m_plan) {
        return;
    }
    for (const AWSConfigProfileCandidate &candidate : m_plan->candidates) {
        m_mappings.remove(candidate.id);
    }
    refresh();
}

void AWSProfilesPageModel::restoreLastBackup()
{
    if (!m_plan || !m_backupURL) {
        return;
    }
    try {
        AWSConfigManager::restoreBackup(*m_backupURL, *m_plan);
    } catch (...) {
        m_failureMessage = describeException(std::current_exception());
        qCWarning(lcAWSConfig).noquote() << "Restoring the AWS config failed:" << *m_failureMessage;
        Q_EMIT stateChanged();
        return;
    }
    refreshThen([this] {
        m_resultMessage = qtTrId("The previous AWS config was restored.");
        Q_EMIT stateChanged();
    });
}

} // namespace tessera
