#include "platform/linux/xdgautostartentry.h"
#include "platform/popupplacement.h"
#include "platform/singleinstance.h"
#include "support/testsupport.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessera;

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    QString path(const char *name) const { return m_folder.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        qputenv("XDG_CONFIG_HOME", path("config").toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_folder.path().toUtf8());
    }

    void popupPlacement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("expected");
        // A 1920x1080 screen with a 30 px top panel; the popup is 380x600.
        const QRect screen(0, 30, 1920, 1050);
        const QPoint anywhere(700, 500);
        QTest::newRow("under a top-bar icon")
            << QRect(1000, 4, 22, 22) << anywhere << screen << QPoint(1010 - 190, 30);
        QTest::newRow("above a bottom-bar icon")
            << QRect(900, 1050, 24, 24) << anywhere << screen << QPoint(911 - 190, 1050 - 4 - 600);
        QTest::newRow("no geometry, pointer low")
            << QRect() << QPoint(1000, 1000) << screen << QPoint(1000 - 190, 1000 - 4 - 600);
        QTest::newRow("larger than the screen: the corner stays visible")
            << QRect(700, 380, 20, 20) << QPoint() << QRect(0, 0, 800, 400) << QPoint(420, 0);
    }
    void popupPlacement()
    {
        QFETCH(QRect, icon);
        QFETCH(QPoint, pointer);
        QFETCH(QRect, screen);
        QFETCH(QPoint, expected);
        QCOMPARE(popupPosition(icon, pointer, QSize(380, 600), screen), expected);
    }

    void loginItemWritesAndRemovesTheAutostartEntry()
    {
        const XdgAutostartEntry item(QStringLiteral("/opt/Tessera Apps/tessera"));
        QCOMPARE(item.entryPath(), path("config/autostart/tessera.desktop"));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.disable());
        QVERIFY(item.enable());
        QVERIFY(item.isEnabled());
        const auto contents = [&] {
            QFile entry(item.entryPath());
            return entry.open(QIODevice::ReadOnly) ? entry.readAll() : QByteArray();
        };
        const QByteArray written = contents();
        QVERIFY(written.contains("\nExec=\"/opt/Tessera Apps/tessera\"\n"));
        // On a full disk enabling fails, and the entry written before stays whole.
        QVERIFY(test::runWithFileSizeLimit(64, [&] { return !item.enable(); }));
        QCOMPARE(contents(), written);

        // A desktop that switched the entry off keeps the file.
        QFile rewritten(item.entryPath());
        QVERIFY(rewritten.open(QIODevice::WriteOnly));
        rewritten.write("[Desktop Entry]\nType=Application\nExec=tessera\nHidden=true\n");
        rewritten.close();
        QVERIFY(!item.isEnabled());
        QVERIFY(item.disable());
        QVERIFY(!QFile::exists(item.entryPath()));
    }

    void secondInstanceHandsItsCommandToTheFirst()
    {
        QVERIFY(SingleInstance::defaultSocketName().startsWith(m_folder.path()));
        // A socket file left over from a crash is taken over.
        QFile stale(path("instance.socket"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        SingleInstance first(stale.fileName());
        QVERIFY(first.claim(InstanceCommand::show));
        QVERIFY(first.isPrimary());
        QSignalSpy received(&first, &SingleInstance::commandReceived);

        for (const InstanceCommand command :
             {InstanceCommand::quickSearch, InstanceCommand::sync}) {
            SingleInstance second(stale.fileName());
            QVERIFY(!second.claim(command));
            QVERIFY(!second.isPrimary());
        }
        // Unknown lines (another program, a newer Tessera) are ignored; known ones count.
        QLocalSocket socket;
        socket.connectToServer(stale.fileName());
        QVERIFY(socket.waitForConnected(5000));
        socket.write("launch-missiles\nsettings\n");
        QVERIFY(socket.waitForBytesWritten(5000));
        QVERIFY(test::processEventsUntil([&] { return received.count() == 3; }));
        QList<InstanceCommand> commands;
        for (const QList<QVariant> &arguments : std::as_const(received)) {
            commands.append(arguments.first().value<InstanceCommand>());
        }
        QCOMPARE(commands,
                 (QList<InstanceCommand>{InstanceCommand::quickSearch, InstanceCommand::sync,
                                         InstanceCommand::settings}));
    }
};

QTEST_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
