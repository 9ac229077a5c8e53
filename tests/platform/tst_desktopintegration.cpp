#include "platform/autostart.h"
#include "platform/popupplacement.h"
#include "platform/singleinstance.h"
#include "support/testsupport.h"

#include <QFile>
#include <QLocalSocket>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessera;

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        qputenv("XDG_CONFIG_HOME", m_folder.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_folder.path().toUtf8());
    }

    void popupPlacement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("expected");
        const QPoint anywhere(700, 500);
        // Screen 1920x1080 with a 30 px top panel; popup 380x600. QRect::center rounds down.
        QTest::newRow("under a top-bar icon")
            << QRect(1000, 4, 22, 22) << anywhere << QPoint(1010 - 190, 30);
        QTest::newRow("above a bottom-bar icon")
            << QRect(900, 1050, 24, 24) << anywhere << QPoint(911 - 190, 1050 - 4 - 600);
        QTest::newRow("icon at the right edge")
            << QRect(1900, 4, 20, 20) << anywhere << QPoint(1920 - 380, 30);
        QTest::newRow("no geometry: at the pointer") << QRect() << QPoint(20, 10) << QPoint(0, 30);
        QTest::newRow("no geometry, pointer low")
            << QRect() << QPoint(1000, 1000) << QPoint(1000 - 190, 1000 - 4 - 600);
    }

    void popupPlacement()
    {
        QFETCH(QRect, icon);
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, expected);
        const QRect screen(0, 30, 1920, 1050);
        const QSize popup(380, 600);
        const QPoint position = popupPosition(icon, pointer, popup, screen);
        QCOMPARE(position, expected);
        QVERIFY(screen.contains(QRect(position, popup)));
    }

    void popupLargerThanTheScreenKeepsItsCornerVisible()
    {
        const QRect screen(0, 0, 800, 400);
        QCOMPARE(popupPosition(QRect(700, 380, 20, 20), {}, QSize(380, 600), screen),
                 QPoint(420, 0));
    }

    void loginItemWritesAndRemovesTheAutostartEntry()
    {
        const LoginItem item(QStringLiteral("/opt/Tessera Apps/tessera"));
        QCOMPARE(item.entryPath(),
                 m_folder.filePath(QStringLiteral("config/autostart/tessera.desktop")));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.disable());

        QVERIFY(item.enable());
        QVERIFY(item.isEnabled());
        QSettings entry(item.entryPath(), QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(entry.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
        QFile file(item.entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Exec=\"/opt/Tessera Apps/tessera\"\n"));

        // A desktop that switched the entry off keeps the file.
        file.close();
        {
            QFile rewritten(item.entryPath());
            QVERIFY(rewritten.open(QIODevice::WriteOnly));
            rewritten.write("[Desktop Entry]\nType=Application\nExec=tessera\nHidden=true\n");
        }
        QVERIFY(!item.isEnabled());

        QVERIFY(item.enable());
        // On a full disk enabling fails, and the entry written before stays whole.
        const auto contents = [&] {
            QFile entryFile(item.entryPath());
            return entryFile.open(QIODevice::ReadOnly) ? entryFile.readAll() : QByteArray();
        };
        const QByteArray written = contents();
        QVERIFY(test::runWithFileSizeLimit(64, [&] { return !item.enable(); }));
        QCOMPARE(contents(), written);
        QVERIFY(item.disable());
        QVERIFY(!QFile::exists(item.entryPath()));
        QVERIFY(!item.isEnabled());
    }

    void secondInstanceHandsItsCommandToTheFirst_data()
    {
        QTest::addColumn<InstanceCommand>("command");
        QTest::newRow("reopen") << InstanceCommand::reopen;
        QTest::newRow("quick search") << InstanceCommand::quickSearch;
        QTest::newRow("sync") << InstanceCommand::sync;
    }

    void secondInstanceHandsItsCommandToTheFirst()
    {
        QFETCH(InstanceCommand, command);
        QVERIFY(SingleInstance::defaultSocketName().startsWith(m_folder.path()));
        const QString name = m_folder.filePath(QStringLiteral("instance.socket"));
        SingleInstance first(name);
        QVERIFY(first.claim(InstanceCommand::show));
        QVERIFY(first.isPrimary());
        QSignalSpy received(&first, &SingleInstance::commandReceived);

        SingleInstance second(name);
        QVERIFY(!second.claim(command));
        QVERIFY(!second.isPrimary());
        QVERIFY(test::processEventsUntil([&] { return received.count() == 1; }));
        QCOMPARE(received.first().first().value<InstanceCommand>(), command);
    }

    // Unknown lines (another program, a newer Tessera) are ignored; known ones still count.
    void unknownRequestsAreIgnored()
    {
        const QString name = m_folder.filePath(QStringLiteral("mixed.socket"));
        SingleInstance first(name);
        QVERIFY(first.claim());
        QSignalSpy received(&first, &SingleInstance::commandReceived);
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(5000));
        socket.write("launch-missiles\nsettings\n");
        QVERIFY(socket.waitForBytesWritten(5000));
        QVERIFY(test::processEventsUntil([&] { return received.count() == 1; }));
        QCOMPARE(received.first().first().value<InstanceCommand>(), InstanceCommand::settings);
    }

    void leftOverSocketFromACrashIsTakenOver()
    {
        const QString name = m_folder.filePath(QStringLiteral("stale.socket"));
        QFile stale(name);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        SingleInstance instance(name);
        QVERIFY(instance.claim());
    }

private:
    QTemporaryDir m_folder;
};

QTEST_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
