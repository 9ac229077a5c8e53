#include "awsconfig/awsconfigtypes.h"

#include "storage/settings.h"
#include "storage/settingsstore.h"

namespace tessera {

QString rawValue(AWSConfigManagementMode mode)
{
    switch (mode) {
    case AWSConfigManagementMode::native:
        return QStringLiteral("native");
    case AWSConfigManagementMode::granted:
        return QStringLiteral("granted");
    case AWSConfigManagementMode::off:
        break;
    }
    return QStringLiteral("off");
}

QString rawValue(AWSProfileNameSeparator separator)
{
    switch (separator) {
    case AWSProfileNameSeparator::preserve:
        return QStringLiteral("preserve");
    case AWSProfileNameSeparator::underscores:
        return QStringLiteral("underscores");
    case AWSProfileNameSeparator::hyphens:
        break;
    }
    return QStringLiteral("hyphens");
}

QString rawValue(AWSProfileNameCase nameCase)
{
    switch (nameCase) {
    case AWSProfileNameCase::lowercase:
        return QStringLiteral("lowercase");
    case AWSProfileNameCase::uppercase:
        return QStringLiteral("uppercase");
    case AWSProfileNameCase::preserve:
        break;
    }
    return QStringLiteral("preserve");
}

AWSConfigManagementMode managementModeFromRaw(const QString &raw)
{
    if (raw == QLatin1String("native")) {
        return AWSConfigManagementMode::native;
    }
    if (raw == QLatin1String("granted")) {
        return AWSConfigManagementMode::granted;
    }
    return AWSConfigManagementMode::off;
}

AWSProfileNameSeparator nameSeparatorFromRaw(const QString &raw)
{
    if (raw == QLatin1String("preserve")) {
        return AWSProfileNameSeparator::preserve;
    }
    if (raw == QLatin1String("underscores")) {
        return AWSProfileNameSeparator::underscores;
    }
    return AWSProfileNameSeparator::hyphens;
}

AWSProfileNameCase nameCaseFromRaw(const QString &raw)
{
    if (raw == QLatin1String("lowercase")) {
        return AWSProfileNameCase::lowercase;
    }
    if (raw == QLatin1String("uppercase")) {
        return AWSProfileNameCase::uppercase;
    }
    return AWSProfileNameCase::preserve;
}

AWSConfigManagementSettings AWSConfigManagementSettings::fromSettings(const SettingsStore &settings)
{
    using namespace settingskey;
    AWSConfigManagementSettings result;
    result.mode =
        managementModeFromRaw(settings.string(key(awsConfigManagementMode)).value_or(QString()));
    result.customPath = settings.string(key(awsConfigPath)).value_or(QString());
    result.namingTemplate = settings.string(key(awsProfileNamingTemplate))
                                .value_or(QLatin1String(defaultNamingTemplate));
    result.cliRegion = settings.string(key(awsProfileCLIRegion)).value_or(QString());
    result.nameSeparator =
        nameSeparatorFromRaw(settings.string(key(awsProfileNameSeparator)).value_or(QString()));
    result.nameCase = nameCaseFromRaw(settings.string(key(awsProfileNameCase)).value_or(QString()));
    return result;
}

AWSConfigManagerError::AWSConfigManagerError(Kind kind, QString description)
    : Error(std::move(description))
    , m_kind(kind)
{}

AWSConfigManagerError AWSConfigManagerError::unreadableConfig(const QString &path)
{
    return {Kind::unreadableConfig,
            QStringLiteral("Tessera could not read the AWS config at ") + path +
                QStringLiteral(". Check its permissions and UTF-8 encoding.")};
}

AWSConfigManagerError AWSConfigManagerError::malformedManagedBlock()
{
    return {Kind::malformedManagedBlock,
            QStringLiteral(
                "The AWS config contains incomplete or duplicate Tessera ownership markers.")};
}

AWSConfigManagerError AWSConfigManagerError::conflicts()
{
    return {Kind::conflicts,
            QStringLiteral("Resolve profile and session-name conflicts before applying.")};
}

AWSConfigManagerError AWSConfigManagerError::fileChanged()
{
    return {Kind::fileChanged, QStringLiteral("The AWS config changed after the preview. Reload "
                                              "the config file and review it again.")};
}

AWSConfigManagerError AWSConfigManagerError::missingBackup()
{
    return {Kind::missingBackup, QStringLiteral("The selected Tessera backup no longer exists.")};
}

AWSConfigManagerError AWSConfigManagerError::invalidValue(AWSConfigValueKind value)
{
    switch (value) {
    case AWSConfigValueKind::startURL:
        return {Kind::invalidValue,
                QStringLiteral("The start URL contains a space, a line break or another "
                               "character a web address cannot hold.")};
    case AWSConfigValueKind::ssoRegion:
        return {Kind::invalidValue, QStringLiteral("The SSO region may contain only letters, "
                                                   "digits and hyphens.")};
    case AWSConfigValueKind::cliRegion:
        break;
    }
    return {Kind::invalidValue,
            QStringLiteral("The CLI region may contain only letters, digits and hyphens.")};
}

} // namespace tessera
