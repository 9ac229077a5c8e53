#pragma once

// The Secret Service backend of the secure store (libsecret), and how its presence is
// detected.
#include "storage/keychain.h"

#include <cstdint>

class QDBusConnection;

namespace tessera {

// The well-known bus name every Secret Service provider (GNOME Keyring, KWallet,
// KeePassXC) owns or can be started under.
inline constexpr auto secretServiceBusName = "org.freedesktop.secrets";

// Statuses the Secret Service backend answers besides success and item-not-found. They
// reuse the numbers the secure-store statuses were modelled on, so a status in an error
// text means the same thing whichever backend produced it:
//   -50     the query named no service or account (a programming error);
//   -25291  no Secret Service could be reached on the session bus;
//   -25308  the keyring is locked and was not unlocked (no prompt possible, or dismissed);
//   -2070   any other failure reported by the Secret Service.
inline constexpr std::int32_t secretServiceStatusInvalidQuery = -50;
inline constexpr std::int32_t secretServiceStatusUnavailable = -25291;
inline constexpr std::int32_t secretServiceStatusLocked = -25308;
inline constexpr std::int32_t secretServiceStatusFailure = -2070;

// Items in the user's default Secret Service collection, identified by the attributes
// "service" and "account". Every call is asynchronous: it suspends while the keyring
// asks the user to unlock it, and the window keeps painting. The answers arrive on GLib's
// main context, so the Qt event loop must be GLib's; otherwise every call answers -25291.
KeychainSecurityOperations makeSecretServiceKeychainOperations();

// Whether a Secret Service provider owns its name on the session bus, or can be started
// by the bus on demand.
bool secretServiceAvailable();
bool secretServiceAvailable(const QDBusConnection &bus);

} // namespace tessera
