#pragma once

#include "foundation/asyncevent.h"
#include "foundation/cancellation.h"

#include <QCoroTask>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace tessera {

namespace detail {
template<typename T> using StoredResult = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

template<typename T> struct TaskState
{
    CancellationSource cancellation;
    AsyncEvent completion;
    bool finished = false;
    std::optional<StoredResult<T>> value;
    std::exception_ptr error;
    // The callable that made the coroutine. A lambda coroutine reads its captures through
    // the closure, so the closure must outlive every suspension of the task.
    std::shared_ptr<void> factory;
};

template<typename T>
QCoro::Task<void> driveTask(std::shared_ptr<TaskState<T>> state, QCoro::Task<T> task)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            state->value.emplace();
        } else {
            state->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        state->error = std::current_exception();
    }
    state->finished = true;
    state->factory.reset();
    state->completion.set();
}
} // namespace detail

// A handle to a running task that anyone may wait for, any number of times, and cancel.
// The task keeps running when every handle is gone; it is stopped only by cancellation,
// which it observes at its next cancellable wait.
template<typename T = void> class TaskHandle
{
public:
    TaskHandle() = default;

    bool isValid() const { return m_state != nullptr; }
    bool isFinished() const { return m_state && m_state->finished; }
    void cancel() const
    {
        if (m_state) {
            m_state->cancellation.cancel();
        }
    }
    CancellationToken token() const
    {
        return m_state ? m_state->cancellation.token() : CancellationToken{};
    }

    // Waits for the task and yields its result, or rethrows its failure.
    QCoro::Task<T> result() const { return awaitState(m_state); }

    // The result of a finished task, or its failure rethrown. Must not be called before
    // isFinished().
    T resultNow() const
    {
        if (m_state->error) {
            std::rethrow_exception(m_state->error);
        }
        if constexpr (!std::is_void_v<T>) {
            return *m_state->value;
        }
    }

    bool operator==(const TaskHandle &other) const { return m_state == other.m_state; }

    using State = detail::TaskState<T>;
    // Used by startTask; not meant to be called directly.
    explicit TaskHandle(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {}

private:
    static QCoro::Task<T> awaitState(std::shared_ptr<State> state)
    {
        co_await state->completion;
        if (state->error) {
            std::rethrow_exception(state->error);
        }
        if constexpr (!std::is_void_v<T>) {
            // Copy: QCoro moves from any non-const lvalue handed to co_return, and every
            // waiter must receive the value.
            co_return static_cast<const T &>(*state->value);
        }
    }

    std::shared_ptr<State> m_state;
};

// Starts `factory(token)` (a coroutine returning QCoro::Task<T>) on the current thread and
// returns a handle to it. The token is cancelled by the handle, and by `parent`.
template<typename T, typename Factory>
TaskHandle<T> startTask(Factory &&factory, const CancellationToken &parent = {})
{
    auto state = std::make_shared<detail::TaskState<T>>();
    if (parent.canBeCancelled()) {
        state->cancellation = CancellationSource(parent);
    }
    auto callable = std::make_shared<std::decay_t<Factory>>(std::forward<Factory>(factory));
    state->factory = callable;
    QCoro::Task<T> task = (*callable)(state->cancellation.token());
    // Dropping the driver's Task detaches it: the coroutine runs on and frees itself.
    detail::driveTask<T>(state, std::move(task));
    return TaskHandle<T>(state);
}

} // namespace tessera
