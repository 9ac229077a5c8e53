#include "foundation/logging.h"
#include "platform/linux/xdgautostartentry.h"
#include "storage/supportfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tessera {

namespace {
const QString entryFileName = QStringLiteral("tessera.desktop");

// Desktop entry Exec values quote arguments containing reserved characters.
QString quotedExec(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : path) {
        needsQuotes = needsQuotes || reserved.contains(c);
    }
    if (!needsQuotes) {
        return path;
    }
    QString escaped = path;
    for (const auto *special : {"\\", "\"", "`", "$"}) {
        escaped.replace(QLatin1String(special), QLatin1String("\\") + QLatin1String(special));
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}
bool fail(QString *failure, const QString &description)
{
    if (failure) {
        *failure = description;
    }
    return false;
}
} // namespace

XdgAutostartEntry::XdgAutostartEntry(QString executable)
    : m_executable(executable.isEmpty() ? QCoreApplication::applicationFilePath()
                                        : std::move(executable))
{}

QString XdgAutostartEntry::entryPath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + entryFileName;
}

LoginItem::Status XdgAutostartEntry::status() const
{
    const QString path = entryPath();
    if (!QFileInfo::exists(path)) {
        return Status::notRegistered;
    }
    // A user may keep the file but switch it off, as desktop settings panels do.
    QSettings entry(path, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const bool switchedOff =
        entry.value(QStringLiteral("Hidden")).toString() == QLatin1String("true") ||
        entry.value(QStringLiteral("X-GNOME-Autostart-enabled")).toString() ==
            QLatin1String("false");
    return switchedOff ? Status::notRegistered : Status::enabled;
}

bool XdgAutostartEntry::enable(QString *failure) const
{
    const QString path = entryPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcPersistence).noquote() << "Could not create the autostart folder" << folder;
        return fail(failure, QStringLiteral("The folder “%1” could not be created.").arg(folder));
    }
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Tessera\n"
                                        "Comment=AWS accounts and roles from the system tray\n"
                                        "Exec=%1\n"
                                        "Icon=tessera\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(quotedExec(m_executable));
    try {
        writeFileAtomically(path, text.toUtf8());
    } catch (const FileError &error) {
        qCWarning(lcPersistence).noquote()
            << "Could not write the autostart entry:" << error.description();
        return fail(
            failure,
            QStringLiteral("“%1” could not be written (%2).").arg(path, error.description()));
    }
    return true;
}

bool XdgAutostartEntry::disable(QString *failure) const
{
    QFile file(entryPath());
    if (!file.exists() || file.remove()) {
        return true;
    }
    qCWarning(lcPersistence).noquote()
        << "Could not remove the autostart entry:" << file.errorString();
    return fail(
        failure,
        QStringLiteral("“%1” could not be removed (%2).").arg(file.fileName(), file.errorString()));
}

std::shared_ptr<LoginItem> makeLoginItem()
{
    return std::make_shared<XdgAutostartEntry>();
}

} // namespace tessera
