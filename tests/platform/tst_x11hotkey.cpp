// The X11 hotkey against a real X server (Xvfb), keys pressed with xdotool.
#include "platform/linux/hotkeymanagers.h"
#include "support/testsupport.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

using namespace tessera;

namespace {
constexpr xcb_keysym_t keysymSpace = 0x20;

void press(const QString &keys)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
    QVERIFY2(xdotool.waitForFinished(10000), "xdotool did not finish");
    QCOMPARE(xdotool.exitCode(), 0);
}

// Another X client on the same display, grabbing keys of its own.
class OtherClient
{
public:
    OtherClient()
        : m_connection(xcb_connect(nullptr, nullptr))
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root)
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysymSpace);
        m_space = codes ? codes[0] : 0;
        free(codes);
        xcb_key_symbols_free(symbols);
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    // Whether grabbing space with these modifiers succeeded.
    bool grabSpace(quint16 modifiers)
    {
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, m_space,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool granted = error == nullptr;
        free(error);
        return granted;
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    xcb_keycode_t m_space = 0;
};

const QKeyCombination altSpace(Qt::AltModifier, Qt::Key_Space);
const QKeyCombination ctrlSpace(Qt::ControlModifier, Qt::Key_Space);
constexpr quint16 numLock = XCB_MOD_MASK_2;
} // namespace

class TestX11HotKey : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chordReachesTheApplicationWithAnyLock()
    {
        auto manager = makeX11HotKeyManager();
        QVERIFY(manager);
        test::waitFor(manager->registerChord(altSpace));
        QVERIFY(manager->isRegistered());
        QSignalSpy spy(manager.get(), &HotKeyManager::activated);
        for (const char *keys : {"alt+space", "Num_Lock", "alt+space", "Num_Lock", "ctrl+space"}) {
            press(QString::fromLatin1(keys));
        }
        QTRY_COMPARE(spy.count(), 2);
        QTest::qWait(200);
        QCOMPARE(spy.count(), 2);
    }

    void aRefusedChordLeavesNoGrabAndANewChordReleasesTheOld()
    {
        auto manager = makeX11HotKeyManager();
        QSignalSpy spy(manager.get(), &HotKeyManager::activated);
        test::waitFor(manager->registerChord(altSpace));
        test::waitFor(manager->registerChord(ctrlSpace));
        auto other = std::make_unique<OtherClient>();
        QVERIFY(other->grabSpace(XCB_MOD_MASK_1 | numLock));
        press(QStringLiteral("ctrl+space"));
        QTRY_COMPARE(spy.count(), 1);
        try {
            test::waitFor(manager->registerChord(altSpace));
            QFAIL("registration succeeded");
        } catch (const HotKeyError &error) {
            QCOMPARE(error.status(), 10); // BadAccess
        }
        QVERIFY(!manager->isRegistered());
        // Neither the combinations that were granted nor the previous chord stay grabbed.
        other.reset();
        OtherClient third;
        for (const quint16 modifiers : std::initializer_list<quint16>{
                 XCB_MOD_MASK_1, XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK, XCB_MOD_MASK_CONTROL}) {
            QVERIFY(third.grabSpace(modifiers));
        }
    }
};

// Runs itself again under a private Xvfb with Qt's X11 platform.
int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("TESSERA_TEST_UNDER_XVFB")) {
        QCoreApplication app(argc, argv);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSERA_TEST_UNDER_XVFB"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList arguments{QStringLiteral("-a"), QCoreApplication::applicationFilePath()};
        arguments += QCoreApplication::arguments().mid(1);
        child.start(QStringLiteral("xvfb-run"), arguments);
        if (!child.waitForFinished(100000)) {
            qCritical("xvfb-run did not finish");
            return 1;
        }
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
    }
    QGuiApplication app(argc, argv);
    TestX11HotKey test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11hotkey.moc"
