#include "support/testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace tessera::test {

bool processEventsUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace tessera::test
