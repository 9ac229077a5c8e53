#pragma once

#include "storage/keychain.h"

namespace tessera {

// The fallback secure store for sessions without a Secret Service: one file per item,
// mode 0600, in a private 0700 folder. Only as safe as the user's account, which is why
// it is used only when nothing better exists.
KeychainSecurityOperations makeFileKeychainOperations(const QString &folder);

// "secrets" inside the support folder.
QString defaultFileKeychainFolder();

// Status answered for an I/O failure of the file store.
inline constexpr std::int32_t fileKeychainIOFailure = -36;

} // namespace tessera
