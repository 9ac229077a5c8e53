#include "platform/linux/logindresumenotifier.h"

#include "foundation/logging.h"

#include <QDBusError>

namespace tessera {

namespace {
const QString logindService = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString logindManager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

LogindResumeNotifier::LogindResumeNotifier(QDBusConnection bus, QObject *parent)
    : SystemResumeNotifier(parent)
{
    if (!bus.isConnected()) {
        qCWarning(lcApp).noquote() << "No system bus; a token refresh due during a suspend "
                                      "waits for its timer after resume:"
                                   << bus.lastError().message();
        return;
    }
    m_listening = bus.connect(logindService, logindPath, logindManager,
                              QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    if (!m_listening) {
        qCWarning(lcApp).noquote()
            << "Could not listen for resume from logind:" << bus.lastError().message();
    }
}

void LogindResumeNotifier::prepareForSleep(bool starting)
{
    if (!starting) {
        Q_EMIT resumed();
    }
}

std::unique_ptr<SystemResumeNotifier> makeSystemResumeNotifier(QObject *parent)
{
    return std::make_unique<LogindResumeNotifier>(QDBusConnection::systemBus(), parent);
}

} // namespace tessera
