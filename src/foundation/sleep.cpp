#include "foundation/sleep.h"

#include "foundation/asyncevent.h"
#include "foundation/error.h"

#include <QTimer>
#include <limits>
#include <memory>

namespace tessera {

namespace {
// QTimer takes an int of milliseconds; longer waits are made of several legs.
constexpr std::chrono::milliseconds longestTimerLeg{std::numeric_limits<int>::max() / 2};

// The timer may be released while its timeout is being delivered (the sleeper resumes
// synchronously from it), so it is silenced at once and deleted from the event loop.
struct DeleteLater
{
    void operator()(QTimer *timer) const
    {
        timer->stop();
        timer->disconnect();
        timer->deleteLater();
    }
};
} // namespace

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, CancellationToken token)
{
    token.throwIfCancelled();
    auto remaining = std::max(duration, std::chrono::milliseconds{0});
    do {
        const auto leg = std::min(remaining, longestTimerLeg);
        // The waiter resumes inside the timer's signal, so the timer outlives this leg,
        // and the wake-up event outlives the coroutine should cancellation come late.
        std::unique_ptr<QTimer, DeleteLater> timer(new QTimer);
        auto wake = std::make_shared<AsyncEvent>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [wake] { wake->set(); });
        token.onCancelled(timer.get(), [wake] { wake->set(); });
        timer->start(leg);
        co_await *wake;
        token.throwIfCancelled();
        remaining -= leg;
    } while (remaining > std::chrono::milliseconds{0});
}

} // namespace tessera
