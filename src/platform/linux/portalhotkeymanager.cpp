// The global chord in a Wayland session: the xdg-desktop-portal GlobalShortcuts
// interface. Tessera opens one session, binds one shortcut in it with the chosen chord
// as the preferred trigger (the desktop may ask the user, or let them pick another), and
// listens for its Activated signal.
#include "foundation/logging.h"
#include "platform/linux/hotkeymanagers.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QKeySequence>
#include <qcoro/qcorodbuspendingcall.h>
#include <qcoro/qcorosignal.h>

namespace tessera {

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString shortcutId = QStringLiteral("quick-search");
// Binding may wait for the user to confirm in a dialog of the desktop.
constexpr std::chrono::minutes responseTimeout{5};
} // namespace

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace tessera

Q_DECLARE_METATYPE(tessera::PortalShortcut)

namespace tessera {

namespace {
// The trigger in the notation of the XDG shortcuts specification ("CTRL+ALT+a").
QString portalTrigger(QKeyCombination chord)
{
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = chord.keyboardModifiers();
    if (modifiers.testFlag(Qt::ControlModifier)) {
        parts.append(QStringLiteral("CTRL"));
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        parts.append(QStringLiteral("ALT"));
    }
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        parts.append(QStringLiteral("SHIFT"));
    }
    if (modifiers.testFlag(Qt::MetaModifier)) {
        parts.append(QStringLiteral("LOGO"));
    }
    const Qt::Key key = chord.key();
    if (key == Qt::Key_Space) {
        parts.append(QStringLiteral("space"));
    } else {
        parts.append(QKeySequence(key).toString(QKeySequence::PortableText).toLower());
    }
    return parts.join(QLatin1Char('+'));
}
} // namespace

// Receives the portal's signals for the manager.
class PortalSignals : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

public Q_SLOTS:
    void respond(uint response, const QVariantMap &results)
    {
        m_answered = true;
        m_response = response;
        m_results = results;
        Q_EMIT responded();
    }
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options), read from
    // the message so that a portal sending the handle as a string is understood too.
    void activate(const QDBusMessage &message)
    {
        const QVariantList arguments = message.arguments();
        if (arguments.size() < 2) {
            return;
        }
        const QVariant session = arguments.at(0);
        Q_EMIT activated(session.canConvert<QDBusObjectPath>()
                             ? session.value<QDBusObjectPath>().path()
                             : session.toString(),
                         arguments.at(1).toString());
    }

Q_SIGNALS:
    void responded();
    void activated(const QString &session, const QString &id);

public:
    bool m_answered = false;
    uint m_response = 0;
    QVariantMap m_results;
};

namespace {

class PortalHotKeyManager : public HotKeyManager
{
public:
    explicit PortalHotKeyManager(const QDBusConnection &bus)
        : m_bus(bus)
        , m_signals(new PortalSignals(this))
    {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        if (!m_bus.connect(portalService, portalPath, shortcutsInterface,
                           QStringLiteral("Activated"), m_signals, SLOT(activate(QDBusMessage)))) {
            qCWarning(lcHotKey).noquote() << "Cannot listen for the portal's shortcut activations:"
                                          << m_bus.lastError().message();
        }
        connect(m_signals, &PortalSignals::activated, this,
                [this](const QString &session, const QString &id) {
                    if (!m_session.isEmpty() && session == m_session && id == shortcutId) {
                        Q_EMIT activated();
                    }
                });
    }

    ~PortalHotKeyManager() override { closeSession(); }

    bool isRegistered() const override { return m_registered; }

    QCoro::Task<void> registerChord(QKeyCombination chord) override
    {
        closeSession();
        if (chord.key() == Qt::Key_unknown) {
            co_return;
        }
        const QString sessionToken = newToken();
        QVariantMap options{{QStringLiteral("handle_token"), newToken()},
                            {QStringLiteral("session_handle_token"), sessionToken}};
        QDBusMessage create = QDBusMessage::createMethodCall(
            portalService, portalPath, shortcutsInterface, QStringLiteral("CreateSession"));
        create << options;
        const QVariantMap created =
            co_await request(create, options.value(QStringLiteral("handle_token")).toString());
        const QVariant handle = created.value(QStringLiteral("session_handle"));
        const QString session = handle.canConvert<QDBusObjectPath>()
                                    ? handle.value<QDBusObjectPath>().path()
                                    : handle.toString();
        if (session.isEmpty()) {
            qCWarning(lcHotKey) << "The portal created no global shortcuts session";
            throw HotKeyError::installationFailed(-1);
        }
        m_session = session;

        const QString bindToken = newToken();
        const QList<PortalShortcut> shortcuts{
            {shortcutId,
             {{QStringLiteral("description"), QStringLiteral("Open Quick Search")},
              {QStringLiteral("preferred_trigger"), portalTrigger(chord)}}}};
        QDBusMessage bind = QDBusMessage::createMethodCall(
            portalService, portalPath, shortcutsInterface, QStringLiteral("BindShortcuts"));
        bind << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(shortcuts)
             << QString() << QVariantMap{{QStringLiteral("handle_token"), bindToken}};
        try {
            co_await request(bind, bindToken);
        } catch (...) {
            closeSession();
            throw;
        }
        m_registered = true;
    }

private:
    QString newToken() { return QStringLiteral("tessera%1").arg(++m_tokenCount); }

    // Where the portal will answer a request made with `token`.
    QString requestPath(const QString &token) const
    {
        QString sender = m_bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    }

    // Calls a portal method that answers through a Request object and yields the
    // answer's results. A missing portal, a refused call or a cancelled request fail.
    QCoro::Task<QVariantMap> request(QDBusMessage call, QString token)
    {
        PortalSignals response;
        const QString expected = requestPath(token);
        const auto listen = [&](const QString &path) {
            return m_bus.connect(portalService, path, requestInterface, QStringLiteral("Response"),
                                 &response, SLOT(respond(uint, QVariantMap)));
        };
        listen(expected);
        const QDBusMessage reply = co_await m_bus.asyncCall(call);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            qCWarning(lcHotKey).noquote()
                << "The desktop portal has no global shortcuts:" << reply.errorName()
                << reply.errorMessage();
            throw HotKeyError::installationFailed(-1);
        }
        const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (!path.isEmpty() && path != expected) {
            // An older portal that does not follow the handle token.
            listen(path);
        }
        if (!response.m_answered) {
            const auto answered = co_await qCoro(&response, &PortalSignals::responded,
                                                 std::chrono::milliseconds(responseTimeout));
            if (!answered.has_value()) {
                qCWarning(lcHotKey) << "The desktop portal did not answer" << call.member();
                throw HotKeyError::registrationFailed(-1);
            }
        }
        if (response.m_response != 0) {
            qCWarning(lcHotKey) << "The desktop portal refused" << call.member() << "with response"
                                << response.m_response;
            throw HotKeyError::registrationFailed(int(response.m_response));
        }
        co_return response.m_results;
    }

    void closeSession()
    {
        if (!m_session.isEmpty()) {
            m_bus.asyncCall(QDBusMessage::createMethodCall(
                portalService, m_session, sessionInterface, QStringLiteral("Close")));
        }
        m_session.clear();
        m_registered = false;
    }

    QDBusConnection m_bus;
    PortalSignals *m_signals;
    QString m_session;
    bool m_registered = false;
    int m_tokenCount = 0;
};

} // namespace

std::unique_ptr<HotKeyManager> makePortalHotKeyManager(const QDBusConnection &bus)
{
    return std::make_unique<PortalHotKeyManager>(bus);
}

} // namespace tessera

#include "portalhotkeymanager.moc"
