#pragma once

#include "storage/records.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <optional>

namespace tessera {

// Raised when a file in the support folder cannot be located, read or written.
class FileError;

// "Tessera" in the user's data directory ($XDG_DATA_HOME, usually ~/.local/share),
// created with its parents. Throws FileError when it cannot be produced.
QString supportFolderPath();
QString supportFolderFileURL(const QString &fileName);
// The same folder, best effort: a failure to create it is logged, and left to whoever
// writes there.
QString namedSupportFileURL(const QString &fileName);

// Reads a whole file. std::nullopt when the file does not exist; FileError for any other
// failure (a directory, no permission, an I/O error).
std::optional<QByteArray> readFileIfPresent(const QString &path);
// Replaces the file in one step (temporary file, then rename). With `permissions` set,
// the new file gets exactly those bits; otherwise an existing file keeps its own.
void writeFileAtomically(const QString &path, const QByteArray &data,
                         std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// The saved records; std::nullopt when the file does not exist yet (a first start is not a
// failure). FileError or DecodingError when it exists but cannot be read.
std::optional<AccountCache> loadAccountCache();
void saveAccountCache(const AccountCache &cache);
std::optional<Organization> loadOrganization(const std::optional<QString> &fileURL = std::nullopt);
void saveOrganization(const Organization &organization,
                      const std::optional<QString> &fileURL = std::nullopt);

inline constexpr auto accountCacheFileName = "accounts.json";
inline constexpr auto organizationFileName = "organization.json";

} // namespace tessera

#include "foundation/error.h"

namespace tessera {
class FileError : public Error
{
public:
    using Error::Error;
};
} // namespace tessera
