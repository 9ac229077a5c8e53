#include "storage/settings.h"

#include <QRegularExpression>

namespace tessera {

void registerTesseraDefaults(SettingsStore &settings)
{
    using namespace settingskey;
    settings.registerDefaults(QVariantMap{
        {key(startUrl), QString()},
        {key(ssoRegion), QLatin1String(defaultSSORegion)},
        {key(defaultConsoleRegion), QString()},
        {key(syncMinutes), 0},
        {key(quickSearchHotkey), QStringLiteral("opt-space")},
        {key(awsConfigManagementMode), QStringLiteral("off")},
        {key(awsConfigPath), QString()},
        {key(awsProfileNamingTemplate), QLatin1String(defaultNamingTemplate)},
        {key(awsProfileCLIRegion), QString()},
        {key(awsProfileAutoSync), false},
        {key(awsProfileNameSeparator), QStringLiteral("hyphens")},
        {key(awsProfileNameCase), QStringLiteral("preserve")},
        {key(awsShareSignInWithCLI), true},
        {key(desktopNotifications), true},
    });
}

QString normalizeStartURL(const QString &text)
{
    QString result = text.trimmed();
    const qsizetype cut = result.indexOf(QRegularExpression(QStringLiteral("[#?]")));
    if (cut >= 0) {
        result.truncate(cut);
    }
    while (result.endsWith(QLatin1Char('/'))) {
        result.chop(1);
    }
    return result;
}

QString normalizedStartURL(const SettingsStore &settings)
{
    return normalizeStartURL(settings.string(key(settingskey::startUrl)).value_or(QString()));
}

QString configuredSSORegion(const SettingsStore &settings)
{
    return settings.string(key(settingskey::ssoRegion))
        .value_or(QLatin1String(defaultSSORegion))
        .trimmed()
        .toLower();
}

std::optional<QString> configuredDefaultConsoleRegion(const SettingsStore &settings)
{
    const QString region = settings.string(key(settingskey::defaultConsoleRegion))
                               .value_or(QString())
                               .trimmed()
                               .toLower();
    if (region.isEmpty()) {
        return std::nullopt;
    }
    return region;
}

void migrateNamingTemplate(SettingsStore &settings)
{
    if (settings.boolean(key(settingskey::awsProfileNamingV2Migrated))) {
        return;
    }
    if (settings.string(key(settingskey::awsProfileNamingTemplate)) ==
        QLatin1String(legacyNamingTemplate)) {
        settings.setString(key(settingskey::awsProfileNamingTemplate),
                           QLatin1String(defaultNamingTemplate));
    }
    settings.setBool(key(settingskey::awsProfileNamingV2Migrated), true);
}

} // namespace tessera
