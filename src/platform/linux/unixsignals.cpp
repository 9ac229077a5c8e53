#include "platform/unixsignals.h"

#include "foundation/logging.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tessera {

namespace {

// Written by the signal handler, read on the main thread. Static because a signal
// handler can reach nothing else.
int signalPipe[2] = {-1, -1};
struct sigaction previousActions[NSIG];

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: enough signals are already waiting to be read.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

UnixSignalNotifier::UnixSignalNotifier(const QList<int> &signalNumbers, QObject *parent)
    : QObject(parent)
    , m_signalNumbers(signalNumbers)
{
    Q_ASSERT_X(signalPipe[0] < 0, "UnixSignalNotifier", "only one instance per process");
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qFatal("Cannot create the signal pipe: %s", strerror(errno));
    }
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalNotifier::readPendingSignals);

    for (const int signalNumber : m_signalNumbers) {
        struct sigaction action = {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(signalNumber, &action, &previousActions[signalNumber]) != 0) {
            qCWarning(lcApp) << "Cannot handle signal" << signalNumber << "-" << strerror(errno);
        }
    }
}

UnixSignalNotifier::~UnixSignalNotifier()
{
    for (const int signalNumber : m_signalNumbers) {
        ::sigaction(signalNumber, &previousActions[signalNumber], nullptr);
    }
    delete m_notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void UnixSignalNotifier::readPendingSignals()
{
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        Q_EMIT activated(byte);
    }
}

} // namespace tessera
