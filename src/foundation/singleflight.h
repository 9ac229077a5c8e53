#pragma once

#include "foundation/taskhandle.h"

#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

// Holds at most one running task, so that concurrent callers share one run: a caller
// that arrives while a task runs waits for that task instead of starting another.
// Main thread only. Destroying the holder cancels the running task.
template<typename T = void> class MainActorSingleFlightTask
{
public:
    using Factory = std::function<QCoro::Task<T>(CancellationToken)>;

    struct Current
    {
        QUuid id;
        TaskHandle<T> task;
    };

    MainActorSingleFlightTask() = default;
    MainActorSingleFlightTask(const MainActorSingleFlightTask &) = delete;
    MainActorSingleFlightTask &operator=(const MainActorSingleFlightTask &) = delete;
    ~MainActorSingleFlightTask() { cancel(); }

    // Joins the running task, or starts `factory` under a fresh id. The caller that
    // started it clears `current` when it ends, unless it was cleared or replaced meanwhile.
    QCoro::Task<T> run(Factory factory)
    {
        if (!m_state->current) {
            const QUuid id = QUuid::createUuid();
            auto handle = startTask<T>(std::move(factory));
            m_state->current = Current{id, handle};
            if (handle.isFinished()) {
                // Finished before it ever suspended: nothing left to join.
                m_state->current.reset();
                return handle.result();
            }
            return awaitAndClear(m_state, id, handle);
        }
        return m_state->current->task.result();
    }

    const std::optional<Current> &current() const { return m_state->current; }
    bool isRunning() const { return m_state->current.has_value(); }

    // Cancels the running task, if any, and forgets it.
    void cancel()
    {
        if (m_state->current) {
            m_state->current->task.cancel();
            m_state->current.reset();
        }
    }

private:
    struct State
    {
        std::optional<Current> current;
    };

    static void clearIfSame(State &state, const QUuid &id)
    {
        if (state.current && state.current->id == id) {
            state.current.reset();
        }
    }

    static QCoro::Task<T> awaitAndClear(std::shared_ptr<State> state, QUuid id,
                                        TaskHandle<T> handle)
    {
        std::exception_ptr failure;
        if constexpr (std::is_void_v<T>) {
            try {
                co_await handle.result();
            } catch (...) {
                failure = std::current_exception();
            }
            clearIfSame(*state, id);
            if (failure) {
                std::rethrow_exception(failure);
            }
        } else {
            std::optional<T> value;
            try {
                value.emplace(co_await handle.result());
            } catch (...) {
                failure = std::current_exception();
            }
            clearIfSame(*state, id);
            if (failure) {
                std::rethrow_exception(failure);
            }
            co_return std::move(*value);
        }
    }

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace tessera
