// Desktop notifications against a fake org.freedesktop.Notifications on a private session
// bus: what is sent, that a newer message replaces the previous one, and the fallback
// where no notification service answers.
#include "platform/desktopnotifier.h"
#include "privatesessionbus.h"

#include <QDBusConnection>
#include <QtTest>

using namespace tessera;

namespace {
const QString notificationsService = QStringLiteral("org.freedesktop.Notifications");

class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown;
    QList<uint> replaced;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        shown.append(appName + QLatin1Char('|') + summary + QLatin1Char('|') + body);
        replaced.append(replacesId);
        return uint(40 + shown.size());
    }
};
} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

    test::PrivateSessionBus m_bus;

private Q_SLOTS:
    void initTestCase() { QCOMPARE(m_bus.start(), QString()); }

    void notifiesOrFallsBack_data()
    {
        QTest::addColumn<bool>("serviceRuns");
        QTest::newRow("notification service") << true;
        QTest::newRow("none on the bus") << false;
    }
    void notifiesOrFallsBack()
    {
        QFETCH(bool, serviceRuns);
        const QString tag = QString::number(serviceRuns);
        QDBusConnection service =
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("service") + tag);
        FakeNotifications fake;
        if (serviceRuns) {
            QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                           QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService(notificationsService));
        }
        QStringList fallenBack;
        auto notifier = makeFreedesktopNotifier(
            QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("client") + tag),
            [&](const QString &title, const QString &body) {
                fallenBack.append(title + QLatin1Char('|') + body);
            });
        notifier->notify(QStringLiteral("Sync failed"), QStringLiteral("R&D <b>down</b>"));
        QTRY_COMPARE(fake.shown.size() + fallenBack.size(), 1);
        notifier->notify(QStringLiteral("Sync failed"), QStringLiteral("again"));
        QTRY_COMPARE(fake.shown.size() + fallenBack.size(), 2);
        if (serviceRuns) {
            QCOMPARE(fake.shown.first(),
                     QStringLiteral("Tessera|Sync failed|R&amp;D &lt;b&gt;down&lt;/b&gt;"));
            QCOMPARE(fake.replaced, (QList<uint>{0, 41}));
            QVERIFY(fallenBack.isEmpty());
            service.unregisterService(notificationsService);
        } else {
            QCOMPARE(fallenBack.last(), QStringLiteral("Sync failed|again"));
        }
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
