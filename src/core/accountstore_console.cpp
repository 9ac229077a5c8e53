// Console regions per account and the access portal's console deep links.
#include "core/accountstore.h"

namespace tessera {

QString AccountStore::consoleRegionForAccount(const QString &) const
{
    return {};
}
std::optional<QUrl> AccountStore::consoleLink(const AWSAccount &, const QString &,
                                              const std::optional<ConsoleService> &) const
{
    return std::nullopt;
}
bool AccountStore::openConsole(const AWSAccount &, const QString &,
                               const std::optional<ConsoleService> &)
{
    return false;
}

} // namespace tessera
