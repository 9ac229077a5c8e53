#pragma once

#include "storage/settingsstore.h"

#include <QString>
#include <optional>

namespace tessera {

// The settings keys and their registered defaults.
namespace settingskey {
inline constexpr auto startUrl = "startUrl";
inline constexpr auto ssoRegion = "ssoRegion";
inline constexpr auto defaultConsoleRegion = "defaultConsoleRegion";
inline constexpr auto syncMinutes = "syncMinutes";
inline constexpr auto quickSearchHotkey = "quickSearchHotkey";
inline constexpr auto awsConfigManagementMode = "awsConfigManagementMode";
inline constexpr auto awsConfigPath = "awsConfigPath";
inline constexpr auto awsProfileNamingTemplate = "awsProfileNamingTemplate";
inline constexpr auto awsProfileCLIRegion = "awsProfileCLIRegion";
inline constexpr auto awsProfileAutoSync = "awsProfileAutoSync";
inline constexpr auto awsProfileNameSeparator = "awsProfileNameSeparator";
inline constexpr auto awsProfileNameCase = "awsProfileNameCase";
inline constexpr auto awsShareSignInWithCLI = "awsShareSignInWithCLI";
inline constexpr auto desktopNotifications = "desktopNotifications";
inline constexpr auto onboardingComplete = "onboardingComplete";
inline constexpr auto awsProfileNamingV2Migrated = "awsProfileNamingV2Migrated";
} // namespace settingskey

inline QString key(const char *name)
{
    return QString::fromLatin1(name);
}

inline constexpr auto defaultSSORegion = "us-west-1";
inline constexpr auto defaultNamingTemplate = "{accountName|slug}-{role}";
inline constexpr auto legacyNamingTemplate = "{accountName}-{role}";

// Installs the registered defaults of every key that has one.
void registerTesseraDefaults(SettingsStore &settings);

// Trims, cuts at the first "#" or "?", then drops trailing "/" characters.
QString normalizeStartURL(const QString &text);

QString normalizedStartURL(const SettingsStore &settings);
QString configuredSSORegion(const SettingsStore &settings);
std::optional<QString> configuredDefaultConsoleRegion(const SettingsStore &settings);

// One-time migration of the old default naming template to the slug template.
void migrateNamingTemplate(SettingsStore &settings);

} // namespace tessera
