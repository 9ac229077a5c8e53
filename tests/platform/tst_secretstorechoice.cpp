// Without any session bus: the private file store is chosen, and the Secret Service
// backend reports itself unavailable instead of failing silently.
#include "platform/secretstore.h"
#include "storage/filekeychain.h"
#include "storage/keychain.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tessera;

class TestSecretStoreChoice : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    }

    void theFileStoreIsChosenWithoutASecretService()
    {
        QVERIFY(!secretServiceAvailable());
        const KeychainSecurityOperations operations = productionKeychainOperations();
        const QString folder = m_data.path() + QStringLiteral("/Tessera/secrets");
        QVERIFY2(operations.storeDescription.contains(folder),
                 qPrintable(operations.storeDescription));

        const Keychain keychain(operations);
        test::waitFor(keychain.saveData("secret", QStringLiteral("token")));
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("token"))), QByteArray("secret"));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
    }

    void theSecretServiceBackendReportsItselfUnavailable()
    {
        const KeychainSecurityOperations operations = makeSecretServiceKeychainOperations();
        const QVariantMap query = Keychain::baseQuery(QStringLiteral("token"));
        QCOMPARE(test::waitFor(operations.copyMatching(query)).status,
                 secretServiceStatusUnavailable);
        QCOMPARE(test::waitFor(operations.remove(query)), secretServiceStatusUnavailable);
        try {
            test::waitFor(Keychain(operations).load<SSOToken>(QStringLiteral("token")));
            QFAIL("loading without a bus succeeded");
        } catch (const KeychainError &error) {
            QCOMPARE(error.description(),
                     QStringLiteral(
                         "Tessera could not access the Secret Service (GNOME Keyring or KWallet): "
                         "no keyring service answered on the session bus. (status -25291)"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSecretStoreChoice)
#include "tst_secretstorechoice.moc"
