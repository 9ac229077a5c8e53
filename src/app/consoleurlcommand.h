#pragma once

#include "storage/records.h"
#include "storage/settingsstore.h"

#include <QStringList>
#include <QUrl>
#include <variant>

namespace tessera {

// The console link for `tessera --print-console-url ACCOUNT ROLE [SERVICE] [REGION]`,
// built as the menu builds it: the start URL and regions from the settings, the account's
// own console region from the organization unless REGION is given, the console's home
// page unless SERVICE names a catalog service. The error text when it cannot be built.
std::variant<QUrl, QString> commandLineConsoleLink(const SettingsStore &settings,
                                                   const Organization &organization,
                                                   const QStringList &arguments);

// Reads the user's settings and organization, prints the link on standard output or the
// error on standard error; the process's exit code.
int printConsoleLink(const QStringList &arguments);

} // namespace tessera
