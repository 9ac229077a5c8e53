#include "storage/filekeychain.h"

#include "storage/supportfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tessera {

namespace {
constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Service and account become the file name; anything outside a safe alphabet is
// percent-encoded so that an account name can never escape the folder.
QString itemPath(const QString &folder, const QVariantMap &query)
{
    const QByteArray service =
        query.value(QLatin1String(keychainattr::service)).toString().toUtf8();
    const QByteArray account =
        query.value(QLatin1String(keychainattr::account)).toString().toUtf8();
    return folder + QLatin1Char('/') + QString::fromLatin1(service.toPercentEncoding()) +
           QLatin1Char('.') + QString::fromLatin1(account.toPercentEncoding()) +
           QStringLiteral(".secret");
}

bool ensureFolder(const QString &folder)
{
    // Created with its final mode, so that it is not open to others even for a moment;
    // the mode is corrected only where a umask took owner bits away or the folder
    // already existed with another.
    if (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (!QDir().mkpath(parent) ||
            (!QDir().mkdir(folder, ownerOnlyFolder) && !QFileInfo(folder).isDir())) {
            return false;
        }
    }
    // Owner, group and others; Qt repeats the owner's bits as the "user" ones.
    const QFileDevice::Permissions unixBits = QFileDevice::Permissions(0x7077);
    if ((QFile::permissions(folder) & unixBits) == ownerOnlyFolder) {
        return true;
    }
    return QFile::setPermissions(folder, ownerOnlyFolder);
}

std::int32_t writeItem(const QString &path, const QByteArray &data)
{
    try {
        writeFileAtomically(path, data, ownerOnlyFile);
        return keychainStatusSuccess;
    } catch (const FileError &) {
        return fileKeychainIOFailure;
    }
}
} // namespace

QString defaultFileKeychainFolder()
{
    return namedSupportFileURL(QStringLiteral("secrets"));
}

KeychainSecurityOperations makeFileKeychainOperations(const QString &folder)
{
    ImmediateKeychainOperations ops;
    ops.copyMatching = [folder](const QVariantMap &query) {
        const QString path = itemPath(folder, query);
        if (!QFileInfo::exists(path)) {
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return KeychainCopyResult{fileKeychainIOFailure, std::nullopt};
        }
        return KeychainCopyResult{keychainStatusSuccess, QVariant(file.readAll())};
    };
    ops.update = [folder](const QVariantMap &query, const QVariantMap &attributes) {
        const QString path = itemPath(folder, query);
        if (!QFileInfo::exists(path)) {
            return keychainStatusItemNotFound;
        }
        return writeItem(path,
                         attributes.value(QLatin1String(keychainattr::valueData)).toByteArray());
    };
    ops.add = [folder](const QVariantMap &attributes) {
        if (!ensureFolder(folder)) {
            return fileKeychainIOFailure;
        }
        return writeItem(itemPath(folder, attributes),
                         attributes.value(QLatin1String(keychainattr::valueData)).toByteArray());
    };
    ops.remove = [folder](const QVariantMap &query) {
        const QString path = itemPath(folder, query);
        if (!QFileInfo::exists(path)) {
            return keychainStatusItemNotFound;
        }
        return QFile::remove(path) ? keychainStatusSuccess : fileKeychainIOFailure;
    };
    ops.storeDescription = QStringLiteral("a private file store in ") + folder;
    ops.describeFailure = [folder](std::int32_t) -> QString {
        return QStringLiteral("Tessera could not read or write its private file store in ") +
               folder +
               QStringLiteral(" (used because no Secret Service such as GNOME Keyring or "
                              "KWallet is running)");
    };
    return answeredAtOnce(std::move(ops));
}

} // namespace tessera
