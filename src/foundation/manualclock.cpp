#include "foundation/manualclock.h"

#include "foundation/asyncevent.h"
#include "foundation/error.h"

#include <algorithm>

namespace tessera {

struct ManualClock::Sleeper : QObject
{
    std::chrono::milliseconds deadline{0};
    AsyncEvent wake;
};

ManualClock::ManualClock(QDateTime start)
    : m_origin(std::chrono::steady_clock::time_point{} + std::chrono::hours(24))
    , m_start(std::move(start))
{}

Clock::time_point ManualClock::now() const
{
    return m_origin + m_offset;
}

QDateTime ManualClock::currentDateTime() const
{
    return m_start.addMSecs(m_offset.count());
}

QCoro::Task<void> ManualClock::sleep(std::chrono::milliseconds duration, CancellationToken token)
{
    token.throwIfCancelled();
    m_requested.push_back(duration);
    auto sleeper = std::make_shared<Sleeper>();
    sleeper->deadline = m_offset + std::max(duration, std::chrono::milliseconds{0});
    m_sleepers.push_back(sleeper);
    Q_EMIT sleepStarted(duration);
    token.onCancelled(sleeper.get(), [this, raw = sleeper.get()] {
        auto keep = std::find_if(m_sleepers.begin(), m_sleepers.end(),
                                 [raw](const auto &s) { return s.get() == raw; });
        if (keep != m_sleepers.end()) {
            auto alive = *keep;
            m_sleepers.erase(keep);
            alive->wake.set();
        }
    });
    co_await sleeper->wake;
    token.throwIfCancelled();
}

void ManualClock::advance(std::chrono::milliseconds by)
{
    const auto target = m_offset + by;
    while (true) {
        auto next = std::min_element(
            m_sleepers.begin(), m_sleepers.end(),
            [](const auto &a, const auto &b) { return a->deadline < b->deadline; });
        if (next == m_sleepers.end() || (*next)->deadline > target) {
            break;
        }
        auto sleeper = *next;
        m_sleepers.erase(next);
        m_offset = std::max(m_offset, sleeper->deadline);
        sleeper->wake.set();
    }
    m_offset = target;
}

bool ManualClock::advanceToNextDeadline()
{
    if (m_sleepers.empty()) {
        return false;
    }
    auto next =
        std::min_element(m_sleepers.begin(), m_sleepers.end(),
                         [](const auto &a, const auto &b) { return a->deadline < b->deadline; });
    advance(std::max((*next)->deadline - m_offset, std::chrono::milliseconds{0}));
    return true;
}

int ManualClock::pendingSleepers() const
{
    return static_cast<int>(m_sleepers.size());
}

} // namespace tessera
