#include "awsconfig/profileautoupdate.h"

#include "awsconfig/awsconfigmanager.h"
#include "storage/settings.h"

namespace tessera {

void updateAWSProfilesAfterSync(const QList<AWSAccount> &accounts, const QString &startUrl,
                                const QString &ssoRegion, const SettingsStore &settings,
                                const QDateTime &now)
{
    const auto profileSettings = AWSConfigManagementSettings::fromSettings(settings);
    if (!settings.boolean(key(settingskey::awsProfileAutoSync)) ||
        profileSettings.mode == AWSConfigManagementMode::off) {
        return;
    }
    const AWSConfigPlan plan =
        AWSConfigManager::plan(accounts, startUrl, ssoRegion, profileSettings,
                               AWSConfigManager::loadMappings(), /*keepOrphans=*/true, now);
    AWSConfigManager::apply(plan, now);
}

} // namespace tessera
