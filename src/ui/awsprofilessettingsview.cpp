#include "ui/awsprofilessettingsview.h"

#include "accounts/clisigninsharing.h"
#include "awsconfig/awsconfigmanager.h"
#include "storage/settings.h"
#include "ui/settingsentryrules.h"
#include "ui/settingswidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tessera {

using namespace settingsui;

namespace {
struct Choice
{
    const char *label;
    const char *raw;
};
constexpr Choice modeChoices[] = {
    {"Off", "off"}, {"Native AWS SSO", "native"}, {"Granted", "granted"}};
constexpr Choice separatorChoices[] = {{"Preserve spaces", "preserve"},
                                       {"Use hyphens", "hyphens"},
                                       {"Use underscores", "underscores"}};
constexpr Choice caseChoices[] = {
    {"Preserve case", "preserve"}, {"Lowercase", "lowercase"}, {"Uppercase", "uppercase"}};

template<std::size_t N>
QComboBox *picker(const char *objectName, const Choice (&choices)[N], const QString &current,
                  QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(objectName));
    for (const Choice &choice : choices) {
        box->addItem(qtTrId(choice.label), QLatin1String(choice.raw));
    }
    box->setCurrentIndex(std::max(0, box->findData(current)));
    return box;
}

QVBoxLayout *boxLayout(QGroupBox *box)
{
    return qobject_cast<QVBoxLayout *>(box->layout());
}
} // namespace

AWSProfilesSettingsView::AWSProfilesSettingsView(AccountStore *store, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_settings(store->defaults())
    , m_model(store->defaults(), [store] { return store->accounts(); })
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildManagementGroup());
    layout->addWidget(buildNamesGroup());
    layout->addWidget(buildActionsGroup());
    layout->addStretch(1);

    connect(&m_model, &AWSProfilesPageModel::stateChanged, this, &AWSProfilesSettingsView::render);
    connect(m_store, &AccountStore::accountsChanged, this, &AWSProfilesSettingsView::inputsChanged);
    render();
}

QWidget *AWSProfilesSettingsView::buildManagementGroup()
{
    QGroupBox *box = section(qtTrId("AWS CLI Profile Management"), this);
    auto *form = new QFormLayout;
    const AWSConfigManagementSettings settings = m_model.profileSettings();
    m_mode = picker("managementMode", modeChoices, rawValue(settings.mode), box);
    connect(m_mode, &QComboBox::activated, this, [this] {
        m_settings.setString(key(settingskey::awsConfigManagementMode),
                             m_mode->currentData().toString());
        m_model.refresh();
        renderExample();
        updateCLISignIn();
    });
    form->addRow(qtTrId("Management mode"), m_mode);

    m_configPath = new QLineEdit(settings.customPath, box);
    m_configPath->setObjectName(QStringLiteral("configPath"));
    m_configPath->setPlaceholderText(QStringLiteral("~/.aws/config"));
    connect(m_configPath, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_settings.setString(key(settingskey::awsConfigPath), text);
    });
    connect(m_configPath, &QLineEdit::editingFinished, &m_model, &AWSProfilesPageModel::refresh);
    form->addRow(qtTrId("Config file"), m_configPath);
    boxLayout(box)->addLayout(form);

    m_grantedLine = new QLabel(box);
    m_grantedLine->setObjectName(QStringLiteral("grantedLine"));
    m_grantedLine->setWordWrap(true);
    m_grantedLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->layout()->addWidget(m_grantedLine);
    box->layout()->addWidget(caption(qtTrId("Tessera changes only the block identified by its "
                                            "ownership markers. Everything else is preserved."),
                                     box));
    return box;
}

QWidget *AWSProfilesSettingsView::buildNamesGroup()
{
    QGroupBox *box = section(qtTrId("Profile Names"), this);
    const AWSConfigManagementSettings settings = m_model.profileSettings();
    auto *form = new QFormLayout;
    m_template = new QLineEdit(
        m_settings.string(key(settingskey::awsProfileNamingTemplate)).value_or(QString()), box);
    m_template->setObjectName(QStringLiteral("namingTemplate"));
    connect(m_template, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_settings.setString(key(settingskey::awsProfileNamingTemplate), text);
        renderExample();
    });
    connect(m_template, &QLineEdit::editingFinished, &m_model, &AWSProfilesPageModel::refresh);
    form->addRow(qtTrId("Template"), m_template);
    form->addRow(QString(),
                 caption(qtTrId("Tokens: {accountName}, {accountId}, {role}, {provider}. Add one "
                                "transform: |lower, |upper, |proper, |slug, |snake, |camel, "
                                "|pascal."),
                         box));

    m_separator = picker("separator", separatorChoices, rawValue(settings.nameSeparator), box);
    m_case = picker("nameCase", caseChoices, rawValue(settings.nameCase), box);
    for (const auto &[combo, settingKey] :
         {std::pair{m_separator, settingskey::awsProfileNameSeparator},
          std::pair{m_case, settingskey::awsProfileNameCase}}) {
        QComboBox *changed = combo;
        const char *name = settingKey;
        connect(changed, &QComboBox::activated, this, [this, changed, name] {
            m_settings.setString(key(name), changed->currentData().toString());
            m_model.refresh();
            renderExample();
        });
    }
    form->addRow(qtTrId("Separator"), m_separator);
    form->addRow(qtTrId("Letter case"), m_case);

    m_exampleRow = new QWidget(box);
    auto *exampleLayout = new QHBoxLayout(m_exampleRow);
    exampleLayout->setContentsMargins(0, 0, 0, 0);
    exampleLayout->addWidget(new QLabel(qtTrId("Example profile name"), m_exampleRow));
    m_example = new QLabel(m_exampleRow);
    m_example->setObjectName(QStringLiteral("exampleName"));
    m_example->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_example->setTextInteractionFlags(Qt::TextSelectableByMouse);
    exampleLayout->addWidget(m_example, 1);
    form->addRow(m_exampleRow);

    m_cliRegion = new QLineEdit(settings.cliRegion, box);
    m_cliRegion->setObjectName(QStringLiteral("cliRegion"));
    m_cliRegion->setPlaceholderText(qtTrId("Leave unset"));
    connect(m_cliRegion, &QLineEdit::textEdited, this, [this] { commitCLIRegion(false); });
    connect(m_cliRegion, &QLineEdit::editingFinished, this, [this] {
        commitCLIRegion(true);
        m_model.refresh();
    });
    form->addRow(qtTrId("Default CLI region"), m_cliRegion);
    m_cliRegionProblem = messageLine("cliRegionProblem", errorColour, box);
    form->addRow(QString(), m_cliRegionProblem);
    boxLayout(box)->addLayout(form);

    m_resetNames = new QPushButton(qtTrId("Reset Names to Template"), box);
    m_resetNames->setObjectName(QStringLiteral("resetNames"));
    connect(m_resetNames, &QPushButton::clicked, &m_model,
            &AWSProfilesPageModel::resetNamesToTemplate);
    box->layout()->addWidget(m_resetNames);
    box->layout()->setAlignment(m_resetNames, Qt::AlignLeft);

    m_autoSync = new QCheckBox(qtTrId("Sync after account refresh"), box);
    m_autoSync->setObjectName(QStringLiteral("autoSync"));
    m_autoSync->setChecked(m_settings.boolean(key(settingskey::awsProfileAutoSync)));
    connect(m_autoSync, &QCheckBox::toggled, this,
            [this](bool on) { m_settings.setBool(key(settingskey::awsProfileAutoSync), on); });
    box->layout()->addWidget(m_autoSync);

    m_shareSignIn = new QCheckBox(qtTrId("Share sign-in with the AWS CLI"), box);
    m_shareSignIn->setObjectName(QStringLiteral("shareSignIn"));
    m_shareSignIn->setChecked(m_settings.boolean(key(settingskey::awsShareSignInWithCLI)));
    connect(m_shareSignIn, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.setBool(key(settingskey::awsShareSignInWithCLI), on);
        updateCLISignIn();
    });
    box->layout()->addWidget(m_shareSignIn);
    box->layout()->addWidget(
        caption(qtTrId("Native profiles then work without \"aws sso login\": Tessera writes its "
                       "short-lived access token where \"aws sso login\" would, readable only "
                       "by you, and keeps it current while it runs."),
                box));
    m_shareSignInFailure = messageLine("shareSignInFailure", errorColour, box);
    box->layout()->addWidget(m_shareSignInFailure);
    renderExample();
    return box;
}

QWidget *AWSProfilesSettingsView::buildActionsGroup()
{
    auto *group = new QWidget(this);
    auto *layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    m_removeOrphans = new QCheckBox(group);
    m_removeOrphans->setObjectName(QStringLiteral("removeOrphans"));
    connect(m_removeOrphans, &QCheckBox::toggled, &m_model,
            &AWSProfilesPageModel::setRemoveOrphans);
    layout->addWidget(m_removeOrphans);
    m_conflicts = messageLine("conflictWarning", warningColour, group);
    layout->addWidget(m_conflicts);
    m_globalConflicts = messageLine("globalConflicts", warningColour, group);
    layout->addWidget(m_globalConflicts);
    m_result = messageLine("resultMessage", successColour, group);
    layout->addWidget(m_result);
    m_failure = messageLine("failureMessage", warningColour, group);
    layout->addWidget(m_failure);

    auto *buttons = new QHBoxLayout;
    m_reload = new QPushButton(qtTrId("Reload Config File"), group);
    m_reload->setObjectName(QStringLiteral("reloadConfig"));
    connect(m_reload, &QPushButton::clicked, &m_model, &AWSProfilesPageModel::refresh);
    m_apply = new QPushButton(qtTrId("Apply Changes"), group);
    m_apply->setObjectName(QStringLiteral("applyChanges"));
    m_apply->setDefault(true);
    connect(m_apply, &QPushButton::clicked, &m_model, &AWSProfilesPageModel::applyChanges);
    buttons->addStretch(1);
    buttons->addWidget(m_reload);
    buttons->addWidget(m_apply);
    layout->addLayout(buttons);

    m_restore = new QPushButton(qtTrId("Restore Last Backup"), group);
    m_restore->setObjectName(QStringLiteral("restoreBackup"));
    connect(m_restore, &QPushButton::clicked, &m_model, &AWSProfilesPageModel::restoreLastBackup);
    layout->addWidget(m_restore, 0, Qt::AlignRight);
    return group;
}

void AWSProfilesSettingsView::inputsChanged()
{
    renderExample();
    if (isVisible()) {
        m_model.refresh();
    }
}

void AWSProfilesSettingsView::showEvent(QShowEvent *event)
{
    m_model.show();
    QWidget::showEvent(event);
}

void AWSProfilesSettingsView::commitCLIRegion(bool showProblem)
{
    const auto problem = regionEntryProblem(m_cliRegion->text(), /*mayBeEmpty=*/true);
    if (problem) {
        // Refused values never reach the settings, so never the AWS config.
        if (showProblem) {
            setMessage(m_cliRegionProblem, *problem);
        }
        return;
    }
    setMessage(m_cliRegionProblem, QString());
    const QString region = normalizedRegionId(m_cliRegion->text());
    m_settings.setString(key(settingskey::awsProfileCLIRegion), region);
    if (showProblem && m_cliRegion->text() != region) {
        m_cliRegion->setText(region);
    }
}

void AWSProfilesSettingsView::setCLISignInSharing(CLISignInSharing *sharing)
{
    m_cliSignInSharing = sharing;
    if (sharing) {
        connect(sharing, &CLISignInSharing::failureMessageChanged, this,
                &AWSProfilesSettingsView::render);
    }
    render();
}

void AWSProfilesSettingsView::updateCLISignIn()
{
    if (m_cliSignInSharing) {
        m_cliSignInSharing->update();
    }
}

void AWSProfilesSettingsView::renderExample()
{
    const auto example = m_model.exampleProfileName(m_template->text());
    m_exampleRow->setVisible(example.has_value());
    m_example->setText(example.value_or(QString()));
}

void AWSProfilesSettingsView::render()
{
    const AWSConfigManagementMode mode = m_model.profileSettings().mode;
    const bool managing = mode != AWSConfigManagementMode::off;
    const auto &plan = m_model.plan();

    if (mode == AWSConfigManagementMode::granted) {
        const auto granted = AWSConfigManager::grantedExecutablePath();
        m_grantedLine->setText(granted ? qtTrId("Granted detected at ") + *granted
                                       : qtTrId("Granted was not detected. Generated profiles "
                                                "require it on PATH."));
        m_grantedLine->setStyleSheet(
            granted ? QString() : QStringLiteral("color: %1;").arg(QLatin1String(warningColour)));
        m_grantedLine->setForegroundRole(granted ? QPalette::PlaceholderText
                                                 : QPalette::WindowText);
    }
    m_grantedLine->setVisible(mode == AWSConfigManagementMode::granted);

    m_autoSync->setEnabled(managing);
    m_shareSignIn->setEnabled(mode == AWSConfigManagementMode::native);
    setMessage(m_shareSignInFailure,
               m_cliSignInSharing ? m_cliSignInSharing->failureMessage() : QString());
    // Apply and restore end with a result message; the block they wrote decides which
    // sso-session the AWS CLI's sign-in belongs to.
    if (m_model.resultMessageOrEmpty() != m_lastResultMessage) {
        m_lastResultMessage = m_model.resultMessageOrEmpty();
        if (!m_lastResultMessage.isEmpty()) {
            updateCLISignIn();
        }
    }
    m_resetNames->setEnabled(plan.has_value());
    m_reload->setEnabled(managing);
    m_apply->setEnabled(m_model.canApply());

    const qsizetype orphans = plan ? plan->orphanedProfileNames.size() : 0;
    m_removeOrphans->setVisible(orphans > 0);
    {
        const QSignalBlocker quiet(m_removeOrphans);
        m_removeOrphans->setChecked(m_model.removeOrphans());
    }
    m_removeOrphans->setText(qtTrId("Remove ") + QString::number(orphans) +
                             qtTrId(" profiles no longer discovered"));
    const qsizetype conflicts = plan ? plan->conflicts().size() : 0;
    setMessage(m_conflicts, conflicts > 0 ? QString::number(conflicts) +
                                                qtTrId(" profile-name conflicts. Adjust the "
                                                       "template or reset stored names.")
                                          : QString());
    setMessage(m_globalConflicts, plan ? plan->globalConflicts.join(QLatin1Char('\n')) : QString());
    setMessage(m_result, m_model.resultMessageOrEmpty());
    setMessage(m_failure, m_model.failureMessageOrEmpty());

    const auto &backup = m_model.backupURL();
    m_restore->setVisible(backup.has_value());
    m_restore->setToolTip(backup ? QFileInfo(*backup).fileName() : QString());
}

} // namespace tessera
