// Account sync and the auto-sync timer.
#include "core/accountstore.h"

namespace tessera {

QCoro::Task<void> AccountStore::sync()
{
    co_return;
}
void AccountStore::configureSyncTimer() {}
QCoro::Task<void> AccountStore::runSync(QPointer<AccountStore>, CancellationToken)
{
    co_return;
}
QCoro::Task<void> AccountStore::performSync(CancellationToken)
{
    co_return;
}

} // namespace tessera
