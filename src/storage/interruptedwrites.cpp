#include "storage/interruptedwrites.h"

#include "foundation/logging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <unistd.h>

namespace tessera {

namespace {
constexpr qsizetype randomSuffixLength = 6;

bool isASCIILetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The name `fileName` had before an interrupted write gave it its random suffix, or an
// empty view when it has none.
QStringView targetNameOf(QStringView fileName)
{
    const qsizetype dot = fileName.size() - randomSuffixLength - 1;
    if (dot < 1 || fileName[dot] != u'.') {
        return {};
    }
    for (QChar c : fileName.sliced(dot + 1)) {
        if (!isASCIILetter(c)) {
            return {};
        }
    }
    return fileName.first(dot);
}
} // namespace

bool isInterruptedWriteOf(QStringView fileName, QStringView targetName)
{
    return !targetName.isEmpty() && targetNameOf(fileName) == targetName;
}

int removeInterruptedWrites(const QString &folder,
                            const std::function<bool(const QFileInfo &)> &isLeftover)
{
    int removed = 0;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() || !entry.isFile() || entry.ownerId() != ::geteuid() ||
            !isLeftover(entry)) {
            continue;
        }
        if (QFile::remove(entry.filePath())) {
            qCInfo(lcPersistence).noquote()
                << "Removed" << entry.filePath() << "left by an interrupted write";
            ++removed;
        } else {
            qCWarning(lcPersistence).noquote()
                << "Could not remove" << entry.filePath() << "left by an interrupted write";
        }
    }
    return removed;
}

void removeInterruptedSupportFileWrites(const QString &secretsFolder)
{
    const auto leftoverWithExtension = [](QLatin1String extension) {
        return [extension](const QFileInfo &entry) {
            const QStringView target = targetNameOf(entry.fileName());
            return target.size() > extension.size() && target.endsWith(extension);
        };
    };
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty()) {
        removeInterruptedWrites(data + QStringLiteral("/Tessera"),
                                leftoverWithExtension(QLatin1String(".json")));
    }
    removeInterruptedWrites(secretsFolder, leftoverWithExtension(QLatin1String(".secret")));
}

} // namespace tessera
