#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

namespace tessera {

// Turns POSIX signals (SIGTERM, SIGINT, ...) into a Qt signal on the event loop. The
// handler only writes the signal number into a pipe, the one thing that is safe inside a
// signal handler; the notifier reads it back on the main thread. One instance per
// process; the previous handlers come back when it is destroyed.
class UnixSignalNotifier : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignalNotifier(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~UnixSignalNotifier() override;

Q_SIGNALS:
    void activated(int signalNumber);

private:
    void readPendingSignals();

    QList<int> m_signalNumbers;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tessera
