#include "ui/generalsettingspage.h"

#include "quicksearch/hotkeypreset.h"
#include "storage/settings.h"
#include "ui/launchatlogintoggle.h"
#include "ui/settingsentryrules.h"
#include "ui/settingswidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tessera {

using namespace settingsui;

GeneralSettingsPage::GeneralSettingsPage(AccountStore *store, std::function<void()> applyHotKey,
                                         std::shared_ptr<LoginItem> loginItem, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_settings(store->defaults())
    , m_applyHotKey(std::move(applyHotKey))
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildPortalSection());
    layout->addWidget(buildSyncSection());
    layout->addWidget(buildQuickSearchSection());

    QGroupBox *startup = section(qtTrId("Startup"), this);
    m_launchAtLogin = new LaunchAtLoginToggle(std::move(loginItem), startup);
    startup->layout()->addWidget(m_launchAtLogin);
    layout->addWidget(startup);
    layout->addWidget(buildNotificationsSection());
    layout->addStretch(1);
}

QWidget *GeneralSettingsPage::buildPortalSection()
{
    QGroupBox *box = section(qtTrId("IAM Identity Center"), this);
    auto *form = new QFormLayout;
    m_startUrl = new QLineEdit(box);
    m_startUrl->setObjectName(QStringLiteral("startUrl"));
    m_startUrl->setPlaceholderText(QStringLiteral("https://my-company.awsapps.com/start"));
    m_startUrl->setText(m_settings.string(key(settingskey::startUrl)).value_or(QString()));
    form->addRow(qtTrId("Start URL"), m_startUrl);
    m_startUrlProblem = messageLine("startUrlProblem", errorColour, box);
    form->addRow(QString(), m_startUrlProblem);

    m_region = new QLineEdit(box);
    m_region->setObjectName(QStringLiteral("region"));
    m_region->setPlaceholderText(QLatin1String(defaultSSORegion));
    m_region->setText(
        m_settings.string(key(settingskey::ssoRegion)).value_or(QLatin1String(defaultSSORegion)));
    form->addRow(qtTrId("IAM Identity Center region"), m_region);
    m_regionProblem = messageLine("regionProblem", errorColour, box);
    form->addRow(QString(), m_regionProblem);
    qobject_cast<QVBoxLayout *>(box->layout())->addLayout(form);
    box->layout()->addWidget(caption(qtTrId("Region where IAM Identity Center is deployed. "
                                            "Changing these requires signing in again."),
                                     box));

    // Return and leaving the field both end an edit.
    connect(m_startUrl, &QLineEdit::editingFinished, this, &GeneralSettingsPage::submitStartURL);
    connect(m_region, &QLineEdit::editingFinished, this, &GeneralSettingsPage::submitRegion);
    return box;
}

QWidget *GeneralSettingsPage::buildSyncSection()
{
    QGroupBox *box = section(qtTrId("Sync"), this);
    auto *form = new QFormLayout;
    m_syncPicker = settingsui::syncPicker(
        m_settings, [this] { m_store->configureSyncTimer(); }, box);
    form->addRow(qtTrId("Auto-sync accounts and roles"), m_syncPicker);
    qobject_cast<QVBoxLayout *>(box->layout())->addLayout(form);
    return box;
}

QWidget *GeneralSettingsPage::buildNotificationsSection()
{
    QGroupBox *box = section(qtTrId("Notifications"), this);
    auto *notify = new QCheckBox(qtTrId("Show desktop notifications"), box);
    notify->setObjectName(QStringLiteral("desktopNotifications"));
    notify->setChecked(m_settings.boolean(key(settingskey::desktopNotifications)));
    connect(notify, &QCheckBox::toggled, this,
            [this](bool on) { m_settings.setBool(key(settingskey::desktopNotifications), on); });
    box->layout()->addWidget(notify);
    box->layout()->addWidget(
        caption(qtTrId("When the panel is closed: the session ended, a sync failed, or the AWS "
                       "CLI profiles could not be updated."),
                box));
    return box;
}

QWidget *GeneralSettingsPage::buildQuickSearchSection()
{
    QGroupBox *box = section(qtTrId("Quick Search"), this);
    auto *form = new QFormLayout;
    m_hotkeyPicker = hotKeyPicker(
        m_settings,
        [this] {
            if (m_applyHotKey) {
                m_applyHotKey();
            }
        },
        box);
    form->addRow(qtTrId("Global hotkey"), m_hotkeyPicker);
    qobject_cast<QVBoxLayout *>(box->layout())->addLayout(form);
    m_hotKeyError = messageLine("hotKeyError", errorColour, box);
    box->layout()->addWidget(m_hotKeyError);
    box->layout()->addWidget(
        caption(qtTrId("Opens a launcher-style account search from anywhere. Type to filter, "
                       "↑↓ to navigate, Enter to open the console."),
                box));
    return box;
}

void GeneralSettingsPage::setHotKeyErrorMessage(const std::optional<QString> &message)
{
    setMessage(m_hotKeyError, message.value_or(QString()));
}

void GeneralSettingsPage::showProblem(QLabel *label, const std::optional<QString> &problem)
{
    setMessage(label, problem.value_or(QString()));
}

void GeneralSettingsPage::submitStartURL()
{
    const QString typed = m_startUrl->text();
    const auto problem = startURLEntryProblem(typed);
    showProblem(m_startUrlProblem, problem);
    if (problem) {
        return;
    }
    const QString normalized = normalizeStartURL(typed);
    m_startUrl->setText(normalized);
    if (m_settings.string(key(settingskey::startUrl)) != normalized) {
        m_settings.setString(key(settingskey::startUrl), normalized);
        Q_EMIT portalChanged();
    }
}

void GeneralSettingsPage::submitPendingEdits()
{
    if (m_startUrl->isModified()) {
        submitStartURL();
    }
    if (m_region->isModified()) {
        submitRegion();
    }
}

void GeneralSettingsPage::submitRegion()
{
    const QString typed = m_region->text();
    const auto problem = regionEntryProblem(typed, /*mayBeEmpty=*/false);
    showProblem(m_regionProblem, problem);
    if (problem) {
        return;
    }
    const QString region = normalizedRegionId(typed);
    m_region->setText(region);
    if (m_settings.string(key(settingskey::ssoRegion)) != region) {
        m_settings.setString(key(settingskey::ssoRegion), region);
        Q_EMIT portalChanged();
    }
}

} // namespace tessera
