#include "awsconfig/blockrendering.h"

#include "awsconfig/configvalues.h"

#include <QLocale>
#include <QStringList>
#include <QTimeZone>

namespace tessera {

namespace {
// A setting as the block writes it; throws when it would not stay one value on one line.
QString written(AWSConfigValueKind kind, const QString &value)
{
    validateAWSConfigValue(kind, value);
    return writtenAWSConfigValue(kind, value);
}
} // namespace

QString quotedProfileName(const QString &name)
{
    for (const QChar c : name) {
        if (c.isSpace()) {
            return QLatin1Char('"') + name + QLatin1Char('"');
        }
    }
    return name;
}

QString renderProfileSection(const QString &name, const QString &accountId, const QString &role,
                             AWSConfigManagementMode mode, const QString &sessionName,
                             const QString &startURL, const QString &ssoRegion,
                             const QString &cliRegion)
{
    const QString region = written(AWSConfigValueKind::cliRegion, cliRegion);
    QStringList lines{QStringLiteral("[profile ") + quotedProfileName(name) + QLatin1Char(']')};
    switch (mode) {
    case AWSConfigManagementMode::native:
        lines << QStringLiteral("sso_session = ") + sessionName
              << QStringLiteral("sso_account_id = ") + accountId
              << QStringLiteral("sso_role_name = ") + role;
        break;
    case AWSConfigManagementMode::granted:
        lines << QStringLiteral("granted_sso_start_url = ") +
                     written(AWSConfigValueKind::startURL, startURL)
              << QStringLiteral("granted_sso_region = ") +
                     written(AWSConfigValueKind::ssoRegion, ssoRegion)
              << QStringLiteral("granted_sso_account_id = ") + accountId
              << QStringLiteral("granted_sso_role_name = ") + role
              << QStringLiteral("granted_sso_registration_scopes = sso:account:access")
              << QStringLiteral("credential_process = granted credential-process --profile ") +
                     quotedProfileName(name);
        break;
    case AWSConfigManagementMode::off:
        break;
    }
    if (!region.isEmpty()) {
        lines << QStringLiteral("region = ") + region;
    }
    return lines.join(QLatin1Char('\n'));
}

QString renderSessionSection(const QString &sessionName, const QString &startURL,
                             const QString &ssoRegion)
{
    return QStringList{
        QStringLiteral("[sso-session ") + sessionName + QLatin1Char(']'),
        QStringLiteral("sso_start_url = ") + written(AWSConfigValueKind::startURL, startURL),
        QStringLiteral("sso_region = ") + written(AWSConfigValueKind::ssoRegion, ssoRegion),
        QStringLiteral("sso_registration_scopes = sso:account:access")}
        .join(QLatin1Char('\n'));
}

QString blockHeaderTimestamp(const QDateTime &now)
{
    // Loading a zone reads the tz database; it does not change while the program runs.
    static const QTimeZone zone = [] {
        const QTimeZone losAngeles(QByteArrayLiteral("America/Los_Angeles"));
        return losAngeles.isValid() ? losAngeles : QTimeZone::systemTimeZone();
    }();
    const QDateTime local = now.toTimeZone(zone);
    return QLocale::c().toString(local, QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(' ') +
           zone.abbreviation(local);
}

QString renderBlockBody(const QString &content, const std::optional<QString> &currentBody,
                        const QString &newline, const QDateTime &now)
{
    const QLatin1String prefix(blockHeaderPrefix);
    QString oldHeader;
    bool hasOldHeader = false;
    QStringList oldLines;
    const QStringList currentLines = QString(currentBody.value_or(QString()))
                                         .replace(QLatin1String("\r\n"), QLatin1String("\n"))
                                         .split(QLatin1Char('\n'));
    for (const QString &line : currentLines) {
        if (!hasOldHeader && line.startsWith(prefix)) {
            oldHeader = line;
            hasOldHeader = true;
        } else {
            oldLines.append(line);
        }
    }
    const QString oldContent = oldLines.join(QLatin1Char('\n')).trimmed();
    const QString newContent =
        QString(content).replace(QLatin1String("\r\n"), QLatin1String("\n")).trimmed();

    const QString header =
        hasOldHeader && oldContent == newContent ? oldHeader : prefix + blockHeaderTimestamp(now);
    if (newContent.isEmpty()) {
        return header;
    }
    return header + newline + newline + QString(newContent).replace(QLatin1Char('\n'), newline);
}

} // namespace tessera
