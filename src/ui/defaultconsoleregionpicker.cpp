#include "ui/defaultconsoleregionpicker.h"

#include "storage/settings.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <algorithm>

namespace tessera {

QString normalizedConsoleRegionSelection(const QString &selection,
                                         const QString &identityCenterRegion,
                                         const QList<ConsoleRegion> &regions)
{
    const auto offers = [&regions](const QString &id) {
        return std::any_of(regions.cbegin(), regions.cend(),
                           [&id](const ConsoleRegion &region) { return region.id == id; });
    };
    if (selection.isEmpty() || regions.isEmpty() || offers(selection)) {
        return selection;
    }
    return offers(identityCenterRegion.trimmed()) ? QString() : regions.first().id;
}

DefaultConsoleRegionPicker::DefaultConsoleRegionPicker(SettingsStore &settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(qtTrId("Default console region"), this));
    layout->addStretch(1);
    m_button = new QPushButton(this);
    m_button->setObjectName(QStringLiteral("defaultConsoleRegion"));
    auto *menu = new QMenu(m_button);
    // Built when it opens, so that choosing an entry never deletes the entry being chosen.
    connect(menu, &QMenu::aboutToShow, this, &DefaultConsoleRegionPicker::rebuildMenu);
    m_button->setMenu(menu);
    layout->addWidget(m_button);
}

QString DefaultConsoleRegionPicker::selection() const
{
    return m_settings.string(key(settingskey::defaultConsoleRegion)).value_or(QString());
}

void DefaultConsoleRegionPicker::setSelection(const QString &regionId)
{
    if (regionId == selection()) {
        return;
    }
    m_settings.setString(key(settingskey::defaultConsoleRegion), regionId);
    m_button->setText(buttonTitle());
    Q_EMIT selectionChanged();
}

void DefaultConsoleRegionPicker::setChoices(const QString &identityCenterRegion,
                                            const QList<ConsoleRegion> &regions)
{
    m_identityCenterRegion = identityCenterRegion;
    m_regions = regions;
    m_button->setText(buttonTitle());
    setSelection(normalizedConsoleRegionSelection(selection(), m_identityCenterRegion, m_regions));
}

QString DefaultConsoleRegionPicker::buttonTitle() const
{
    const QString current = selection();
    return current.isEmpty() ? qtTrId("Same as IAM (") + m_identityCenterRegion + QLatin1Char(')')
                             : current;
}

void DefaultConsoleRegionPicker::rebuildMenu()
{
    QMenu *menu = m_button->menu();
    menu->clear();
    auto *group = new QActionGroup(menu);
    const QString current = selection();
    const auto addChoice = [&](const QString &text, const QString &regionId) {
        QAction *action = menu->addAction(text, this, [this, regionId] { setSelection(regionId); });
        action->setObjectName(QStringLiteral("choice:") + regionId);
        action->setCheckable(true);
        action->setChecked(regionId == current);
        group->addAction(action);
    };
    addChoice(qtTrId("Same as IAM Identity Center (") + m_identityCenterRegion + QLatin1Char(')'),
              QString());
    menu->addSeparator();
    for (const ConsoleRegion &region : m_regions) {
        addChoice(QStringLiteral("%1 — %2").arg(region.id, region.name), region.id);
    }
}

} // namespace tessera
