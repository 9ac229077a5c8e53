// The global chord on X11: a passive grab of the key on the root window, through the
// connection Qt already has, so the key press arrives with Qt's own events (and updates
// the user time the window manager judges activation requests by).
#include "foundation/logging.h"
#include "platform/linux/hotkeymanagers.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QList>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace tessera {

namespace {

constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymAltR = 0xffea;
constexpr xcb_keysym_t keysymSuperL = 0xffeb;
constexpr xcb_keysym_t keysymSuperR = 0xffec;
constexpr xcb_keysym_t keysymNumLock = 0xff7f;
constexpr quint16 chordModifierMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
                                      XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 |
                                      XCB_MOD_MASK_5;

// The X keysym of a Qt key for the keys the presets use (Latin letters, digits, space).
std::optional<xcb_keysym_t> keysymFor(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return xcb_keysym_t('a' + (key - Qt::Key_A));
    }
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) {
        return xcb_keysym_t(key);
    }
    return std::nullopt;
}

class X11HotKeyManager : public HotKeyManager, public QAbstractNativeEventFilter
{
public:
    explicit X11HotKeyManager(xcb_connection_t *connection)
        : m_connection(connection)
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root)
    {
        QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
    }

    ~X11HotKeyManager() override
    {
        if (auto *dispatcher = QAbstractEventDispatcher::instance()) {
            dispatcher->removeNativeEventFilter(this);
        }
        release();
    }

    QCoro::Task<void> registerChord(QKeyCombination chord) override
    {
        release();
        if (chord.key() == Qt::Key_unknown) {
            co_return;
        }
        grab(chord);
        co_return;
    }

    bool isRegistered() const override { return !m_grabs.isEmpty(); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (m_grabs.isEmpty() || eventType != "xcb_generic_event_t") {
            return false;
        }
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & ~0x80) != XCB_KEY_PRESS) {
            return false;
        }
        const auto *press = static_cast<const xcb_key_press_event_t *>(message);
        if (press->event != m_root ||
            (press->state & chordModifierMask & ~m_lockMask) != m_modifiers) {
            return false;
        }
        for (const Grab &grabbed : std::as_const(m_grabs)) {
            if (grabbed.keycode == press->detail) {
                // Left to Qt as well, which records the event's time.
                QMetaObject::invokeMethod(
                    this, [this] { Q_EMIT activated(); }, Qt::QueuedConnection);
                break;
            }
        }
        return false;
    }

private:
    struct Grab
    {
        xcb_keycode_t keycode;
        quint16 modifiers;
    };

    // The modifier bit a key (Alt, Super, Num Lock) is mapped to, or `fallback`.
    quint16 modifierOf(xcb_key_symbols_t *symbols, std::initializer_list<xcb_keysym_t> keysyms,
                       quint16 fallback) const
    {
        xcb_get_modifier_mapping_reply_t *mapping = xcb_get_modifier_mapping_reply(
            m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
        if (!mapping) {
            return fallback;
        }
        quint16 mask = 0;
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping);
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8 && !mask; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                if (code == 0) {
                    continue;
                }
                const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols, code, 0);
                if (std::find(keysyms.begin(), keysyms.end(), sym) != keysyms.end()) {
                    mask = quint16(1 << modifier);
                    break;
                }
            }
        }
        free(mapping);
        return mask ? mask : fallback;
    }

    void grab(QKeyCombination chord)
    {
        const auto keysym = keysymFor(chord.key());
        if (!keysym) {
            qCWarning(lcHotKey) << "No X11 key for" << chord.key();
            throw HotKeyError::registrationFailed(-1);
        }
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        if (!symbols) {
            qCWarning(lcHotKey) << "Could not read the X11 keyboard map";
            throw HotKeyError::installationFailed(-1);
        }
        const quint16 alt = modifierOf(symbols, {keysymAltL, keysymAltR}, XCB_MOD_MASK_1);
        const quint16 super = modifierOf(symbols, {keysymSuperL, keysymSuperR}, XCB_MOD_MASK_4);
        const quint16 numLock = modifierOf(symbols, {keysymNumLock}, XCB_MOD_MASK_2);
        QList<xcb_keycode_t> keycodes;
        if (xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, *keysym)) {
            for (xcb_keycode_t *code = codes; *code != XCB_NO_SYMBOL; ++code) {
                if (!keycodes.contains(*code)) {
                    keycodes.append(*code);
                }
            }
            free(codes);
        }
        xcb_key_symbols_free(symbols);
        if (keycodes.isEmpty()) {
            qCWarning(lcHotKey) << "The keyboard map has no key for" << chord.key();
            throw HotKeyError::registrationFailed(-1);
        }

        const Qt::KeyboardModifiers qtModifiers = chord.keyboardModifiers();
        m_modifiers = 0;
        m_modifiers |= qtModifiers.testFlag(Qt::ShiftModifier) ? XCB_MOD_MASK_SHIFT : 0;
        m_modifiers |= qtModifiers.testFlag(Qt::ControlModifier) ? XCB_MOD_MASK_CONTROL : 0;
        m_modifiers |= qtModifiers.testFlag(Qt::AltModifier) ? alt : 0;
        m_modifiers |= qtModifiers.testFlag(Qt::MetaModifier) ? super : 0;
        m_lockMask = numLock | XCB_MOD_MASK_LOCK;

        // The chord must work whatever the state of Num Lock and Caps Lock.
        QList<std::pair<Grab, xcb_void_cookie_t>> requests;
        for (xcb_keycode_t keycode : std::as_const(keycodes)) {
            for (quint16 locks : {quint16(0), numLock, quint16(XCB_MOD_MASK_LOCK),
                                  quint16(numLock | XCB_MOD_MASK_LOCK)}) {
                const Grab wanted{keycode, quint16(m_modifiers | locks)};
                requests.append({wanted, xcb_grab_key_checked(
                                             m_connection, 0, m_root, wanted.modifiers, keycode,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
            }
        }
        int failure = 0;
        for (const auto &[wanted, cookie] : std::as_const(requests)) {
            if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
                // BadAccess: another client holds this chord.
                if (!failure) {
                    failure = error->error_code;
                }
                free(error);
            } else {
                m_grabs.append(wanted);
            }
        }
        if (failure) {
            qCWarning(lcHotKey, "X11 refused the key grab with error %d", failure);
            release();
            throw HotKeyError::registrationFailed(failure);
        }
    }

    void release()
    {
        for (const Grab &grabbed : std::as_const(m_grabs)) {
            const xcb_void_cookie_t cookie =
                xcb_ungrab_key_checked(m_connection, grabbed.keycode, m_root, grabbed.modifiers);
            if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
                qCWarning(lcHotKey, "Releasing the global hotkey failed with X11 error %d",
                          int(error->error_code));
                free(error);
            }
        }
        m_grabs.clear();
        xcb_flush(m_connection);
    }

    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    QList<Grab> m_grabs;
    quint16 m_modifiers = 0;
    quint16 m_lockMask = 0;
};

} // namespace

std::unique_ptr<HotKeyManager> makeX11HotKeyManager()
{
    // Other platform plugins (offscreen) may offer the X11 interface without a connection.
    auto *x11 = qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")
                    ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                    : nullptr;
    if (!x11 || !x11->connection()) {
        return nullptr;
    }
    return std::make_unique<X11HotKeyManager>(x11->connection());
}

} // namespace tessera
