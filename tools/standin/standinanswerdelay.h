#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <chrono>
#include <functional>

namespace tessera::standin {

// Holds answers back by an injected latency that is met on average, not only as a
// minimum. A timer fires a little after it is due (the event loop has other work, the
// thread has to be woken), by a fraction of a millisecond that adds up over a benchmark
// of thousands of answers. So the delay learns how late its timers fire and aims that
// much earlier; whole-millisecond timers carry the fraction over to the next answer.
class AnswerDelay
{
public:
    AnswerDelay();

    // Calls `deliver` on `context`'s thread `latency` after `arrivalNs` (a time on
    // clock()), unless `context` is destroyed first.
    void schedule(std::chrono::milliseconds latency, qint64 arrivalNs, const QObject *context,
                  std::function<void()> deliver);

    const QElapsedTimer &clock() const { return m_clock; }

private:
    QElapsedTimer m_clock;
    double m_latenessMs = 0; // how late timers have fired lately
    double m_carriedMs = 0;  // what whole-millisecond timers left over
};

} // namespace tessera::standin
