#include "platform/linux/logindresumenotifier.h"
#include "privatesessionbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

using namespace tessera;

namespace {
const QString logindName = QStringLiteral("org.freedesktop.login1");

QDBusMessage prepareForSleep(bool starting)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    signal << starting;
    return signal;
}
} // namespace

// logind on a bus of the test's own: only the end of a sleep, sent by logind, is a resume.
class TestSystemResume : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resumeIsTheEndOfASleepAnnouncedByLogind()
    {
        test::PrivateSessionBus bus;
        const QString busError = bus.start();
        QVERIFY2(busError.isEmpty(), qPrintable(busError));
        QDBusConnection logind = QDBusConnection::connectToBus(bus.address(), logindName);
        QDBusConnection impostor =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("impostor"));
        QVERIFY(logind.registerService(logindName));

        LogindResumeNotifier notifier(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("listener")));
        QVERIFY(notifier.isListening());
        QSignalSpy resumed(&notifier, &SystemResumeNotifier::resumed);

        QVERIFY(impostor.send(prepareForSleep(false)));
        QVERIFY(logind.send(prepareForSleep(true)));
        QVERIFY(logind.send(prepareForSleep(false)));
        QVERIFY(resumed.wait(5000));
        QTest::qWait(100); // anything else would have arrived by now
        QCOMPARE(resumed.count(), 1);

        for (const QString &name :
             {logindName, QStringLiteral("impostor"), QStringLiteral("listener")}) {
            QDBusConnection::disconnectFromBus(name);
        }
    }
};

QTEST_GUILESS_MAIN(TestSystemResume)
#include "tst_systemresume.moc"
