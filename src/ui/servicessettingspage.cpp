#include "ui/servicessettingspage.h"

#include "ui/icons.h"
#include "ui/settingswidgets.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

ServicesSettingsPage::ServicesSettingsPage(AccountStore *store, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
{
    auto *layout = new QVBoxLayout(this);
    auto *header = new QLabel(qtTrId("Console Services"), this);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    layout->addWidget(header);
    layout->addWidget(settingsui::caption(qtTrId("Choose which services show up in service lists. "
                                                 "Pinned services appear first."),
                                          this));
    for (const ConsoleService &service : consoleServiceCatalog()) {
        const QString name = service.name;
        auto *row = new QHBoxLayout;
        // "&" would otherwise mark a keyboard shortcut ("Billing & Cost Management").
        auto *toggle =
            new QCheckBox(QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")), this);
        toggle->setObjectName(QStringLiteral("service:") + name);
        connect(toggle, &QCheckBox::toggled, this, [this, name](bool on) {
            m_store->setServiceEnabled(name, on);
            update();
        });
        auto *pin = new QToolButton(this);
        pin->setObjectName(QStringLiteral("pin:") + name);
        pin->setCheckable(true);
        pin->setAutoRaise(true);
        pin->setAccessibleName(qtTrId("Pin %1").arg(name));
        connect(pin, &QToolButton::clicked, this, [this, name] {
            m_store->togglePinnedService(name);
            update();
        });
        row->addWidget(toggle, 1);
        row->addWidget(pin);
        layout->addLayout(row);
        m_toggles.insert(name, toggle);
        m_pins.insert(name, pin);
    }
    layout->addStretch(1);
    connect(m_store, &AccountStore::organizationChanged, this, &ServicesSettingsPage::update);
    update();
}

void ServicesSettingsPage::update()
{
    const Organization &organization = m_store->organization();
    for (auto it = m_toggles.cbegin(); it != m_toggles.cend(); ++it) {
        const QSignalBlocker quiet(*it);
        (*it)->setChecked(!organization.disabledServiceNames.contains(it.key()));
    }
    for (auto it = m_pins.cbegin(); it != m_pins.cend(); ++it) {
        const bool pinned = organization.pinnedServiceNames.contains(it.key());
        const QSignalBlocker quiet(*it);
        (*it)->setChecked(pinned);
        (*it)->setToolTip(pinned ? qtTrId("Unpin") : qtTrId("Pin to top of service lists"));
        // An unpinned service shows the pin greyed out.
        const QIcon pin = symbolIcon(Symbol::pin);
        (*it)->setIcon(pinned ? pin : QIcon(pin.pixmap(16, 16, QIcon::Disabled)));
    }
}

} // namespace tessera
