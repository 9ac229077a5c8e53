#pragma once

#include "platform/systemresume.h"

#include <QDBusConnection>

namespace tessera {

// logind sends PrepareForSleep(true) before a suspend or hibernation and
// PrepareForSleep(false) once the machine runs again; the second one is the resume.
class LogindResumeNotifier final : public SystemResumeNotifier
{
    Q_OBJECT
public:
    // `bus` is the system bus in production; tests hand in a private bus.
    explicit LogindResumeNotifier(QDBusConnection bus, QObject *parent = nullptr);

    // Whether the subscription to logind's signal was accepted by the bus.
    bool isListening() const { return m_listening; }

private Q_SLOTS:
    void prepareForSleep(bool starting);

private:
    bool m_listening = false;
};

} // namespace tessera
