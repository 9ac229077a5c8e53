#pragma once

#include "storage/records.h"
#include "storage/settingsstore.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace tessera {

// The AWS CLI profile update that follows a successful account sync. Reads the profile
// settings, plans with orphans kept and applies the plan. Does nothing unless
// "awsProfileAutoSync" is on and the mode is "native" or "granted". Throws what planning or
// applying throws.
void updateAWSProfilesAfterSync(const QList<AWSAccount> &accounts, const QString &startUrl,
                                const QString &ssoRegion, const SettingsStore &settings,
                                const QDateTime &now);

} // namespace tessera
