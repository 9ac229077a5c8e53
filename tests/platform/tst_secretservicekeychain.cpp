// The Secret Service backend against a real GNOME Keyring on a private session bus.
#include "platform/secretstore.h"
#include "privatesessionbus.h"
#include "storage/keychain.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDirIterator>
#include <QTest>
#include <QTimer>

using namespace tessera;

namespace {

QVariantMap queryFor(const QString &account)
{
    return Keychain::baseQuery(account);
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
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle)) {
            found << file.fileName();
        }
    }
    return found;
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
        const QString busError = m_bus.start();
        if (!busError.isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("private session bus: ") + busError));
        }
        // Before anything in this process opens the session bus, so that libsecret and
        // QtDBus both reach the private one.
        m_bus.applyToThisProcess();
        const QString keyringError = m_bus.startKeyring();
        if (!keyringError.isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("keyring: ") + keyringError));
        }
    }

    void theKeyringIsChosenWhenPresent()
    {
        QVERIFY(secretServiceAvailable());
        const KeychainSecurityOperations chosen = productionKeychainOperations();
        QCOMPARE(chosen.storeDescription, m_operations.storeDescription);
    }

    void availabilityCountsOwnedAndActivatableProviders()
    {
        test::PrivateSessionBus empty;
        QVERIFY2(empty.start().isEmpty(), "second private bus");
        test::PrivateSessionBus activatable;
        QVERIFY2(activatable.start({QLatin1String(secretServiceBusName)}).isEmpty(),
                 "third private bus");

        const QDBusConnection emptyBus =
            QDBusConnection::connectToBus(empty.address(), QStringLiteral("empty"));
        const QDBusConnection activatableBus =
            QDBusConnection::connectToBus(activatable.address(), QStringLiteral("activatable"));
        QVERIFY(emptyBus.isConnected());
        QVERIFY(activatableBus.isConnected());
        QVERIFY(!secretServiceAvailable(emptyBus));
        QVERIFY(secretServiceAvailable(activatableBus));
        QDBusConnection::disconnectFromBus(QStringLiteral("empty"));
        QDBusConnection::disconnectFromBus(QStringLiteral("activatable"));
    }

    void primitivesAnswerTheStatuses()
    {
        const QVariantMap query = queryFor(QStringLiteral("primitives"));
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).status,
                 keychainStatusItemNotFound);
        QCOMPARE(test::waitFor(m_operations.update(query, withData({}, "x"))),
                 keychainStatusItemNotFound);
        QCOMPARE(test::waitFor(m_operations.remove(query)), keychainStatusItemNotFound);

        // Secrets are bytes, not text: NUL and invalid UTF-8 survive.
        const QByteArray first("first\0\xff\xfe", 8);
        QCOMPARE(test::waitFor(m_operations.add(withData(query, first))), keychainStatusSuccess);
        KeychainCopyResult read = test::waitFor(m_operations.copyMatching(query));
        QCOMPARE(read.status, keychainStatusSuccess);
        QVERIFY(read.result.has_value());
        QCOMPARE(read.result->toByteArray(), first);

        QCOMPARE(test::waitFor(m_operations.update(query, withData({}, "second"))),
                 keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).result->toByteArray(),
                 QByteArray("second"));

        // The account is part of the identity; the service too.
        QCOMPARE(test::waitFor(m_operations.copyMatching(queryFor(QStringLiteral("other")))).status,
                 keychainStatusItemNotFound);
        QVariantMap otherService = query;
        otherService.insert(QLatin1String(keychainattr::service), QStringLiteral("NotTessera"));
        QCOMPARE(test::waitFor(m_operations.copyMatching(otherService)).status,
                 keychainStatusItemNotFound);

        QCOMPARE(test::waitFor(m_operations.remove(query)), keychainStatusSuccess);
        QCOMPARE(test::waitFor(m_operations.copyMatching(query)).status,
                 keychainStatusItemNotFound);

        QVariantMap noAccount = query;
        noAccount.remove(QLatin1String(keychainattr::account));
        QCOMPARE(test::waitFor(m_operations.copyMatching(noAccount)).status,
                 secretServiceStatusInvalidQuery);
    }

    void recordsRoundTripAndNothingLandsInFiles()
    {
        const Keychain keychain(productionKeychainOperations());
        const QString access = QStringLiteral("access-token-8f4a1c0e-never-on-disk");
        SSOToken token{access, QStringLiteral("refresh-token-2b9d-never-on-disk"),
                       QDateTime::fromMSecsSinceEpoch(1'800'000'000'500, Qt::UTC),
                       QStringLiteral("eu-west-1"),
                       QStringLiteral("https://example.awsapps.com/start")};
        const ClientRegistration client{
            QStringLiteral("client-id"), QStringLiteral("client-secret-77c3-never-on-disk"),
            QDateTime::fromSecsSinceEpoch(1'900'000'000, Qt::UTC), QStringLiteral("eu-west-1")};

        test::waitFor(keychain.save(token, QLatin1String(keychainTokenAccount)));
        test::waitFor(keychain.save(client, QLatin1String(keychainClientAccount)));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(QLatin1String(keychainTokenAccount))),
                 token);
        QCOMPARE(
            test::waitFor(keychain.load<ClientRegistration>(QLatin1String(keychainClientAccount))),
            client);

        // The second save updates the item in place.
        token.refreshToken.reset();
        test::waitFor(keychain.save(token, QLatin1String(keychainTokenAccount)));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(QLatin1String(keychainTokenAccount))),
                 token);

        // The keyring file is encrypted; nothing else anywhere under HOME holds a secret.
        QVERIFY(!QFileInfo::exists(m_bus.homePath() + QStringLiteral("/data/Tessera/secrets")));
        for (const QByteArray &needle :
             {QByteArray("8f4a1c0e"), QByteArray("2b9d-never"), QByteArray("77c3-never")}) {
            QCOMPARE(filesContaining(m_bus.homePath(), needle), QStringList());
        }

        test::waitFor(keychain.remove(QLatin1String(keychainTokenAccount)));
        test::waitFor(keychain.remove(QLatin1String(keychainTokenAccount)));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(QLatin1String(keychainTokenAccount))),
                 std::nullopt);
        QVERIFY(
            test::waitFor(keychain.load<ClientRegistration>(QLatin1String(keychainClientAccount))));
    }

    void aLockedKeyringIsAnErrorNotAMissingItem()
    {
        const Keychain keychain(m_operations);
        test::waitFor(keychain.saveData("kept", QStringLiteral("locked")));

        QDBusMessage lock = QDBusMessage::createMethodCall(
            QLatin1String(secretServiceBusName), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"));
        lock << QVariant::fromValue(QList<QDBusObjectPath>{
            QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/aliases/default"))});
        const QDBusMessage locked = QDBusConnection::sessionBus().call(lock);
        QCOMPARE(locked.type(), QDBusMessage::ReplyMessage);

        // The lookup waits for the keyring over the bus while the event loop runs on: with
        // a blocking call the timer could not fire before the answer.
        QTimer ticker;
        int ticks = 0;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(0);
        QCoro::Task<KeychainCopyResult> waiting =
            m_operations.copyMatching(queryFor(QStringLiteral("locked")));
        QVERIFY(!waiting.isReady());
        QCOMPARE(ticks, 0);
        QCOMPARE(test::waitFor(std::move(waiting)).status, secretServiceStatusLocked);
        QVERIFY2(ticks > 0, "the event loop stood still while the keyring answered");
        ticker.stop();

        // Nobody can answer an unlock prompt on this bus.
        const KeychainCopyResult read =
            test::waitFor(m_operations.copyMatching(queryFor(QStringLiteral("locked"))));
        QCOMPARE(read.status, secretServiceStatusLocked);
        QCOMPARE(test::waitFor(
                     m_operations.update(queryFor(QStringLiteral("locked")), withData({}, "new"))),
                 secretServiceStatusLocked);
        try {
            test::waitFor(keychain.loadData(QStringLiteral("locked")));
            QFAIL("loading from a locked keyring succeeded");
        } catch (const KeychainError &error) {
            QCOMPARE(error.errorCase(), KeychainError::Case::operationFailed);
            QCOMPARE(error.description(),
                     QStringLiteral(
                         "Tessera could not access the Secret Service (GNOME Keyring or KWallet): "
                         "the keyring is locked and was not unlocked. (status -25308)"));
        }
    }

    void aVanishedKeyringIsUnavailable()
    {
        m_bus.stopKeyring();
        const Keychain keychain(m_operations);
        QCOMPARE(test::waitFor(m_operations.copyMatching(queryFor(QStringLiteral("gone")))).status,
                 secretServiceStatusUnavailable);
        QCOMPARE(test::waitFor(m_operations.add(withData(queryFor(QStringLiteral("gone")), "x"))),
                 secretServiceStatusUnavailable);
        try {
            test::waitFor(keychain.saveData("x", QStringLiteral("gone")));
            QFAIL("saving without a keyring succeeded");
        } catch (const KeychainError &error) {
            QCOMPARE(error.description(),
                     QStringLiteral(
                         "Tessera could not access the Secret Service (GNOME Keyring or KWallet): "
                         "no keyring service answered on the session bus. (status -25291)"));
        }
        // The process keeps running after the provider left the bus.
        QVERIFY(!secretServiceAvailable());
    }
};

QTEST_GUILESS_MAIN(TestSecretServiceKeychain)
#include "tst_secretservicekeychain.moc"
