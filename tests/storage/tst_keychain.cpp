// The secure store's algorithms over the in-memory operations.
#include "foundation/asyncevent.h"
#include "storage/inmemorykeychain.h"
#include "storage/keychain.h"
#include "support/testsupport.h"

#include <QTest>

using namespace tessera;
using namespace Qt::StringLiterals;

namespace {
const SSOToken sampleToken{u"access"_s, std::nullopt,
                           QDateTime::fromSecsSinceEpoch(2'000'000'000, Qt::UTC), u"us-east-1"_s,
                           u"https://x/start"_s};

// An operation of a store that keeps the caller waiting until `gate` opens.
QCoro::Task<std::int32_t> answerWhenOpen(std::shared_ptr<AsyncEvent> gate,
                                         std::shared_ptr<QStringList> calls, QString name)
{
    calls->append(name + u" begins"_s);
    co_await *gate;
    calls->append(name + u" ends"_s);
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
    void loadAnswers()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        const auto load = [&] { return test::waitFor(keychain.load<SSOToken>(u"token"_s)); };
        QCOMPARE(load(), std::nullopt);
        store.setItem(u"token"_s, encodeSSOToken(sampleToken));
        QCOMPARE(load(), sampleToken);

        store.setItem(u"token"_s, QByteArray("{\"accessToken\":1}"));
        QCOMPARE(keychainErrorOf(load), KeychainError::decoding());
        QCOMPARE(keychainErrorOf(load).description(),
                 u"Tessera could not read the saved sign-in from its secure store."_s);
        store.setItem(u"token"_s, u"text, not bytes"_s);
        QCOMPARE(keychainErrorOf(load), KeychainError::invalidItem());
        store.state().copyStatus = keychainStatusSuccess; // success, but no data
        QCOMPARE(keychainErrorOf(load), KeychainError::invalidItem());
        store.state().copyStatus = -25293;
        QCOMPARE(keychainErrorOf(load), KeychainError::operationFailed(-25293));
        QVERIFY(!(keychainErrorOf(load) == KeychainError::operationFailed(-25300)));
    }

    void theQueryNamesServiceAccountAndOneItem()
    {
        QVariantMap seen;
        ImmediateKeychainOperations operations;
        operations.copyMatching = [&](const QVariantMap &query) {
            seen = query;
            return KeychainCopyResult{keychainStatusItemNotFound, std::nullopt};
        };
        test::waitFor(Keychain(answeredAtOnce(operations)).loadData(u"client"_s));
        QCOMPARE(seen, (QVariantMap{{u"class"_s, u"genericPassword"_s},
                                    {u"service"_s, u"Tessera"_s},
                                    {u"account"_s, u"client"_s},
                                    {u"returnData"_s, true},
                                    {u"matchLimit"_s, u"one"_s}}));
    }

    void saveUpdatesThenAdds()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        auto &state = store.state();
        test::waitFor(keychain.save(sampleToken, u"token"_s));
        SSOToken changed = sampleToken;
        changed.accessToken = u"new"_s;
        test::waitFor(keychain.save(changed, u"token"_s));
        QCOMPARE(state.updateCalls, 2);
        QCOMPARE(state.addCalls, 1);
        QCOMPARE(store.item(u"token"_s)->toByteArray(), encodeSSOToken(changed));

        state.updateStatus = -34;
        const auto save = [&] { test::waitFor(keychain.save(sampleToken, u"client"_s)); };
        QCOMPARE(keychainErrorOf(save).description(),
                 u"Tessera could not access its secure store. (status -34)"_s);
        QCOMPARE(state.addCalls, 1);
        state.updateStatus = keychainStatusItemNotFound;
        state.addStatus = -25299;
        QCOMPARE(keychainErrorOf(save), KeychainError::operationFailed(-25299));
    }

    void aWaitingOperationHoldsBackTheNext()
    {
        auto gate = std::make_shared<AsyncEvent>();
        auto calls = std::make_shared<QStringList>();
        KeychainSecurityOperations operations;
        operations.update = [gate, calls](QVariantMap, QVariantMap) {
            return answerWhenOpen(gate, calls, u"update"_s);
        };
        operations.remove = [gate, calls](QVariantMap) {
            return answerWhenOpen(gate, calls, u"remove"_s);
        };
        const Keychain keychain(operations);
        QCoro::Task<void> saving = keychain.saveData("new", u"token"_s);
        QCoro::Task<void> removing = Keychain(keychain).remove(u"token"_s);
        QCOMPARE(*calls, QStringList{u"update begins"_s});
        gate->set();
        QCOMPARE(*calls, (QStringList{u"update begins"_s, u"update ends"_s, u"remove begins"_s,
                                      u"remove ends"_s}));
        QVERIFY(saving.isReady());
        QVERIFY(removing.isReady());
    }

    void deleteTreatsMissingAsDeleted()
    {
        InMemoryKeychainStore store;
        const Keychain keychain(store.operations());
        store.setItem(u"token"_s, QByteArray("x"));
        test::waitFor(keychain.remove(u"token"_s));
        QCOMPARE(store.item(u"token"_s), std::nullopt);
        test::waitFor(keychain.remove(u"token"_s));
        store.state().removeStatus = -61;
        QCOMPARE(keychainErrorOf([&] { test::waitFor(keychain.remove(u"token"_s)); }),
                 KeychainError::operationFailed(-61));
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
