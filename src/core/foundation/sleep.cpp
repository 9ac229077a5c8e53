#include "core/foundation/sleep.h"

#include "core/foundation/error.h"

#include <QCoroTimer>
#include <QTimer>
#include <limits>
#include <memory>

namespace tessera {

namespace {
// QTimer takes an int of milliseconds; longer waits are made of several legs.
constexpr std::chrono::milliseconds longestTimerLeg{std::numeric_limits<int>::max() / 2};
} // namespace

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancellationToken token)
{
    token.throwIfCancelled();
    auto remaining = std::max(duration, std::chrono::milliseconds{0});
    do {
        const auto leg = std::min(remaining, longestTimerLeg);
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(leg);
        // Cancellation fires the timer at once; the check below turns that into the error.
        token.onCancelled(timer.get(), [t = timer.get()] { t->setInterval(0), t->start(); });
        timer->start();
        // The timer awaiter, not the generic signal one: QTimer::timeout carries a private
        // tag argument that the generic one binds to a null reference.
        co_await *timer;
        token.throwIfCancelled();
        remaining -= leg;
    } while (remaining > std::chrono::milliseconds{0});
}

} // namespace tessera
