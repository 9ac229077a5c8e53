// The D-Bus adapters against real services on a session bus of the test's own: GNOME
// Keyring for the Secret Service; logind and the desktop portal played by the test, the
// D-Bus interfaces being the contract. Nothing reaches the user's session or keyring; the
// daemons die with the test even if it crashes. Fails, never skips, without dbus-daemon or
// gnome-keyring-daemon.
#include "platform/linux/freedesktopnotifier.h"
#include "platform/linux/hotkeymanagers.h"
#include "platform/linux/logindresumenotifier.h"
#include "platform/linux/secretservice.h"
#include "platform/secretstore.h"
#include "support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <sys/prctl.h>

using namespace tessera;

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

const QString unavailable =
    s("Tessera could not access the Secret Service (GNOME Keyring or KWallet): no keyring "
      "service answered on the session bus. (status -25291)");

QDBusMessage signalFrom(const QString &path, const char *interface, const char *name)
{
    return QDBusMessage::createSignal(path, s(interface), s(name));
}

// A session bus of the test's own under a temporary HOME, optionally with an unlocked
// GNOME Keyring on it. This process takes the same HOME, XDG folders and bus, which must
// happen before anything in it opens the session bus.
class PrivateSessionBus
{
public:
    ~PrivateSessionBus()
    {
        stopKeyring();
        stop(m_bus);
    }

    // Answers what went wrong, or nothing.
    QString start()
    {
        for (const char *folder : {"runtime", "home/data", "home/config", "home/cache"}) {
            QDir(m_root.path()).mkpath(s(folder));
        }
        QFile::setPermissions(m_root.filePath(s("runtime")), QFileDevice::ReadOwner |
                                                                 QFileDevice::WriteOwner |
                                                                 QFileDevice::ExeOwner);
        qputenv("HOME", homePath().toUtf8());
        for (const char *folder : {"DATA", "CONFIG", "CACHE"}) {
            qputenv(QByteArray(QByteArray("XDG_") + folder + "_HOME").constData(),
                    (homePath() + u'/' + s(folder).toLower()).toUtf8());
        }
        qputenv("XDG_RUNTIME_DIR", m_root.filePath(s("runtime")).toUtf8());
        // An unlock prompt must never reach the user's screen.
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        // No service folder of the system's: it would make the real keyring startable.
        QFile config(m_root.filePath(s("bus.conf")));
        if (!config.open(QIODevice::WriteOnly)) {
            return s("cannot write the bus configuration");
        }
        config.write("<busconfig><type>session</type><listen>unix:dir=" + m_root.path().toUtf8() +
                     "</listen><policy context=\"default\"><allow send_destination=\"*\" "
                     "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                     "</policy></busconfig>");
        config.close();
        m_bus = launch("dbus-daemon", {s("--config-file=") + config.fileName(), s("--nofork"),
                                       s("--print-address=1")});
        if (!m_bus || !test::processEventsUntil([this] { return m_bus->canReadLine(); }, 20000)) {
            return s("dbus-daemon did not start or printed no address (run scripts/setup.sh)");
        }
        m_address = QString::fromUtf8(m_bus->readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        return {};
    }

    // A fresh login keyring, unlocked; done once the daemon owns org.freedesktop.secrets.
    QString startKeyring()
    {
        m_keyring = launch("gnome-keyring-daemon",
                           {s("--foreground"), s("--unlock"), s("--components=secrets")});
        if (!m_keyring) {
            return s("gnome-keyring-daemon did not start (run scripts/setup.sh)");
        }
        m_keyring->write("test-keyring-password");
        m_keyring->closeWriteChannel();
        const bool owned = test::processEventsUntil([] { return secretServiceAvailable(); }, 30000);
        return owned ? QString() : s("the keyring did not take its bus name");
    }
    void stopKeyring() { stop(m_keyring); }

    QString homePath() const { return m_root.filePath(s("home")); }
    QDBusConnection connection(const char *name) const
    {
        return QDBusConnection::connectToBus(m_address, s(name));
    }

private:
    static std::unique_ptr<QProcess> launch(const char *program, const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->start(s(program), arguments);
        return process->waitForStarted(10000) ? std::move(process) : nullptr;
    }

    static void stop(std::unique_ptr<QProcess> &process)
    {
        if (process) {
            process->kill();
            process->waitForFinished(5000);
            process.reset();
        }
    }

    QTemporaryDir m_root;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_keyring;
    QString m_address;
};

QVariantMap queryFor(const char *account)
{
    return Keychain::baseQuery(s(account));
}

QVariantMap withData(QVariantMap attributes, const QByteArray &data)
{
    attributes.insert(QLatin1String(keychainattr::valueData), data);
    return attributes;
}

QString loadFailure(const KeychainSecurityOperations &operations, const char *account)
{
    try {
        test::waitFor(Keychain(operations).loadData(s(account)));
    } catch (const KeychainError &error) {
        return error.description();
    }
    return s("loaded");
}

// The status and text of a failed registration, or "registered".
QString registration(HotKeyManager &manager, QKeyCombination chord)
{
    try {
        test::waitFor(manager.registerChord(chord));
        return s("registered");
    } catch (const HotKeyError &error) {
        return QString::number(error.status()) + u' ' + error.description();
    }
}
} // namespace

// Just enough of GlobalShortcuts: answers CreateSession and BindShortcuts through Request
// objects the way xdg-desktop-portal does (the path follows the caller's handle token).
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
            // Ending both levels frees the demarshallers they opened.
            shortcuts.endStructure();
            shortcuts.endArray();
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
        shown.append(appName + u'|' + summary + u'|' + body);
        replaced.append(replacesId);
        return uint(40 + shown.size());
    }
};

class TestDBusAdapters : public QObject
{
    Q_OBJECT

    PrivateSessionBus m_bus;
    KeychainSecurityOperations m_keyring = makeSecretServiceKeychainOperations();

private Q_SLOTS:
    void initTestCase()
    {
        // Without any bus the Secret Service backend answers, and says it is unavailable.
        QCOMPARE(loadFailure(m_keyring, "token"), unavailable);
        QCOMPARE(m_bus.start(), QString());
        QCOMPARE(m_bus.startKeyring(), QString());
    }

    void keyringPrimitivesAnswerTheStatuses()
    {
        const QVariantMap query = queryFor("primitives");
        QCOMPARE(test::waitFor(m_keyring.copyMatching(query)).status, keychainStatusItemNotFound);
        QCOMPARE(test::waitFor(m_keyring.update(query, withData({}, "x"))),
                 keychainStatusItemNotFound);
        QCOMPARE(test::waitFor(m_keyring.remove(query)), keychainStatusItemNotFound);
        // Secrets are bytes, not text: NUL and invalid UTF-8 survive.
        const QByteArray first("first\0\xff\xfe", 8);
        QCOMPARE(test::waitFor(m_keyring.add(withData(query, first))), keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_keyring.copyMatching(query)).result->toByteArray(), first);
        QCOMPARE(test::waitFor(m_keyring.update(query, withData({}, "second"))),
                 keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_keyring.copyMatching(query)).result->toByteArray(),
                 QByteArray("second"));
        // The account is part of the identity; the service too.
        QVariantMap otherService = query;
        otherService.insert(QLatin1String(keychainattr::service), s("NotTessera"));
        for (const QVariantMap &other : {queryFor("other"), otherService}) {
            QCOMPARE(test::waitFor(m_keyring.copyMatching(other)).status,
                     keychainStatusItemNotFound);
        }
        QCOMPARE(test::waitFor(m_keyring.remove(query)), keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_keyring.copyMatching(query)).status, keychainStatusItemNotFound);
        QVariantMap noAccount = query;
        noAccount.remove(QLatin1String(keychainattr::account));
        QCOMPARE(test::waitFor(m_keyring.copyMatching(noAccount)).status,
                 secretServiceStatusInvalidQuery);
    }

    void theKeyringIsChosenAndNoSecretLandsInAFile()
    {
        QVERIFY(secretServiceAvailable());
        const Keychain keychain(productionKeychainOperations());
        const SSOToken token{s("access-token-8f4a1c0e-never-on-disk"),
                             s("refresh-token-2b9d-never-on-disk"),
                             QDateTime::fromMSecsSinceEpoch(1'800'000'000'500, Qt::UTC),
                             s("eu-west-1"), s("https://example.awsapps.com/start")};
        const QString account = QLatin1String(keychainTokenAccount);
        test::waitFor(keychain.save(token, account));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(account)), token);
        // The keyring file is encrypted; nothing else anywhere under HOME holds a secret.
        QDirIterator it(m_bus.homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY2(!bytes.contains("8f4a1c0e") && !bytes.contains("2b9d"),
                     qPrintable(file.fileName()));
        }
        test::waitFor(keychain.remove(account));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(account)), std::nullopt);
    }

    void aLockedKeyringIsAnErrorNotAMissingItem()
    {
        test::waitFor(Keychain(m_keyring).saveData("kept", s("locked")));
        QDBusMessage lock =
            QDBusMessage::createMethodCall(s(secretServiceBusName), s("/org/freedesktop/secrets"),
                                           s("org.freedesktop.Secret.Service"), s("Lock"));
        lock << QVariant::fromValue(
            QList<QDBusObjectPath>{QDBusObjectPath(s("/org/freedesktop/secrets/aliases/default"))});
        QCOMPARE(QDBusConnection::sessionBus().call(lock).type(), QDBusMessage::ReplyMessage);

        // The lookup waits for the keyring over the bus while the event loop runs on: with
        // a blocking call the timer could not fire before the answer. Nobody can answer an
        // unlock prompt on this bus.
        QTimer ticker;
        int ticks = 0;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(0);
        QCoro::Task<KeychainCopyResult> waiting = m_keyring.copyMatching(queryFor("locked"));
        QVERIFY(!waiting.isReady());
        QCOMPARE(test::waitFor(std::move(waiting)).status, secretServiceStatusLocked);
        QVERIFY2(ticks > 0, "the event loop stood still while the keyring answered");
        QCOMPARE(test::waitFor(m_keyring.update(queryFor("locked"), withData({}, "new"))),
                 secretServiceStatusLocked);
        QCOMPARE(loadFailure(m_keyring, "locked"),
                 s("Tessera could not access the Secret Service (GNOME Keyring or KWallet): "
                   "the keyring is locked and was not unlocked. (status -25308)"));
    }

    void aVanishedKeyringIsUnavailableAndTheFilesTakeOver()
    {
        m_bus.stopKeyring();
        QCOMPARE(test::waitFor(m_keyring.add(withData(queryFor("gone"), "x"))),
                 secretServiceStatusUnavailable);
        QCOMPARE(loadFailure(m_keyring, "gone"), unavailable);
        // The process keeps running after the provider left the bus; the next start keeps
        // sign-in data in private files.
        QVERIFY(!secretServiceAvailable());
        const KeychainSecurityOperations files = productionKeychainOperations();
        QVERIFY2(files.storeDescription.contains(m_bus.homePath() + s("/data/Tessera/secrets")),
                 qPrintable(files.storeDescription));
        test::waitFor(Keychain(files).saveData("secret", s("token")));
        QCOMPARE(test::waitFor(Keychain(files).loadData(s("token"))), QByteArray("secret"));
    }

    // Only the end of a sleep, sent by logind, is a resume.
    void resumeIsTheEndOfASleepAnnouncedByLogind()
    {
        QDBusConnection logind = m_bus.connection("logind");
        QVERIFY(logind.registerService(s("org.freedesktop.login1")));
        LogindResumeNotifier notifier(m_bus.connection("listener"));
        QVERIFY(notifier.isListening());
        QSignalSpy resumed(&notifier, &SystemResumeNotifier::resumed);
        for (auto [bus, starting] :
             {std::pair{m_bus.connection("impostor"), false}, {logind, true}, {logind, false}}) {
            QVERIFY(bus.send(signalFrom(s("/org/freedesktop/login1"),
                                        "org.freedesktop.login1.Manager", "PrepareForSleep")
                             << starting));
        }
        QVERIFY(resumed.wait(5000));
        QTest::qWait(100); // anything else would have arrived by now
        QCOMPARE(resumed.count(), 1);
    }

    void portalBindsActivatesAndIsRefused()
    {
        QDBusConnection service = m_bus.connection("portal");
        FakeGlobalShortcuts portal;
        QVERIFY(service.registerVirtualObject(portalPath, &portal));
        QVERIFY(service.registerService(portalService));
        auto manager = makePortalHotKeyManager(m_bus.connection("portal client"));
        QSignalSpy activated(manager.get(), &HotKeyManager::activated);
        QCOMPARE(registration(*manager, Qt::ControlModifier | Qt::AltModifier | Qt::Key_A),
                 s("registered"));
        QVERIFY(manager->isRegistered());
        QCOMPARE(portal.bound, portal.session + s(" quick-search CTRL+ALT+a"));
        for (const char *id : {"other", "quick-search"}) {
            service.send(
                signalFrom(portalPath, "org.freedesktop.portal.GlobalShortcuts", "Activated")
                << QVariant::fromValue(QDBusObjectPath(portal.session)) << s(id) << qulonglong(1)
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

    // A newer message replaces the previous one; markup is escaped; without a service on
    // the bus the fallback shows the message.
    void notificationsAreSentOrFallBack_data()
    {
        QTest::addColumn<bool>("serviceRuns");
        QTest::newRow("notification service") << true;
        QTest::newRow("none on the bus") << false;
    }
    void notificationsAreSentOrFallBack()
    {
        QFETCH(bool, serviceRuns);
        QDBusConnection service = m_bus.connection(serviceRuns ? "notify" : "no notify");
        FakeNotifications fake;
        const QString name = s("org.freedesktop.Notifications");
        if (serviceRuns) {
            QVERIFY(service.registerObject(s("/org/freedesktop/Notifications"), &fake,
                                           QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService(name));
        }
        QStringList fallenBack;
        auto notifier = makeFreedesktopNotifier(
            m_bus.connection(serviceRuns ? "notify client" : "no notify client"),
            [&](const QString &title, const QString &body) {
                fallenBack.append(title + u'|' + body);
            });
        notifier->notify(s("Sync failed"), s("R&D <b>down</b>"));
        QTRY_COMPARE(fake.shown.size() + fallenBack.size(), 1);
        notifier->notify(s("Sync failed"), s("again"));
        QTRY_COMPARE(fake.shown.size() + fallenBack.size(), 2);
        if (serviceRuns) {
            QCOMPARE(fake.shown.first(), s("Tessera|Sync failed|R&amp;D &lt;b&gt;down&lt;/b&gt;"));
            QCOMPARE(fake.replaced, (QList<uint>{0, 41}));
            QVERIFY(fallenBack.isEmpty());
            service.unregisterService(name);
        } else {
            QCOMPARE(fallenBack.last(), s("Sync failed|again"));
        }
    }

    void aMissingPortalOrInterfaceFails()
    {
        const QString failed =
            s("-1 Could not register the global hotkey. It may already be in use.");
        auto manager = makePortalHotKeyManager(m_bus.connection("bare client"));
        QCOMPARE(registration(*manager, Qt::AltModifier | Qt::Key_Space), failed);
        QDBusConnection service = m_bus.connection("bare portal");
        QObject bare;
        QVERIFY(service.registerObject(portalPath, &bare));
        QVERIFY(service.registerService(portalService));
        QCOMPARE(registration(*manager, Qt::AltModifier | Qt::Key_Space), failed);
        QVERIFY(!manager->isRegistered());
    }
};

QTEST_GUILESS_MAIN(TestDBusAdapters)
#include "tst_dbusadapters.moc"
