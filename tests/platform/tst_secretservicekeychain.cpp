// The Secret Service backend against a real GNOME Keyring on a private session bus.
#include "platform/linux/secretservice.h"
#include "platform/secretstore.h"
#include "privatesessionbus.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDirIterator>
#include <QTest>
#include <QTimer>

using namespace tessera;

namespace {
QVariantMap queryFor(const char *account)
{
    return Keychain::baseQuery(QString::fromLatin1(account));
}

QVariantMap withData(QVariantMap attributes, const QByteArray &data)
{
    attributes.insert(QLatin1String(keychainattr::valueData), data);
    return attributes;
}

// Every file under `folder` whose bytes contain `needle`.
QStringList filesContaining(const QString &folder, const QByteArray &needle)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle)) {
            found << file.fileName();
        }
    }
    return found;
}

QString loadFailure(const KeychainSecurityOperations &operations, const char *account)
{
    try {
        test::waitFor(Keychain(operations).loadData(QString::fromLatin1(account)));
    } catch (const KeychainError &error) {
        return error.description();
    }
    return QStringLiteral("loaded");
}
} // namespace

class TestSecretServiceKeychain : public QObject
{
    Q_OBJECT

    test::PrivateSessionBus m_bus;
    KeychainSecurityOperations m_operations = makeSecretServiceKeychainOperations();

private Q_SLOTS:
    void initTestCase()
    {
        // Without any bus the backend answers, and says it is unavailable.
        QCOMPARE(loadFailure(m_operations, "token"),
                 QStringLiteral("Tessera could not access Keychain (status -25291)."));
        QCOMPARE(m_bus.start(), QString());
        // Before anything in this process opens the session bus, so that libsecret and
        // QtDBus both reach the private one.
        m_bus.applyToThisProcess();
        QCOMPARE(m_bus.startKeyring(), QString());
    }

    void aProviderTheBusCanStartCounts()
    {
        test::PrivateSessionBus activatable;
        QCOMPARE(activatable.start({QLatin1String(secretServiceBusName)}), QString());
        QVERIFY(secretServiceAvailable(
            QDBusConnection::connectToBus(activatable.address(), QStringLiteral("activatable"))));
        QDBusConnection::disconnectFromBus(QStringLiteral("activatable"));
    }

    void primitivesAnswerTheStatuses()
    {
        const QVariantMap query = queryFor("primitives");
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).status,
                 keychainStatusItemNotFound);
        QCOMPARE(test::waitFor(m_operations.update(query, withData({}, "x"))),
                 keychainStatusItemNotFound);
        QCOMPARE(test::waitFor(m_operations.remove(query)), keychainStatusItemNotFound);

        // Secrets are bytes, not text: NUL and invalid UTF-8 survive.
        const QByteArray first("first\0\xff\xfe", 8);
        QCOMPARE(test::waitFor(m_operations.add(withData(query, first))), keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).result->toByteArray(), first);
        QCOMPARE(test::waitFor(m_operations.update(query, withData({}, "second"))),
                 keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).result->toByteArray(),
                 QByteArray("second"));

        // The account is part of the identity; the service too.
        QVariantMap otherService = query;
        otherService.insert(QLatin1String(keychainattr::service), QStringLiteral("NotTessera"));
        for (const QVariantMap &other : {queryFor("other"), otherService}) {
            QCOMPARE(test::waitFor(m_operations.copyMatching(other)).status,
                     keychainStatusItemNotFound);
        }
        QCOMPARE(test::waitFor(m_operations.remove(query)), keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).status,
                 keychainStatusItemNotFound);
        QVariantMap noAccount = query;
        noAccount.remove(QLatin1String(keychainattr::account));
        QCOMPARE(test::waitFor(m_operations.copyMatching(noAccount)).status,
                 secretServiceStatusInvalidQuery);
    }

    void theKeyringIsChosenAndNoSecretLandsInAFile()
    {
        QVERIFY(secretServiceAvailable());
        const Keychain keychain(productionKeychainOperations());
        const SSOToken token{QStringLiteral("access-token-8f4a1c0e-never-on-disk"),
                             QStringLiteral("refresh-token-2b9d-never-on-disk"),
                             QDateTime::fromMSecsSinceEpoch(1'800'000'000'500, Qt::UTC),
                             QStringLiteral("eu-west-1"),
                             QStringLiteral("https://example.awsapps.com/start")};
        const QString account = QLatin1String(keychainTokenAccount);
        test::waitFor(keychain.save(token, account));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(account)), token);

        // The keyring file is encrypted; nothing else anywhere under HOME holds a secret.
        for (const QByteArray &needle : {QByteArray("8f4a1c0e"), QByteArray("2b9d-never")}) {
            QCOMPARE(filesContaining(m_bus.homePath(), needle), QStringList());
        }
        test::waitFor(keychain.remove(account));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(account)), std::nullopt);
    }

    void aLockedKeyringIsAnErrorNotAMissingItem()
    {
        test::waitFor(Keychain(m_operations).saveData("kept", QStringLiteral("locked")));
        QDBusMessage lock = QDBusMessage::createMethodCall(
            QLatin1String(secretServiceBusName), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"));
        lock << QVariant::fromValue(QList<QDBusObjectPath>{
            QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/aliases/default"))});
        QCOMPARE(QDBusConnection::sessionBus().call(lock).type(), QDBusMessage::ReplyMessage);

        // The lookup waits for the keyring over the bus while the event loop runs on: with
        // a blocking call the timer could not fire before the answer. Nobody can answer an
        // unlock prompt on this bus.
        QTimer ticker;
        int ticks = 0;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(0);
        QCoro::Task<KeychainCopyResult> waiting = m_operations.copyMatching(queryFor("locked"));
        QVERIFY(!waiting.isReady());
        QCOMPARE(test::waitFor(std::move(waiting)).status, secretServiceStatusLocked);
        QVERIFY2(ticks > 0, "the event loop stood still while the keyring answered");
        QCOMPARE(test::waitFor(m_operations.update(queryFor("locked"), withData({}, "new"))),
                 secretServiceStatusLocked);
        QCOMPARE(loadFailure(m_operations, "locked"),
                 QStringLiteral("Tessera could not access Keychain (status -25308)."));
    }

    void aVanishedKeyringIsUnavailableAndTheFilesTakeOver()
    {
        m_bus.stopKeyring();
        QCOMPARE(test::waitFor(m_operations.add(withData(queryFor("gone"), "x"))),
                 secretServiceStatusUnavailable);
        QCOMPARE(loadFailure(m_operations, "gone"),
                 QStringLiteral("Tessera could not access Keychain (status -25291)."));
        // The process keeps running after the provider left the bus; the next start keeps
        // sign-in data in private files.
        QVERIFY(!secretServiceAvailable());
        const KeychainSecurityOperations files = productionKeychainOperations();
        QVERIFY2(files.storeDescription.contains(m_bus.homePath() +
                                                 QStringLiteral("/data/Tessera/secrets")),
                 qPrintable(files.storeDescription));
        test::waitFor(Keychain(files).saveData("secret", QStringLiteral("token")));
        QCOMPARE(test::waitFor(Keychain(files).loadData(QStringLiteral("token"))),
                 QByteArray("secret"));
    }
};

QTEST_GUILESS_MAIN(TestSecretServiceKeychain)
#include "tst_secretservicekeychain.moc"
