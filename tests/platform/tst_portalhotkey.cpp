// The Wayland hotkey against a fake xdg-desktop-portal on a private session bus: the
// D-Bus interface is the contract. Session creation and binding with the preferred
// trigger, activation, and a desktop without the portal or without the interface.
#include "platform/hotkeymanager.h"
#include "privatesessionbus.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace tessera;

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
} // namespace

// One entry of BindShortcuts' a(sa{sv}).
struct BoundShortcut
{
    QString id;
    QVariantMap properties;
};
QDBusArgument &operator<<(QDBusArgument &argument, const BoundShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, BoundShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}
Q_DECLARE_METATYPE(BoundShortcut)

// Just enough of the portal: answers CreateSession and BindShortcuts through Request
// objects the way xdg-desktop-portal does, and remembers what it was asked.
class FakeGlobalShortcuts : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")

public:
    explicit FakeGlobalShortcuts(QDBusConnection bus)
        : m_bus(bus)
    {}

    QString session;
    QString boundTrigger;
    QString lastSession;
    uint bindResponse = 0;

    void activate(const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            portalPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
            QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1)
               << QVariantMap();
        m_bus.send(signal);
    }

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap &options)
    {
        session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                      .arg(senderPart(),
                           options.value(QStringLiteral("session_handle_token")).toString());
        return respondLater(options, 0, {{QStringLiteral("session_handle"), session}});
    }

    QDBusObjectPath BindShortcuts(const QDBusObjectPath &sessionHandle,
                                  const QList<BoundShortcut> &shortcuts, const QString &,
                                  const QVariantMap &options)
    {
        lastSession = sessionHandle.path();
        for (const BoundShortcut &shortcut : shortcuts) {
            if (shortcut.id == QLatin1String("quick-search")) {
                boundTrigger =
                    shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
            }
        }
        return respondLater(options, bindResponse, {});
    }

private:
    QString senderPart() const
    {
        QString sender = message().service().mid(1);
        return sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    }

    QDBusObjectPath respondLater(const QVariantMap &options, uint response, QVariantMap results)
    {
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(senderPart(), options.value(QStringLiteral("handle_token")).toString());
        QTimer::singleShot(0, this, [this, path, response, results] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << response << results;
            m_bus.send(signal);
        });
        return QDBusObjectPath(path);
    }

    QDBusConnection m_bus;
};

class TestPortalHotKey : public QObject
{
    Q_OBJECT

    test::PrivateSessionBus m_bus;

    QDBusConnection connect(const QString &name)
    {
        return QDBusConnection::connectToBus(m_bus.address(), name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        qDBusRegisterMetaType<BoundShortcut>();
        qDBusRegisterMetaType<QList<BoundShortcut>>();
        QCOMPARE(m_bus.start(), QString());
    }

    void bindsAndActivates()
    {
        QDBusConnection service = connect(QStringLiteral("portal"));
        FakeGlobalShortcuts portal(service);
        QVERIFY(service.registerObject(portalPath, &portal, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(portalService));

        auto manager = makePortalHotKeyManager(connect(QStringLiteral("client1")));
        QSignalSpy spy(manager.get(), &HotKeyManager::activated);
        test::waitFor(manager->registerChord(
            QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_A)));
        QVERIFY(manager->isRegistered());
        QCOMPARE(portal.boundTrigger, QStringLiteral("CTRL+ALT+a"));
        QCOMPARE(portal.lastSession, portal.session);

        portal.activate(QStringLiteral("something-else"));
        portal.activate(QStringLiteral("quick-search"));
        QTRY_COMPARE(spy.count(), 1);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 1);

        // Refused by the desktop (the user cancelled its dialog).
        portal.bindResponse = 1;
        try {
            test::waitFor(manager->registerChord(QKeyCombination(Qt::AltModifier, Qt::Key_Space)));
            QFAIL("a refused binding succeeded");
        } catch (const HotKeyError &error) {
            QCOMPARE(error.status(), 1);
        }
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
        QDBusConnection service = connect(QStringLiteral("bare"));
        QObject bare;
        if (portalRuns) {
            QVERIFY(service.registerObject(portalPath, &bare));
            QVERIFY(service.registerService(portalService));
        }
        auto manager = makePortalHotKeyManager(connect(QStringLiteral("client2")));
        try {
            test::waitFor(manager->registerChord(QKeyCombination(Qt::AltModifier, Qt::Key_Space)));
            QFAIL("registration succeeded");
        } catch (const HotKeyError &error) {
            QCOMPARE(error.description(),
                     QStringLiteral("Could not register the global hotkey. It may already be in "
                                    "use."));
        }
        QVERIFY(!manager->isRegistered());
        service.unregisterService(portalService);
        service.unregisterObject(portalPath);
    }
};

QTEST_GUILESS_MAIN(TestPortalHotKey)
#include "tst_portalhotkey.moc"
