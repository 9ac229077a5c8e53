#pragma once

#include "foundation/cancellation.h"

#include <QCoroTask>
#include <chrono>

namespace tessera {

// Suspends the calling coroutine for `duration` on Qt's monotonic timer. Wakes early and
// throws CancelledError when `token` is cancelled (also when it already is).
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancellationToken token = {});

} // namespace tessera
