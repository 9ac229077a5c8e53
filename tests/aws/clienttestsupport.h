#pragma once

#include "aws/inmemorytransport.h"
#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "foundation/taskhandle.h"

#include <QByteArray>
#include <optional>

namespace tessera::test {

// The failure of a finished task as `E`, or nullopt when it succeeded or failed otherwise.
template<typename E, typename T> std::optional<E> failureAs(const TaskHandle<T> &handle)
{
    if (!handle.isFinished()) {
        return std::nullopt;
    }
    try {
        handle.resultNow();
    } catch (const E &error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

// Moves the manual clock from deadline to deadline until the task ends or nothing sleeps.
template<typename T> bool runToEnd(ManualClock &clock, const TaskHandle<T> &handle)
{
    while (!handle.isFinished() && clock.advanceToNextDeadline()) {
    }
    return handle.isFinished();
}

inline HttpResponse jsonReply(int status, const char *json)
{
    return InMemoryHttpTransport::response(status, QByteArray(json));
}

} // namespace tessera::test
