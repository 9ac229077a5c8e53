#pragma once

#include "aws/inmemorytransport.h"
#include "foundation/error.h"
#include "foundation/manualclock.h"
#include "foundation/taskhandle.h"

#include <QByteArray>
#include <QStringList>
#include <QTest>
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

// The sleeps requested of `clock` so far, in whole `Unit`s.
template<typename Unit = std::chrono::seconds> QList<qint64> slept(const ManualClock &clock)
{
    QList<qint64> out;
    for (const auto sleep : clock.requestedSleeps()) {
        out << std::chrono::duration_cast<Unit>(sleep).count();
    }
    return out;
}

// One text field of each item, e.g. listed(accounts, &AWSAccount::accountName).
template<typename T> QStringList listed(const QList<T> &items, QString T::*field)
{
    QStringList out;
    for (const T &item : items) {
        out << item.*field;
    }
    return out;
}

// "a b c" as {"a", "b", "c"}.
inline QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// One row of a data-driven test; text columns are QString.
inline QString column(const char *text)
{
    return QString::fromUtf8(text);
}
template<typename T> const T &column(const T &value)
{
    return value;
}
template<typename... Columns> void row(const char *name, const Columns &...columns)
{
    (QTest::newRow(name) << ... << column(columns));
}

} // namespace tessera::test
