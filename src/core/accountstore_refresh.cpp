// Proactive token refresh, its retries and the expiry step.
#include "core/accountstore.h"

namespace tessera {

void AccountStore::scheduleProactiveRefresh() {}
void AccountStore::scheduleTokenStep(TokenRefreshPolicy::Action) {}
QCoro::Task<bool> AccountStore::refreshAccessToken()
{
    co_return false;
}
QCoro::Task<void> AccountStore::runTokenStep(QPointer<AccountStore>, TokenRefreshScheduler,
                                             TokenRefreshPolicy::Action, int, CancellationToken)
{
    co_return;
}
QCoro::Task<bool> AccountStore::runRefresh(QPointer<AccountStore>, SSOToken, ClientRegistration,
                                           CancellationToken)
{
    co_return false;
}

} // namespace tessera
