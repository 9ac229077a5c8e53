#pragma once

#include "storage/keychain.h"

namespace tessera {

// The secure store Tessera uses: the Secret Service where one exists, otherwise private
// 0600 files in the data folder. `storeDescription` tells the user which.
KeychainSecurityOperations productionKeychainOperations();

} // namespace tessera
