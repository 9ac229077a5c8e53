// Console regions per account and the access portal's console deep links.
#include "accounts/accountstore.h"
#include "catalog/consolelink.h"
#include "storage/settings.h"

#include <QCoreApplication>

namespace tessera {

QString AccountStore::consoleRegionForAccount(const QString &accountId) const
{
    return accountConsoleRegion(m_organization, *m_defaults, accountId);
}

QString accountConsoleRegion(const Organization &organization, const SettingsStore &settings,
                             const QString &accountId)
{
    const auto override = organization.accountConsoleRegions.constFind(accountId);
    const std::optional<QString> first = override != organization.accountConsoleRegions.cend()
                                             ? std::optional(override.value())
                                             : std::nullopt;
    const QSet<QString> disabled(organization.disabledConsoleRegionIds.cbegin(),
                                 organization.disabledConsoleRegionIds.cend());
    return resolveConsoleRegion(first, configuredDefaultConsoleRegion(settings),
                                configuredSSORegion(settings), disabled);
}

std::optional<QUrl> AccountStore::consoleLink(const AWSAccount &account, const QString &roleName,
                                              const std::optional<ConsoleService> &service) const
{
    const ConsoleService &target = service ? *service : consoleHome();
    const auto destination = target.urlForRegion(consoleRegionForAccount(account.accountId));
    if (!destination) {
        return std::nullopt;
    }
    return consoleDeepLink(normalizedStartURL(*m_defaults), account.accountId, roleName,
                           *destination);
}

QString startURLMissingMessage()
{
    return QStringLiteral("Set your access portal URL in Settings first.");
}

void AccountStore::startURLSaved()
{
    if (m_errorMessage == startURLMissingMessage() &&
        isUsableStartURL(normalizedStartURL(*m_defaults))) {
        setErrorMessage(std::nullopt);
    }
}

bool AccountStore::openConsole(const AWSAccount &account, const QString &roleName,
                               const std::optional<ConsoleService> &service, QUrl *unopenedLink)
{
    if (!isUsableStartURL(normalizedStartURL(*m_defaults))) {
        setErrorMessage(startURLMissingMessage());
        return false;
    }
    const auto link = consoleLink(account, roleName, service);
    if (!link) {
        setErrorMessage(QStringLiteral("Could not create the AWS console link."));
        return false;
    }
    setErrorMessage(std::nullopt);
    if (!m_openURL || !m_openURL(*link)) {
        //: Shown when the desktop refused to open the console link in a browser.
        setErrorMessage(qtTrId("Tessera could not open the AWS console link."));
        if (unopenedLink) {
            *unopenedLink = *link;
        }
        return false;
    }
    return true;
}

} // namespace tessera
