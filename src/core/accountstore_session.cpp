// Sign-in, session rules and sign-out.
#include "core/accountstore.h"

namespace tessera {

void AccountStore::signIn() {}
void AccountStore::signOut() {}
void AccountStore::cancelSignIn() {}
bool AccountStore::openVerificationURL(const QString &)
{
    return false;
}
QCoro::Task<std::optional<QString>> AccountStore::validAccessToken()
{
    co_return std::nullopt;
}
void AccountStore::applyToken(std::optional<SSOToken>) {}
bool AccountStore::clearStoredToken()
{
    return false;
}
void AccountStore::expireSession() {}
QCoro::Task<void> AccountStore::runSignIn(QPointer<AccountStore>, QString, QString,
                                          CancellationToken)
{
    co_return;
}

} // namespace tessera
