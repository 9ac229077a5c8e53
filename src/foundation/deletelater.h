#pragma once

#include <memory>

namespace tessera {

// Shared ownership of a QObject whose last owner may let go of it from inside one of the
// object's own signals: it is then deleted from the event loop, not on the spot.
template<typename T> std::shared_ptr<T> sharedDeletedLater(T *object)
{
    return std::shared_ptr<T>(object, [](T *owned) { owned->deleteLater(); });
}

} // namespace tessera
