#include "ui/regionssettingspage.h"

#include "storage/settings.h"
#include "ui/defaultconsoleregionpicker.h"
#include "ui/settingswidgets.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tessera {

using namespace settingsui;

RegionsSettingsPage::RegionsSettingsPage(AccountStore *store, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
{
    auto *layout = new QVBoxLayout(this);
    QGroupBox *consoleRegion = section(qtTrId("Console Region"), this);
    m_picker = new DefaultConsoleRegionPicker(store->defaults(), consoleRegion);
    consoleRegion->layout()->addWidget(m_picker);
    consoleRegion->layout()->addWidget(
        caption(qtTrId("Quick Search remembers a separate console region for each account. "
                       "Regional services open directly in that region; global services ignore "
                       "it."),
                consoleRegion));
    layout->addWidget(consoleRegion);

    QGroupBox *available = section(qtTrId("Available Regions"), this);
    auto *presets = new QHBoxLayout;
    auto *usOnly = new QPushButton(qtTrId("US only"), available);
    usOnly->setObjectName(QStringLiteral("usOnly"));
    connect(usOnly, &QPushButton::clicked, this, &RegionsSettingsPage::enableUSOnly);
    auto *all = new QPushButton(qtTrId("Enable all"), available);
    all->setObjectName(QStringLiteral("enableAll"));
    connect(all, &QPushButton::clicked, this, &RegionsSettingsPage::enableAll);
    presets->addWidget(usOnly);
    presets->addWidget(all);
    presets->addStretch(1);
    qobject_cast<QVBoxLayout *>(available->layout())->addLayout(presets);

    auto *countRow = new QHBoxLayout;
    countRow->addWidget(
        caption(qtTrId("Choose which Regions appear in Quick Search and account menus."),
                available),
        1);
    m_count = new QLabel(available);
    m_count->setObjectName(QStringLiteral("regionCount"));
    countRow->addWidget(m_count);
    qobject_cast<QVBoxLayout *>(available->layout())->addLayout(countRow);

    for (const ConsoleRegion &region : consoleRegionCatalog()) {
        auto *toggle =
            new QCheckBox(QStringLiteral("%1 (%2)").arg(region.name, region.id), available);
        toggle->setObjectName(QStringLiteral("region:") + region.id);
        const QString id = region.id;
        connect(toggle, &QCheckBox::toggled, this, [this, id](bool on) {
            m_store->setConsoleRegionEnabled(id, on);
            // A refused change (the last region, a failed save) puts the toggle back.
            update();
        });
        available->layout()->addWidget(toggle);
        m_toggles.insert(region.id, toggle);
    }
    layout->addWidget(available);
    layout->addStretch(1);

    connect(m_store, &AccountStore::organizationChanged, this, &RegionsSettingsPage::update);
    update();
}

void RegionsSettingsPage::enableUSOnly()
{
    QSet<QString> ids;
    for (const ConsoleRegion &region : usConsoleRegions()) {
        ids.insert(region.id);
    }
    m_store->setEnabledConsoleRegions(ids);
    update();
}

void RegionsSettingsPage::enableAll()
{
    QSet<QString> ids;
    for (const ConsoleRegion &region : consoleRegionCatalog()) {
        ids.insert(region.id);
    }
    m_store->setEnabledConsoleRegions(ids);
    update();
}

void RegionsSettingsPage::update()
{
    const QStringList &disabled = m_store->organization().disabledConsoleRegionIds;
    const QList<ConsoleRegion> enabled = enabledConsoleRegions(disabled);
    for (auto it = m_toggles.cbegin(); it != m_toggles.cend(); ++it) {
        const bool on = !disabled.contains(it.key());
        const QSignalBlocker quiet(*it);
        (*it)->setChecked(on);
        // The last enabled region stays on: there must always be one to open.
        (*it)->setEnabled(!(on && enabled.size() < 2));
    }
    m_count->setText(
        qtTrId("%lld enabled").replace(QLatin1String("%lld"), QString::number(enabled.size())));
    m_picker->setChoices(configuredSSORegion(m_store->defaults()), enabled);
}

void RegionsSettingsPage::showEvent(QShowEvent *event)
{
    update();
    QWidget::showEvent(event);
}

} // namespace tessera
