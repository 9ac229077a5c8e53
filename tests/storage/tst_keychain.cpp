// The secure store's algorithms over the in-memory operations.
#include "storage/inmemorykeychain.h"
#include "storage/keychain.h"

#include <QTest>

using namespace tessera;

namespace {
const SSOToken sampleToken{QStringLiteral("access"), std::nullopt,
                           QDateTime::fromSecsSinceEpoch(2'000'000'000, Qt::UTC),
                           QStringLiteral("us-east-1"), QStringLiteral("https://x/start")};

template<typename F> KeychainError keychainErrorOf(F &&call)
{
    try {
        call();
    } catch (const KeychainError &error) {
        return error;
    }
    throw std::runtime_error("no KeychainError was raised");
}
} // namespace

class TestKeychain : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void errorTexts_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative")
            << -25308
            << QStringLiteral("Tessera could not access its secure store. (status -25308)");
        QTest::newRow("positive") << 7
                                  << QStringLiteral(
                                         "Tessera could not access its secure store. (status 7)");
    }

    void errorTexts()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        QCOMPARE(KeychainError::operationFailed(status).description(), text);
        QCOMPARE(KeychainError::encoding().description(),
                 QStringLiteral("Tessera could not prepare sign-in data for secure storage."));
        QCOMPARE(KeychainError::decoding().description(),
                 QStringLiteral("Tessera could not read the saved sign-in from its secure store."));
        QCOMPARE(KeychainError::invalidItem().description(),
                 QStringLiteral("Tessera could not read the saved sign-in from its secure store."));
        QVERIFY(KeychainError::operationFailed(status) == KeychainError::operationFailed(status));
        QVERIFY(!(KeychainError::operationFailed(status) == KeychainError::operationFailed(1)));
        QVERIFY(!(KeychainError::decoding() == KeychainError::invalidItem()));
    }

    void loadAnswers()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        QCOMPARE(keychain.load<SSOToken>(QStringLiteral("token")), std::nullopt);

        store.setItem(QStringLiteral("token"), encodeSSOToken(sampleToken));
        QCOMPARE(keychain.load<SSOToken>(QStringLiteral("token")), sampleToken);
        // The load asked for the data of one item of the Tessera service.
        QCOMPARE(store.state().copyCalls, 2);

        store.setItem(QStringLiteral("token"), QByteArray("{\"accessToken\":1}"));
        QVERIFY(keychainErrorOf([&] { keychain.load<SSOToken>(QStringLiteral("token")); }) ==
                KeychainError::decoding());

        store.setItem(QStringLiteral("token"), QStringLiteral("text, not bytes"));
        QVERIFY(keychainErrorOf([&] { keychain.load<SSOToken>(QStringLiteral("token")); }) ==
                KeychainError::invalidItem());

        store.state().copyStatus = keychainStatusSuccess; // success, but no data
        QVERIFY(keychainErrorOf([&] { keychain.load<SSOToken>(QStringLiteral("token")); }) ==
                KeychainError::invalidItem());

        store.state().copyStatus = -25293;
        QCOMPARE(
            keychainErrorOf([&] { keychain.load<SSOToken>(QStringLiteral("token")); }).status(),
            -25293);
    }

    void theQueryNamesServiceAccountAndOneItem()
    {
        QVariantMap seen;
        KeychainSecurityOperations operations;
        operations.copyMatching = [&](const QVariantMap &query) {
            seen = query;
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        };
        Keychain(operations).loadData(QStringLiteral("client"));
        QCOMPARE(seen.value(QStringLiteral("service")).toString(), QStringLiteral("Tessera"));
        QCOMPARE(seen.value(QStringLiteral("account")).toString(), QStringLiteral("client"));
        QCOMPARE(seen.value(QStringLiteral("returnData")).toBool(), true);
        QCOMPARE(seen.value(QStringLiteral("matchLimit")).toString(), QStringLiteral("one"));
    }

    void saveUpdatesThenAdds()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        auto &state = store.state();

        keychain.save(sampleToken, QStringLiteral("token"));
        QCOMPARE(state.updateCalls, 1);
        QCOMPARE(state.addCalls, 1);
        QCOMPARE(store.item(QStringLiteral("token"))->toByteArray(), encodeSSOToken(sampleToken));

        SSOToken changed = sampleToken;
        changed.accessToken = QStringLiteral("new");
        keychain.save(changed, QStringLiteral("token"));
        QCOMPARE(state.updateCalls, 2);
        QCOMPARE(state.addCalls, 1);
        QCOMPARE(keychain.load<SSOToken>(QStringLiteral("token")), changed);

        state.updateStatus = -34;
        QCOMPARE(keychainErrorOf([&] {
                     keychain.save(sampleToken, QStringLiteral("token"));
                 }).description(),
                 QStringLiteral("Tessera could not access its secure store. (status -34)"));
        QCOMPARE(state.addCalls, 1);

        state.updateStatus = keychainStatusItemNotFound;
        state.addStatus = -25299;
        QCOMPARE(
            keychainErrorOf([&] { keychain.save(sampleToken, QStringLiteral("client")); }).status(),
            -25299);
        QCOMPARE(state.addCalls, 2);
    }

    void deleteTreatsMissingAsDeleted()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        store.setItem(QStringLiteral("token"), QByteArray("x"));
        keychain.remove(QStringLiteral("token"));
        QCOMPARE(store.item(QStringLiteral("token")), std::nullopt);
        keychain.remove(QStringLiteral("token"));
        QCOMPARE(store.state().removeCalls, 2);

        store.state().removeStatus = -61;
        QCOMPARE(keychainErrorOf([&] { keychain.remove(QStringLiteral("token")); }).status(), -61);
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
