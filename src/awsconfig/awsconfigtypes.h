#pragma once

#include "foundation/error.h"

#include <QString>

namespace tessera {

class SettingsStore;

enum class AWSConfigManagementMode
{
    off,
    native,
    granted
};

enum class AWSProfileNameSeparator
{
    preserve,
    hyphens,
    underscores
};

enum class AWSProfileNameCase
{
    preserve,
    lowercase,
    uppercase
};

// Raw values are what the settings store holds; unknown raw values fall back the way the
// settings page and account sync both expect (off, hyphens, preserve).
QString rawValue(AWSConfigManagementMode mode);
QString rawValue(AWSProfileNameSeparator separator);
QString rawValue(AWSProfileNameCase nameCase);
AWSConfigManagementMode managementModeFromRaw(const QString &raw);
AWSProfileNameSeparator nameSeparatorFromRaw(const QString &raw);
AWSProfileNameCase nameCaseFromRaw(const QString &raw);

// The settings the managed block writes as values.
enum class AWSConfigValueKind
{
    startURL,
    ssoRegion,
    cliRegion
};

// What every profile-management operation needs to know about the user's choices.
struct AWSConfigManagementSettings
{
    AWSConfigManagementMode mode = AWSConfigManagementMode::off;
    QString customPath;
    QString namingTemplate;
    QString cliRegion;
    AWSProfileNameSeparator nameSeparator = AWSProfileNameSeparator::hyphens;
    AWSProfileNameCase nameCase = AWSProfileNameCase::preserve;

    // Reads the stored profile settings; absent keys give the registered behaviour.
    static AWSConfigManagementSettings fromSettings(const SettingsStore &settings);
};

class AWSConfigManagerError : public Error
{
public:
    enum class Kind
    {
        unreadableConfig,
        malformedManagedBlock,
        conflicts,
        fileChanged,
        missingBackup,
        invalidValue
    };

    static AWSConfigManagerError unreadableConfig(const QString &path);
    static AWSConfigManagerError malformedManagedBlock();
    static AWSConfigManagerError conflicts();
    static AWSConfigManagerError fileChanged();
    static AWSConfigManagerError missingBackup();
    static AWSConfigManagerError invalidValue(AWSConfigValueKind value);

    Kind kind() const { return m_kind; }

private:
    AWSConfigManagerError(Kind kind, QString description);
    Kind m_kind;
};

} // namespace tessera
