#include "quicksearch/hotkeypreset.h"

namespace tessera {

namespace {
// Mac virtual key codes and modifier bits the preset ids were chosen with.
constexpr std::uint32_t keySpace = 49;
constexpr std::uint32_t keyK = 40;
constexpr std::uint32_t keyA = 0;
constexpr std::uint32_t cmdKey = 256;
constexpr std::uint32_t optionKey = 2048;
constexpr std::uint32_t controlKey = 4096;
} // namespace

bool HotKeyPreset::isOff() const
{
    return id == QLatin1String(offHotKeyPresetId);
}

QString HotKeyPreset::nativeChordText() const
{
    return chord.toString(QKeySequence::NativeText);
}

const QList<HotKeyPreset> &hotKeyPresets()
{
    // Option maps to Alt and Command to the Super ("Meta") key.
    static const QList<HotKeyPreset> presets{
        {QStringLiteral("off"), QStringLiteral("Off"), 0, 0, QKeySequence()},
        {QStringLiteral("opt-space"), QStringLiteral("\u2325 Space"), keySpace, optionKey,
         QKeySequence(Qt::AltModifier | Qt::Key_Space)},
        {QStringLiteral("ctrl-space"), QStringLiteral("\u2303 Space"), keySpace, controlKey,
         QKeySequence(Qt::ControlModifier | Qt::Key_Space)},
        {QStringLiteral("opt-cmd-space"), QStringLiteral("\u2325\u2318 Space"), keySpace,
         optionKey + cmdKey, QKeySequence(Qt::AltModifier | Qt::MetaModifier | Qt::Key_Space)},
        {QStringLiteral("opt-cmd-k"), QStringLiteral("\u2325\u2318 K"), keyK, optionKey + cmdKey,
         QKeySequence(Qt::AltModifier | Qt::MetaModifier | Qt::Key_K)},
        {QStringLiteral("ctrl-opt-a"), QStringLiteral("\u2303\u2325 A"), keyA,
         controlKey + optionKey, QKeySequence(Qt::ControlModifier | Qt::AltModifier | Qt::Key_A)},
    };
    return presets;
}

const HotKeyPreset &hotKeyPreset(const QString &id)
{
    const auto &presets = hotKeyPresets();
    for (const auto &preset : presets) {
        if (preset.id == id) {
            return preset;
        }
    }
    return presets.at(1);
}

} // namespace tessera
