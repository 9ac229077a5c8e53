// The secure store's algorithms over the in-memory operations.
#include "foundation/asyncevent.h"
#include "storage/inmemorykeychain.h"
#include "storage/keychain.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;

namespace {
const SSOToken sampleToken{QStringLiteral("access"), std::nullopt,
                           QDateTime::fromSecsSinceEpoch(2'000'000'000, Qt::UTC),
                           QStringLiteral("us-east-1"), QStringLiteral("https://x/start")};

// An operation of a store that keeps the caller waiting until `gate` opens.
QCoro::Task<std::int32_t> answerWhenOpen(std::shared_ptr<AsyncEvent> gate,
                                         std::shared_ptr<QStringList> calls, QString name)
{
    calls->append(name + QStringLiteral(" begins"));
    co_await *gate;
    calls->append(name + QStringLiteral(" ends"));
    co_return keychainStatusSuccess;
}

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
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(QStringLiteral("token"))), std::nullopt);

        store.setItem(QStringLiteral("token"), encodeSSOToken(sampleToken));
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(QStringLiteral("token"))), sampleToken);
        // The load asked for the data of one item of the Tessera service.
        QCOMPARE(store.state().copyCalls, 2);

        store.setItem(QStringLiteral("token"), QByteArray("{\"accessToken\":1}"));
        QVERIFY(keychainErrorOf([&] {
                    test::waitFor(keychain.load<SSOToken>(QStringLiteral("token")));
                }) == KeychainError::decoding());

        store.setItem(QStringLiteral("token"), QStringLiteral("text, not bytes"));
        QVERIFY(keychainErrorOf([&] {
                    test::waitFor(keychain.load<SSOToken>(QStringLiteral("token")));
                }) == KeychainError::invalidItem());

        store.state().copyStatus = keychainStatusSuccess; // success, but no data
        QVERIFY(keychainErrorOf([&] {
                    test::waitFor(keychain.load<SSOToken>(QStringLiteral("token")));
                }) == KeychainError::invalidItem());

        store.state().copyStatus = -25293;
        QCOMPARE(keychainErrorOf([&] {
                     test::waitFor(keychain.load<SSOToken>(QStringLiteral("token")));
                 }).status(),
                 -25293);
    }

    void theQueryNamesServiceAccountAndOneItem()
    {
        QVariantMap seen;
        ImmediateKeychainOperations operations;
        operations.copyMatching = [&](const QVariantMap &query) {
            seen = query;
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        };
        test::waitFor(Keychain(answeredAtOnce(operations)).loadData(QStringLiteral("client")));
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

        test::waitFor(keychain.save(sampleToken, QStringLiteral("token")));
        QCOMPARE(state.updateCalls, 1);
        QCOMPARE(state.addCalls, 1);
        QCOMPARE(store.item(QStringLiteral("token"))->toByteArray(), encodeSSOToken(sampleToken));

        SSOToken changed = sampleToken;
        changed.accessToken = QStringLiteral("new");
        test::waitFor(keychain.save(changed, QStringLiteral("token")));
        QCOMPARE(state.updateCalls, 2);
        QCOMPARE(state.addCalls, 1);
        QCOMPARE(test::waitFor(keychain.load<SSOToken>(QStringLiteral("token"))), changed);

        state.updateStatus = -34;
        QCOMPARE(keychainErrorOf([&] {
                     test::waitFor(keychain.save(sampleToken, QStringLiteral("token")));
                 }).description(),
                 QStringLiteral("Tessera could not access its secure store. (status -34)"));
        QCOMPARE(state.addCalls, 1);

        state.updateStatus = keychainStatusItemNotFound;
        state.addStatus = -25299;
        QCOMPARE(keychainErrorOf([&] {
                     test::waitFor(keychain.save(sampleToken, QStringLiteral("client")));
                 }).status(),
                 -25299);
        QCOMPARE(state.addCalls, 2);
    }

    void aWaitingOperationHoldsBackTheNext()
    {
        auto gate = std::make_shared<AsyncEvent>();
        auto calls = std::make_shared<QStringList>();
        KeychainSecurityOperations operations;
        operations.update = [gate, calls](QVariantMap, QVariantMap) {
            return answerWhenOpen(gate, calls, QStringLiteral("update"));
        };
        operations.remove = [gate, calls](QVariantMap) {
            return answerWhenOpen(gate, calls, QStringLiteral("remove"));
        };
        const Keychain keychain(operations);
        QCoro::Task<void> saving = keychain.saveData("new", QStringLiteral("token"));
        QCoro::Task<void> removing = Keychain(keychain).remove(QStringLiteral("token"));
        QCOMPARE(*calls, QStringList{QStringLiteral("update begins")});
        gate->set();
        QCOMPARE(*calls,
                 (QStringList{QStringLiteral("update begins"), QStringLiteral("update ends"),
                              QStringLiteral("remove begins"), QStringLiteral("remove ends")}));
        QVERIFY(saving.isReady());
        QVERIFY(removing.isReady());
    }

    void deleteTreatsMissingAsDeleted()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        store.setItem(QStringLiteral("token"), QByteArray("x"));
        test::waitFor(keychain.remove(QStringLiteral("token")));
        QCOMPARE(store.item(QStringLiteral("token")), std::nullopt);
        test::waitFor(keychain.remove(QStringLiteral("token")));
        QCOMPARE(store.state().removeCalls, 2);

        store.state().removeStatus = -61;
        QCOMPARE(keychainErrorOf([&] {
                     test::waitFor(keychain.remove(QStringLiteral("token")));
                 }).status(),
                 -61);
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
