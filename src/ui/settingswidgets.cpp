#include "ui/settingswidgets.h"

#include "quicksearch/hotkeypreset.h"
#include "storage/settings.h"
#include "ui/hotkeychoice.h"
#include "ui/syncchoices.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace tessera::settingsui {

QGroupBox *section(const QString &title, QWidget *parent)
{
    auto *box = new QGroupBox(title, parent);
    new QVBoxLayout(box);
    return box;
}

QLabel *caption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    label->setFont(small);
    return label;
}

QLabel *messageLine(const char *objectName, const char *colour, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(colour)));
    label->hide();
    return label;
}

void setMessage(QLabel *line, const QString &text)
{
    line->setText(text);
    line->setVisible(!text.isEmpty());
}

QComboBox *hotKeyPicker(SettingsStore &settings, std::function<void()> chosen, QWidget *parent)
{
    auto *picker = new QComboBox(parent);
    picker->setObjectName(QStringLiteral("hotkeyPicker"));
    for (const HotKeyPreset &preset : hotKeyPresets()) {
        picker->addItem(hotKeyChoiceText(preset), preset.id);
    }
    const QString stored = settings.string(key(settingskey::quickSearchHotkey))
                               .value_or(QLatin1String(defaultHotKeyPresetId));
    picker->setCurrentIndex(picker->findData(hotKeyPreset(stored).id));
    QObject::connect(picker, &QComboBox::activated, picker,
                     [&settings, picker, chosen = std::move(chosen)](int i) {
                         settings.setString(key(settingskey::quickSearchHotkey),
                                            picker->itemData(i).toString());
                         if (chosen) {
                             chosen();
                         }
                     });
    return picker;
}

QComboBox *syncPicker(SettingsStore &settings, std::function<void()> chosen, QWidget *parent)
{
    auto *picker = new QComboBox(parent);
    picker->setObjectName(QStringLiteral("syncPicker"));
    for (const SyncChoice &choice : syncChoices) {
        picker->addItem(qtTrId(choice.label), choice.minutes);
    }
    const int storedMinutes = settings.integer(key(settingskey::syncMinutes));
    // A value set elsewhere that is not one of the choices stays visible as what it is.
    int index = picker->findData(storedMinutes);
    if (index < 0) {
        picker->addItem(qtTrId("Every %n minute(s)", storedMinutes), storedMinutes);
        index = picker->count() - 1;
    }
    picker->setCurrentIndex(index);
    QObject::connect(picker, &QComboBox::activated, picker,
                     [&settings, picker, chosen = std::move(chosen)](int i) {
                         settings.setInteger(key(settingskey::syncMinutes),
                                             picker->itemData(i).toInt());
                         if (chosen) {
                             chosen();
                         }
                     });
    return picker;
}

} // namespace tessera::settingsui
