#pragma once

#include <QCoroTask> // brings <coroutine> in a form moc can read
#include <vector>

namespace tessera {

// A one-shot event that coroutines can wait for. set() resumes every waiter at once,
// synchronously and in the order they began waiting, so state changes made by the
// setter are seen immediately. Main thread only; a set event never waits again.
class AsyncEvent
{
public:
    AsyncEvent() = default;
    AsyncEvent(const AsyncEvent &) = delete;
    AsyncEvent &operator=(const AsyncEvent &) = delete;

    bool isSet() const { return m_set; }

    void set()
    {
        if (m_set) {
            return;
        }
        m_set = true;
        // A resumed waiter may destroy this event; work from a local copy.
        auto waiters = std::move(m_waiters);
        m_waiters.clear();
        for (auto waiter : waiters) {
            waiter.resume();
        }
    }

    struct Awaiter
    {
        AsyncEvent &event;
        bool await_ready() const noexcept { return event.m_set; }
        void await_suspend(std::coroutine_handle<> waiter) { event.m_waiters.push_back(waiter); }
        void await_resume() const noexcept {}
    };

    Awaiter operator co_await() noexcept { return Awaiter{*this}; }

private:
    bool m_set = false;
    std::vector<std::coroutine_handle<>> m_waiters;
};

} // namespace tessera
