#include "storage/supportfiles.h"

#include "foundation/logging.h"
#include "storage/recordcoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace tessera {

namespace {
QString dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString fileDisplayName(const QString &path)
{
    return QFileInfo(path).fileName();
}
} // namespace

QString supportFolderPath()
{
    const QString base = dataDirectory();
    if (base.isEmpty()) {
        throw FileError(QStringLiteral("Tessera could not find your data folder."));
    }
    const QString folder = base + QStringLiteral("/Tessera");
    if (!QDir().mkpath(folder)) {
        throw FileError(QStringLiteral("The folder “Tessera” couldn’t be created in ") + base +
                        QStringLiteral("."));
    }
    return folder;
}

QString supportFolderFileURL(const QString &fileName)
{
    return supportFolderPath() + QLatin1Char('/') + fileName;
}

QString namedSupportFileURL(const QString &fileName)
{
    QString base = dataDirectory();
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.local/share");
    }
    const QString folder = base + QStringLiteral("/Tessera");
    if (!QDir().mkpath(folder)) {
        // Whoever uses the path reports the failure to write there.
        qCWarning(lcPersistence).noquote() << "Could not create the folder" << folder;
    }
    return folder + QLatin1Char('/') + fileName;
}

std::optional<QByteArray> readFileIfPresent(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        return std::nullopt;
    }
    if (info.isDir()) {
        throw FileError(QStringLiteral("The file “") + fileDisplayName(path) +
                        QStringLiteral("” couldn’t be opened because it is a folder."));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) {
            return std::nullopt;
        }
        throw FileError(QStringLiteral("The file “") + fileDisplayName(path) +
                        QStringLiteral("” couldn’t be opened: ") + file.errorString());
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw FileError(QStringLiteral("The file “") + fileDisplayName(path) +
                        QStringLiteral("” couldn’t be read: ") + file.errorString());
    }
    return data;
}

void writeFileAtomically(const QString &path, const QByteArray &data,
                         std::optional<QFileDevice::Permissions> permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileError(QStringLiteral("The file “") + fileDisplayName(path) +
                        QStringLiteral("” couldn’t be saved: ") + file.errorString());
    }
    // A secret must never be written under looser permissions than asked for.
    if (permissions && !file.setPermissions(*permissions)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileError(QStringLiteral("The file “") + fileDisplayName(path) +
                        QStringLiteral("” couldn’t be saved: ") + reason);
    }
    // QSaveFile::commit() does not report a failure of the final flush of its buffer, so
    // a full disk (or a file-size limit) would leave a cut-off file in place of the old one
    // while the write looks successful. Flushing first makes every short write an error,
    // and cancelWriting() then keeps the old file.
    if (file.write(data) != data.size() || !file.flush() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileError(QStringLiteral("The file “") + fileDisplayName(path) +
                        QStringLiteral("” couldn’t be saved: ") + reason);
    }
}

std::optional<AccountCache> loadAccountCache()
{
    const QString path = supportFolderFileURL(QLatin1String(accountCacheFileName));
    const auto bytes = readFileIfPresent(path);
    if (!bytes) {
        return std::nullopt;
    }
    return decodeAccountCache(*bytes);
}

void saveAccountCache(const AccountCache &cache)
{
    writeFileAtomically(supportFolderFileURL(QLatin1String(accountCacheFileName)),
                        encodeAccountCache(cache));
}

std::optional<Organization> loadOrganization(const std::optional<QString> &fileURL)
{
    const QString path =
        fileURL ? *fileURL : supportFolderFileURL(QLatin1String(organizationFileName));
    const auto bytes = readFileIfPresent(path);
    if (!bytes) {
        return std::nullopt;
    }
    return decodeOrganization(*bytes);
}

void saveOrganization(const Organization &organization, const std::optional<QString> &fileURL)
{
    const QString path =
        fileURL ? *fileURL : supportFolderFileURL(QLatin1String(organizationFileName));
    writeFileAtomically(path, encodeOrganization(organization));
}

} // namespace tessera
