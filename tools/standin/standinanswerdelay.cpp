#include "standinanswerdelay.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace tessera::standin {

namespace {
constexpr double nsPerMs = 1e6;
constexpr double latenessWeight = 0.05; // how quickly a new lateness replaces the old
constexpr double longestLatenessMs = 5; // more than this is a stall, not a timer's habit
} // namespace

AnswerDelay::AnswerDelay()
{
    m_clock.start();
}

void AnswerDelay::schedule(std::chrono::milliseconds latency, qint64 arrivalNs,
                           const QObject *context, std::function<void()> deliver)
{
    const double spentMs = double(m_clock.nsecsElapsed() - arrivalNs) / nsPerMs;
    const double aimMs =
        std::max(0.0, double(latency.count()) - spentMs - m_latenessMs + m_carriedMs);
    const double wholeMs = std::floor(aimMs);
    m_carriedMs = aimMs - wholeMs;
    const qint64 armedNs = m_clock.nsecsElapsed();
    QTimer::singleShot(std::chrono::milliseconds(qint64(wholeMs)), Qt::PreciseTimer, context,
                       [this, armedNs, wholeMs, deliver = std::move(deliver)] {
                           const double firedAfterMs =
                               double(m_clock.nsecsElapsed() - armedNs) / nsPerMs;
                           const double lateness =
                               std::clamp(firedAfterMs - wholeMs, 0.0, longestLatenessMs);
                           m_latenessMs += latenessWeight * (lateness - m_latenessMs);
                           deliver();
                       });
}

} // namespace tessera::standin
