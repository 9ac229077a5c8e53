#pragma once

#include "platform/autostart.h"

#include <QWidget>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;

namespace tessera {

// "Launch at login": mirrors the autostart entry's status and writes or removes the entry
// when flipped. A failure is explained under the toggle, which then shows the real status.
class LaunchAtLoginToggle : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isOn NOTIFY stateChanged)
    Q_PROPERTY(QString statusMessage READ statusMessageOrEmpty NOTIFY stateChanged)

public:
    explicit LaunchAtLoginToggle(std::shared_ptr<LoginItem> item = makeLoginItem(),
                                 QWidget *parent = nullptr);

    bool isOn() const { return m_enabled; }
    const std::optional<QString> &statusMessage() const { return m_statusMessage; }
    QString statusMessageOrEmpty() const { return m_statusMessage.value_or(QString()); }

public Q_SLOTS:
    void setOn(bool on);
    // Reads the status again (the desktop's own settings may have changed it).
    void reloadStatus();

Q_SIGNALS:
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void render();

    std::shared_ptr<LoginItem> m_item;
    bool m_enabled = false;
    std::optional<QString> m_statusMessage;
    QCheckBox *m_toggle = nullptr;
    QLabel *m_message = nullptr;
};

} // namespace tessera
