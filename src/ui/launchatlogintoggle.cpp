#include "ui/launchatlogintoggle.h"

#include "foundation/logging.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tessera {

LaunchAtLoginToggle::LaunchAtLoginToggle(std::shared_ptr<LoginItem> item, QWidget *parent)
    : QWidget(parent)
    , m_item(std::move(item))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_toggle = new QCheckBox(qtTrId("Launch at login"), this);
    m_toggle->setObjectName(QStringLiteral("launchAtLogin"));
    layout->addWidget(m_toggle);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("launchAtLoginMessage"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #e8870e;"));
    layout->addWidget(m_message);
    connect(m_toggle, &QCheckBox::toggled, this, &LaunchAtLoginToggle::setOn);
    reloadStatus();
}

void LaunchAtLoginToggle::reloadStatus()
{
    m_enabled = m_item->status() == LoginItem::Status::enabled;
    render();
}

void LaunchAtLoginToggle::setOn(bool on)
{
    const bool current = m_item->status() == LoginItem::Status::enabled;
    if (on == current) {
        m_enabled = on;
        render();
        return;
    }
    QString failure;
    if (on ? m_item->enable(&failure) : m_item->disable(&failure)) {
        m_statusMessage.reset();
        // No desktop asks for an approval of autostart entries: written means enabled.
        m_enabled = m_item->status() == LoginItem::Status::enabled;
    } else {
        if (on) {
            m_statusMessage = qtTrId("Could not enable launch at login: ") + failure +
                              QLatin1Char(' ') +
                              qtTrId("Tessera starts at login through your desktop's autostart "
                                     "folder; check that it can be written to.");
        } else {
            m_statusMessage = qtTrId("Could not disable launch at login: ") + failure;
        }
        qCWarning(lcApp).noquote() << *m_statusMessage;
        m_enabled = m_item->status() == LoginItem::Status::enabled;
    }
    render();
}

void LaunchAtLoginToggle::showEvent(QShowEvent *event)
{
    reloadStatus();
    QWidget::showEvent(event);
}

void LaunchAtLoginToggle::render()
{
    {
        const QSignalBlocker quiet(m_toggle);
        m_toggle->setChecked(m_enabled);
    }
    m_message->setText(m_statusMessage.value_or(QString()));
    m_message->setVisible(m_statusMessage.has_value());
    Q_EMIT stateChanged();
}

} // namespace tessera
