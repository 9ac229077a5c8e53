#pragma once

#include <QObject>
#include <memory>

namespace tessera {

// Announces that the machine woke from suspend. Timers run on the monotonic clock, which
// stands still while the machine sleeps, so work planned for a wall-clock time (the token
// refresh) has to look at its schedule again when this fires.
class SystemResumeNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void resumed();
};

// Listens to systemd-logind on the system bus. Without a reachable logind it never fires,
// and the schedule simply runs late after a suspend, as a plain timer would.
std::unique_ptr<SystemResumeNotifier> makeSystemResumeNotifier(QObject *parent = nullptr);

} // namespace tessera
