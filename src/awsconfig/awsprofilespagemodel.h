#pragma once

#include "awsconfig/awsconfigplan.h"
#include "awsconfig/awsconfigtypes.h"
#include "storage/records.h"
#include "storage/settingsstore.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <functional>
#include <optional>

namespace tessera {

// The state behind the AWS Profiles settings page: the stored profile names, the current
// plan and what the last action reported. It keeps no profile logic of its own; it asks
// AWSConfigManager for a plan whenever the page says an input changed.
//
// Planning a large organization against a large config takes longer than a frame, so a plan
// is computed on a worker thread from copies of its inputs. Each refresh gets a new
// generation number; a finished plan is taken only when no refresh started after it, so an
// older result never replaces a newer one. Actions that need the fresh plan (apply, and the
// messages after apply and restore) run when it arrives.
class AWSProfilesPageModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool planning READ isPlanning NOTIFY stateChanged)
    Q_PROPERTY(bool hasPlan READ hasPlan NOTIFY stateChanged)
    Q_PROPERTY(bool canApply READ canApply NOTIFY stateChanged)
    Q_PROPERTY(bool removeOrphans READ removeOrphans WRITE setRemoveOrphans NOTIFY stateChanged)
    Q_PROPERTY(QString resultMessage READ resultMessageOrEmpty NOTIFY stateChanged)
    Q_PROPERTY(QString failureMessage READ failureMessageOrEmpty NOTIFY stateChanged)
    Q_PROPERTY(QString backupURL READ backupURLOrEmpty NOTIFY stateChanged)

public:
    using AccountsSource = std::function<QList<AWSAccount>()>;
    using Now = std::function<QDateTime()>;

    AWSProfilesPageModel(SettingsStore &settings, AccountsSource accounts, Now now = {},
                         QObject *parent = nullptr);
    ~AWSProfilesPageModel() override;

    AWSConfigManagementSettings profileSettings() const;
    const QMap<QString, QString> &mappings() const { return m_mappings; }
    const std::optional<AWSConfigPlan> &plan() const { return m_plan; }
    bool hasPlan() const { return m_plan.has_value(); }
    bool isPlanning() const { return m_planning; }
    bool canApply() const;
    bool removeOrphans() const { return m_removeOrphans; }
    const std::optional<QString> &resultMessage() const { return m_resultMessage; }
    const std::optional<QString> &failureMessage() const { return m_failureMessage; }
    const std::optional<QString> &backupURL() const { return m_backupURL; }
    QString resultMessageOrEmpty() const { return m_resultMessage.value_or(QString()); }
    QString failureMessageOrEmpty() const { return m_failureMessage.value_or(QString()); }
    QString backupURLOrEmpty() const { return m_backupURL.value_or(QString()); }

    // The name the first account's first role would get under `nameTemplate` (the default
    // template when empty) and the stored mode, separator and case; none without accounts
    // or roles.
    std::optional<QString> exampleProfileName(const QString &nameTemplate) const;

public Q_SLOTS:
    // The page appeared: the stored names are read the first time, then a preview follows.
    void show();
    // Re-plans from the stored settings and the current accounts.
    void refresh();
    void setRemoveOrphans(bool remove);
    void applyChanges();
    void resetNamesToTemplate();
    void restoreLastBackup();

Q_SIGNALS:
    void stateChanged();

private:
    struct Outcome
    {
        std::optional<AWSConfigPlan> plan;
        std::optional<QString> backupURL;
        std::optional<QString> failure;
    };

    void take(quint64 generation, Outcome outcome);
    void applyCurrentPlan();
    // Runs `step` once the refresh started now has delivered its plan.
    void refreshThen(std::function<void()> step);

    SettingsStore &m_settings;
    AccountsSource m_accounts;
    Now m_now;
    QMap<QString, QString> m_mappings;
    std::optional<AWSConfigPlan> m_plan;
    bool m_loadedMappings = false;
    std::optional<QString> m_resultMessage;
    std::optional<QString> m_failureMessage;
    std::optional<QString> m_backupURL;
    bool m_removeOrphans = false;
    bool m_planning = false;
    quint64 m_generation = 0;
    std::function<void()> m_afterRefresh;
};

} // namespace tessera
