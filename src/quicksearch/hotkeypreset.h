#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>
#include <cstdint>

namespace tessera {

// One choice of the Quick Search hotkey. Key code and modifiers are the classic Mac
// virtual-key values the stored ids were defined with; `chord` is the same chord for
// desktops that name keys by Qt key sequence.
struct HotKeyPreset
{
    QString id;
    QString label;
    std::uint32_t keyCode = 0;
    std::uint32_t carbonModifiers = 0;
    QKeySequence chord;

    bool isOff() const;
    // The chord in this desktop's notation ("Alt+Space"); empty for "off".
    QString nativeChordText() const;
};

inline constexpr auto offHotKeyPresetId = "off";
inline constexpr auto defaultHotKeyPresetId = "opt-space";

// Every preset, in picker order, "off" first.
const QList<HotKeyPreset> &hotKeyPresets();
// The preset with the given id; unknown or absent ids give the default preset.
const HotKeyPreset &hotKeyPreset(const QString &id);

} // namespace tessera
