#include "support/testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool runWithFileSizeLimit(off_t limit, const std::function<bool()> &body)
{
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit fileSize = {};
        ::getrlimit(RLIMIT_FSIZE, &fileSize);
        fileSize.rlim_cur = rlim_t(limit);
        bool answer = false;
        if (::setrlimit(RLIMIT_FSIZE, &fileSize) == 0) {
            try {
                answer = body();
            } catch (...) {
                answer = false;
            }
        }
        // No destructors and no exit handlers: they belong to the parent.
        ::_exit(answer ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace tessera::test
