#include "awsconfig/profileautoupdate.h"

namespace tessera {

std::optional<QString> updateAWSProfilesAfterSync(const QList<AWSAccount> &, const QString &,
                                                  const QString &, const SettingsStore &,
                                                  const QDateTime &)
{
    return std::nullopt;
}

} // namespace tessera
