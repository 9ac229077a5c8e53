#pragma once

#include "awsconfig/awsconfigmanager.h"

#include <QFile>
#include <QString>
#include <optional>
#include <sys/stat.h>

// Shared fixtures for the config tests: a small organisation and files on disk.
namespace tessera::test {

inline const QString startURL = QStringLiteral("https://x.test/start");
inline const QString sessionName = QStringLiteral("tessera-x-test");
inline const QString ssoRegion = QStringLiteral("us-east-1");

inline QList<AWSAccount> sampleAccounts()
{
    return {
        AWSAccount{QStringLiteral("444444444444"), QStringLiteral("Taken"), {QStringLiteral("X")}},
        AWSAccount{QStringLiteral("111111111111"),
                   QStringLiteral("alpha"),
                   {QStringLiteral("Dev"), QStringLiteral("Admin")}},
        AWSAccount{
            QStringLiteral("333333333333"), QStringLiteral("Bob's"), {QStringLiteral("Admin")}},
        AWSAccount{
            QStringLiteral("222222222222"), QStringLiteral("Beta"), {QStringLiteral("Admin")}},
        AWSAccount{QStringLiteral("666666666666"), QStringLiteral("Empty"), {}},
    };
}

inline QString candidateId(const QString &accountId, const QString &role)
{
    return startURL + QLatin1Char('|') + accountId + QLatin1Char('|') + role;
}

inline void writeText(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0) {
        qFatal("could not write the test config");
    }
}

inline QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

inline mode_t modeOf(const QString &path)
{
    struct stat status = {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

inline AWSConfigManagementSettings
settingsFor(const QString &path, AWSConfigManagementMode mode = AWSConfigManagementMode::native)
{
    AWSConfigManagementSettings settings;
    settings.mode = mode;
    settings.customPath = path;
    return settings;
}

// The kind of error a call raised, or nothing when it succeeded.
template<typename Call> std::optional<AWSConfigManagerError::Kind> errorOf(Call &&call)
{
    try {
        call();
    } catch (const AWSConfigManagerError &error) {
        return error.kind();
    }
    return std::nullopt;
}

} // namespace tessera::test
