#include "platform/linux/freedesktopnotifier.h"

#include "foundation/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace tessera {

namespace {

const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");

class FreedesktopNotifier : public DesktopNotifier
{
public:
    FreedesktopNotifier(const QDBusConnection &bus, Fallback fallback)
        : m_bus(bus)
        , m_fallback(std::move(fallback))
        , m_lastId(std::make_shared<uint>(0))
    {}

    void notify(const QString &title, const QString &body) override
    {
        if (!m_bus.isConnected()) {
            fallBack(title, body, QStringLiteral("no session bus"));
            return;
        }
        QDBusMessage call =
            QDBusMessage::createMethodCall(notificationsService, notificationsPath,
                                           notificationsService, QStringLiteral("Notify"));
        // The newest message replaces Tessera's previous one rather than piling up. The
        // common notification services read the body as markup, so "R&D" is escaped.
        call << QStringLiteral("Tessera") << *m_lastId << QStringLiteral("tessera") << title
             << body.toHtmlEscaped() << QStringList()
             << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("tessera")}} << -1;
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
        std::weak_ptr<uint> lastId = m_lastId;
        Fallback fallback = m_fallback;
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [watcher, lastId, fallback, title, body] {
                             watcher->deleteLater();
                             const QDBusPendingReply<uint> reply = *watcher;
                             const std::shared_ptr<uint> id = lastId.lock();
                             if (!reply.isError()) {
                                 if (id) {
                                     *id = reply.value();
                                 }
                                 return;
                             }
                             qCWarning(lcApp).noquote()
                                 << "The desktop's notification service did not take a message:"
                                 << reply.error().message();
                             if (id && fallback) {
                                 fallback(title, body);
                             }
                         });
    }

private:
    void fallBack(const QString &title, const QString &body, const QString &why)
    {
        qCWarning(lcApp).noquote() << "Desktop notifications unavailable:" << why;
        if (m_fallback) {
            m_fallback(title, body);
        }
    }

    QDBusConnection m_bus;
    Fallback m_fallback;
    // The id of the last message shown, shared with calls still under way; they drop
    // their answer once the notifier is gone.
    std::shared_ptr<uint> m_lastId;
};

} // namespace

std::unique_ptr<DesktopNotifier> makeFreedesktopNotifier(const QDBusConnection &bus,
                                                         DesktopNotifier::Fallback fallback)
{
    return std::make_unique<FreedesktopNotifier>(bus, std::move(fallback));
}

std::unique_ptr<DesktopNotifier> makeDesktopNotifier(DesktopNotifier::Fallback fallback)
{
    return makeFreedesktopNotifier(QDBusConnection::sessionBus(), std::move(fallback));
}

} // namespace tessera
