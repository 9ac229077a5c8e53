#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringView>
#include <functional>

namespace tessera {

// An atomic write that is killed between writing its temporary file and renaming it over
// the target leaves the temporary behind: the target's name, a dot and six random ASCII
// letters (the names QSaveFile gives them). Nothing reads such a file again, and one of
// the secure store's may hold a token, so they are removed at start-up.

// Whether `fileName` has the form of a temporary of `targetName`.
bool isInterruptedWriteOf(QStringView fileName, QStringView targetName);

// Removes the regular files in `folder` that are this user's and that `isLeftover`
// accepts (symbolic links never), logging each. Answers how many went.
int removeInterruptedWrites(const QString &folder,
                            const std::function<bool(const QFileInfo &)> &isLeftover);

// The temporaries of the support folder's JSON files and of the private file store's
// items in `secretsFolder`. Both folders hold only Tessera's own files.
void removeInterruptedSupportFileWrites(const QString &secretsFolder);

} // namespace tessera
