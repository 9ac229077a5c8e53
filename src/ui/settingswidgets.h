#pragma once

#include <QString>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QWidget;

// Small building blocks shared by the settings pages.
namespace tessera {
class SettingsStore;
}

namespace tessera::settingsui {

// A titled group whose content is laid out top to bottom.
QGroupBox *section(const QString &title, QWidget *parent);
// A wrapped line in the secondary text colour and a smaller font.
QLabel *caption(const QString &text, QWidget *parent);
// A wrapped line in a warning or success colour; hidden until it gets a text.
QLabel *messageLine(const char *objectName, const char *colour, QWidget *parent);
inline constexpr auto warningColour = "#e8870e";
inline constexpr auto errorColour = "#d70015";
inline constexpr auto successColour = "#1e8e3e";
// Sets the text of a messageLine and shows it, or hides it for an empty text.
void setMessage(QLabel *line, const QString &text);
// The Quick Search hotkey choices with the stored one selected; a choice is stored at once,
// then `chosen` runs.
QComboBox *hotKeyPicker(SettingsStore &settings, std::function<void()> chosen, QWidget *parent);
// The auto-sync intervals with the stored one selected; a choice is stored at once, then
// `chosen` runs.
QComboBox *syncPicker(SettingsStore &settings, std::function<void()> chosen, QWidget *parent);

} // namespace tessera::settingsui
