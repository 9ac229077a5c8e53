#pragma once

#include "awsconfig/awsconfigtypes.h"

#include <QString>

// Profile names: the user's template language, the separator and case settings, and the
// rule for names the AWS CLI reads back unchanged.
namespace tessera {

enum class NameTransform
{
    lower,
    upper,
    proper,
    slug,
    snake,
    camel,
    pascal
};

// Replaces the tokens {accountName}, {accountId}, {role} and {provider}, each optionally
// followed by one "|transform", then tidies the ends and runs of hyphens. Never fails; the
// result may be empty.
QString renderTemplate(const QString &nameTemplate, const QString &accountId,
                       const QString &accountName, const QString &role,
                       AWSConfigManagementMode mode);
QString applyTransform(const QString &text, NameTransform transform);
QString applySeparatorAndCase(const QString &text, AWSProfileNameSeparator separator,
                              AWSProfileNameCase nameCase);
QString profileName(const QString &nameTemplate, const QString &accountId,
                    const QString &accountName, const QString &role, AWSConfigManagementMode mode,
                    AWSProfileNameSeparator separator, AWSProfileNameCase nameCase);
// Whether `stored` is `base` under one of the nine separator and case settings.
bool isDerivedName(const QString &stored, const QString &base);
// Whether the AWS CLI reads `[profile <name>]`, as Tessera writes it, back as `name`.
bool isValidProfileName(const QString &name);
// The sso-session section that all native profiles of one access portal share.
QString ssoSessionName(const QString &startURL);

} // namespace tessera
