#pragma once

#include "foundation/taskhandle.h"

#include <QCoroTask>
#include <QTest>
#include <functional>
#include <stdexcept>
#include <sys/types.h>

namespace tessera::test {

// Processes events until `condition` holds or `timeoutMs` passes; returns the condition.
bool processEventsUntil(const std::function<bool()> &condition, int timeoutMs = 5000);

// Runs `body` in a child process whose files cannot grow beyond `limit` bytes, which to a
// writer looks like a full disk: SIGXFSZ is ignored, so writes come up short or fail with
// EFBIG. Answers what `body` answered; false when the child ended any other way.
bool runWithFileSizeLimit(off_t limit, const std::function<bool()> &body);

// Runs the event loop until `task` finishes (or `timeoutMs` passes) and returns its
// result, rethrowing its failure. Lets plain QtTest slots drive coroutines.
template<typename T> T waitFor(QCoro::Task<T> task, int timeoutMs = 10000)
{
    auto handle = startTask<T>([&task](CancellationToken) { return std::move(task); });
    if (!processEventsUntil([&] { return handle.isFinished(); }, timeoutMs)) {
        handle.cancel();
        throw std::runtime_error("task did not finish in time");
    }
    return handle.resultNow();
}

} // namespace tessera::test
