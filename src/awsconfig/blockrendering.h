#pragma once

#include "awsconfig/awsconfigtypes.h"

#include <QDateTime>
#include <QString>
#include <optional>

// The exact text Tessera writes between its ownership markers.
namespace tessera {

inline constexpr auto blockHeaderPrefix = "# Last updated by Tessera: ";

QString quotedProfileName(const QString &name);
// Both throw AWSConfigManagerError::invalidValue for a start URL or region that
// validateAWSConfigValue refuses.
QString renderProfileSection(const QString &name, const QString &accountId, const QString &role,
                             AWSConfigManagementMode mode, const QString &sessionName,
                             const QString &startURL, const QString &ssoRegion,
                             const QString &cliRegion);
QString renderSessionSection(const QString &sessionName, const QString &startURL,
                             const QString &ssoRegion);
// The header line's time: Los Angeles wall-clock time with its short zone name.
QString blockHeaderTimestamp(const QDateTime &now);
// Header, blank line, content. The old header is kept when the content is unchanged, so
// re-planning an unchanged configuration reproduces the file exactly.
QString renderBlockBody(const QString &content, const std::optional<QString> &currentBody,
                        const QString &newline, const QDateTime &now);

} // namespace tessera
