#include "app/consoleurlcommand.h"

#include "accounts/accountstore.h"
#include "catalog/consolecatalog.h"
#include "catalog/consolelink.h"
#include "foundation/error.h"
#include "foundation/logging.h"
#include "storage/settings.h"
#include "storage/supportfiles.h"

#include <cstdio>

namespace tessera {

namespace {

std::optional<ConsoleService> serviceNamed(const QString &name)
{
    if (name.compare(consoleHome().name, Qt::CaseInsensitive) == 0) {
        return consoleHome();
    }
    for (const ConsoleService &service : consoleServiceCatalog()) {
        if (service.name.compare(name, Qt::CaseInsensitive) == 0) {
            return service;
        }
    }
    return std::nullopt;
}

Organization savedOrganization()
{
    try {
        if (auto organization = loadOrganization()) {
            return *std::move(organization);
        }
    } catch (const Error &error) {
        // The link can still be built from the settings; the account's own region is lost.
        qCWarning(lcPersistence).noquote()
            << "Organization persistence failed:" << error.description();
    }
    return {};
}

} // namespace

std::variant<QUrl, QString> commandLineConsoleLink(const SettingsStore &settings,
                                                   const Organization &organization,
                                                   const QStringList &arguments)
{
    const QString accountId = arguments.value(0).trimmed();
    const QString roleName = arguments.value(1).trimmed();
    const QString serviceName = arguments.value(2).trimmed();
    const QString regionText = arguments.value(3).trimmed();

    const QString startURL = normalizedStartURL(settings);
    if (!isUsableStartURL(startURL)) {
        return QStringLiteral("Set your access portal URL in Settings first.");
    }
    if (accountId.isEmpty() || roleName.isEmpty()) {
        return QStringLiteral("Name an account id and a role.");
    }
    const auto service = serviceName.isEmpty() ? consoleHome() : serviceNamed(serviceName);
    if (!service) {
        return QStringLiteral("“%1” is not a console service Tessera knows.").arg(serviceName);
    }
    QString region = accountConsoleRegion(organization, settings, accountId);
    if (!regionText.isEmpty()) {
        if (!isValidRegionId(regionText)) {
            return QStringLiteral("“%1” is not a valid AWS region.").arg(regionText);
        }
        region = normalizedRegionId(regionText);
    }
    const auto destination = service->urlForRegion(region);
    const auto link =
        destination ? consoleDeepLink(startURL, accountId, roleName, *destination) : std::nullopt;
    if (!link) {
        return QStringLiteral("Could not create the AWS console link.");
    }
    return *link;
}

int printConsoleLink(const QStringList &arguments)
{
    QSettingsStore settings;
    registerTesseraDefaults(settings);
    const auto result = commandLineConsoleLink(settings, savedOrganization(), arguments);
    if (const auto *error = std::get_if<QString>(&result)) {
        std::fprintf(stderr, "tessera: %s\n", qPrintable(*error));
        return 1;
    }
    std::printf("%s\n", std::get<QUrl>(result).toEncoded().constData());
    return 0;
}

} // namespace tessera
