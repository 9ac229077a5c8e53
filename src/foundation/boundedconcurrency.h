#pragma once

#include "foundation/taskhandle.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace tessera {

namespace detail {
template<typename T> struct BoundedRunState
{
    std::shared_ptr<AsyncEvent> childFinished;
    std::size_t running = 0;
    std::size_t highestInFlight = 0;
    std::vector<T> results;
    std::exception_ptr failure;
};

template<typename T>
QCoro::Task<void> driveBoundedChild(std::shared_ptr<BoundedRunState<T>> state, QCoro::Task<T> child,
                                    CancellationSource group)
{
    try {
        state->results.push_back(co_await std::move(child));
    } catch (...) {
        if (!state->failure) {
            state->failure = std::current_exception();
            group.cancel();
        }
    }
    --state->running;
    if (auto wake = state->childFinished) {
        wake->set();
    }
}
} // namespace detail

// Runs `count` child tasks, `makeChild(index, token)`, with at most `maxInFlight` running
// at once. Children start in index order; each time one finishes the next is started.
// Results come back in the order the children finished. On the first failure the other
// children are cancelled, awaited, and the failure is rethrown.
template<typename T>
QCoro::Task<std::vector<T>> runWithConcurrencyLimit(
    std::size_t count, std::size_t maxInFlight,
    std::function<QCoro::Task<T>(std::size_t index, CancellationToken token)> makeChild,
    CancellationToken parent = {})
{
    auto state = std::make_shared<detail::BoundedRunState<T>>();
    CancellationSource group =
        parent.canBeCancelled() ? CancellationSource(parent) : CancellationSource();
    state->results.reserve(count);
    std::size_t next = 0;
    maxInFlight = std::max<std::size_t>(maxInFlight, 1);
    while (true) {
        while (!state->failure && !group.isCancelled() && next < count &&
               state->running < maxInFlight) {
            ++state->running;
            state->highestInFlight = std::max(state->highestInFlight, state->running);
            const std::size_t index = next++;
            detail::driveBoundedChild<T>(state, makeChild(index, group.token()), group);
        }
        if (state->running == 0) {
            break;
        }
        auto wake = std::make_shared<AsyncEvent>();
        state->childFinished = wake;
        co_await *wake;
        state->childFinished.reset();
    }
    if (state->failure) {
        std::rethrow_exception(state->failure);
    }
    parent.throwIfCancelled();
    co_return std::move(state->results);
}

} // namespace tessera
