// The Wayland hotkey against a fake xdg-desktop-portal on a private session bus: the
// D-Bus interface is the contract.
#include "platform/linux/hotkeymanagers.h"
#include "privatesessionbus.h"
#include "support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QtTest>

using namespace tessera;

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

QDBusMessage signalFrom(const QString &path, const char *interface, const char *name)
{
    return QDBusMessage::createSignal(path, QLatin1String(interface), QLatin1String(name));
}
} // namespace

// Just enough of GlobalShortcuts: answers CreateSession and BindShortcuts through Request
// objects the way xdg-desktop-portal does (the path follows the caller's handle token),
// and remembers what it was asked.
class FakeGlobalShortcuts : public QDBusVirtualObject
{
public:
    QString session;
    QString bound; // "<session> <shortcut id> <preferred trigger>"
    uint bindResponse = 0;

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &call, const QDBusConnection &bus) override
    {
        const QVariantList arguments = call.arguments();
        const auto options = qdbus_cast<QVariantMap>(arguments.last());
        const QString caller = call.service().mid(1).replace(u'.', u'_');
        QVariantMap results;
        uint response = 0;
        if (call.member() == QLatin1String("CreateSession")) {
            session = portalPath + QStringLiteral("/session/") + caller + u'/' +
                      options[QStringLiteral("session_handle_token")].toString();
            results.insert(QStringLiteral("session_handle"), session);
        } else {
            // BindShortcuts(o session, a(sa{sv}) shortcuts, s parent, a{sv} options)
            const auto shortcuts = arguments.at(1).value<QDBusArgument>();
            QString id;
            QVariantMap properties;
            shortcuts.beginArray();
            shortcuts.beginStructure();
            shortcuts >> id >> properties;
            bound = arguments.at(0).value<QDBusObjectPath>().path() + u' ' + id + u' ' +
                    properties[QStringLiteral("preferred_trigger")].toString();
            response = bindResponse;
        }
        const QString request = portalPath + QStringLiteral("/request/") + caller + u'/' +
                                options[QStringLiteral("handle_token")].toString();
        bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        bus.send(signalFrom(request, "org.freedesktop.portal.Request", "Response")
                 << response << results);
        return true;
    }
};

class TestPortalHotKey : public QObject
{
    Q_OBJECT

    test::PrivateSessionBus m_bus;

    // The status and text of a failed registration, or "registered".
    static QString registration(HotKeyManager &manager, QKeyCombination chord)
    {
        try {
            test::waitFor(manager.registerChord(chord));
            return QStringLiteral("registered");
        } catch (const HotKeyError &error) {
            return QString::number(error.status()) + u' ' + error.description();
        }
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(m_bus.start(), QString()); }

    void bindsActivatesAndIsRefused()
    {
        QDBusConnection service =
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("portal"));
        FakeGlobalShortcuts portal;
        QVERIFY(service.registerVirtualObject(portalPath, &portal));
        QVERIFY(service.registerService(portalService));
        auto manager = makePortalHotKeyManager(
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("a")));
        QSignalSpy activated(manager.get(), &HotKeyManager::activated);
        QCOMPARE(registration(*manager, Qt::ControlModifier | Qt::AltModifier | Qt::Key_A),
                 QStringLiteral("registered"));
        QVERIFY(manager->isRegistered());
        QCOMPARE(portal.bound, portal.session + QStringLiteral(" quick-search CTRL+ALT+a"));

        for (const QString &id : {QStringLiteral("other"), QStringLiteral("quick-search")}) {
            service.send(
                signalFrom(portalPath, "org.freedesktop.portal.GlobalShortcuts", "Activated")
                << QVariant::fromValue(QDBusObjectPath(portal.session)) << id << qulonglong(1)
                << QVariantMap());
        }
        QTRY_COMPARE(activated.count(), 1);
        QTest::qWait(50);
        QCOMPARE(activated.count(), 1);

        // Refused by the desktop (the user cancelled its dialog).
        portal.bindResponse = 1;
        QVERIFY(registration(*manager, Qt::AltModifier | Qt::Key_Space).startsWith(u'1'));
        QVERIFY(!manager->isRegistered());
        service.unregisterService(portalService);
        service.unregisterObject(portalPath);
    }

    void missingPortalOrInterfaceFails_data()
    {
        QTest::addColumn<bool>("portalRuns");
        QTest::newRow("no portal") << false;
        QTest::newRow("portal without global shortcuts") << true;
    }
    void missingPortalOrInterfaceFails()
    {
        QFETCH(bool, portalRuns);
        QDBusConnection service =
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("bare"));
        QObject bare;
        if (portalRuns) {
            QVERIFY(service.registerObject(portalPath, &bare));
            QVERIFY(service.registerService(portalService));
        }
        auto manager = makePortalHotKeyManager(
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("b")));
        QCOMPARE(registration(*manager, Qt::AltModifier | Qt::Key_Space),
                 QStringLiteral("-1 Could not register the global hotkey. It may already be in "
                                "use."));
        service.unregisterService(portalService);
        service.unregisterObject(portalPath);
    }
};

QTEST_GUILESS_MAIN(TestPortalHotKey)
#include "tst_portalhotkey.moc"
