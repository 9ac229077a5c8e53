#include "core/foundation/sleep.h"

#include "core/foundation/asyncevent.h"
#include "core/foundation/error.h"

#include <QTimer>
#include <limits>
#include <memory>

namespace tessera {

namespace {
// QTimer takes an int of milliseconds; longer waits are made of several legs.
constexpr std::chrono::milliseconds longestTimerLeg{std::numeric_limits<int>::max() / 2};

// The timer may be released while its timeout is being delivered (the sleeper resumes
// synchronously from it) or while the sleeper's frame is destroyed mid-wait, so it is
// silenced at once and deleted from the event loop.
struct LaterDeleter
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
        std::unique_ptr<QTimer, LaterDeleter> timer(new QTimer());
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(leg);
        // Cancellation fires the timer at once; the check below turns that into the error.
        token.onCancelled(timer.get(), [t = timer.get()] { t->setInterval(0), t->start(); });
        // Awaiting the signal through qCoro() would bind a reference to the null
        // QPrivateSignal argument Qt passes, which is undefined behaviour.
        AsyncEvent fired;
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [&fired] { fired.set(); });
        timer->start();
        co_await fired;
        token.throwIfCancelled();
        remaining -= leg;
    } while (remaining > std::chrono::milliseconds{0});
}

} // namespace tessera
