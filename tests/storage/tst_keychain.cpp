// The secure store's algorithms over the in-memory operations, and the private file store
// used where no Secret Service exists.
#include "foundation/asyncevent.h"
#include "storage/filekeychain.h"
#include "storage/inmemorykeychain.h"
#include "storage/keychain.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

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

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}
} // namespace

class TestKeychain : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

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
        store.setItem(u"token"_s, u"text, not bytes"_s);
        QCOMPARE(keychainErrorOf(load), KeychainError::invalidItem());
        store.state().copyStatus = keychainStatusSuccess; // success, but no data
        QCOMPARE(keychainErrorOf(load), KeychainError::invalidItem());
        store.state().copyStatus = -25293;
        QCOMPARE(keychainErrorOf(load), KeychainError::operationFailed(-25293));
        QVERIFY(!(keychainErrorOf(load) == KeychainError::operationFailed(-25300)));
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
        QCOMPARE(keychainErrorOf(save), KeychainError::operationFailed(-34));
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

    void itemsArePrivateFiles()
    {
        const QString folder = m_root.path() + QStringLiteral("/secrets");
        const KeychainSecurityOperations operations = makeFileKeychainOperations(folder);
        QVERIFY(!QFileInfo::exists(folder)); // nothing is created before the first item

        const Keychain keychain(operations);
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("token"))), std::nullopt);
        test::waitFor(keychain.saveData("one", QStringLiteral("token")));
        test::waitFor(keychain.saveData("two", QStringLiteral("client")));
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), 2);
        for (const QString &file : files) {
            QCOMPARE(modeOf(folder + QLatin1Char('/') + file), mode_t(0600));
        }

        test::waitFor(keychain.saveData("three", QStringLiteral("token")));
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("token"))), QByteArray("three"));
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("client"))), QByteArray("two"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);

        test::waitFor(keychain.remove(QStringLiteral("token")));
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("token"))), std::nullopt);
        QCOMPARE(test::waitFor(operations.remove(Keychain::baseQuery(QStringLiteral("token")))),
                 keychainStatusItemNotFound);
    }

    void theFolderIsNeverOpenToOthers()
    {
        // Created with its final mode: its mode is never changed afterwards, so it was
        // never wider than that, whatever the umask allows.
        const int events = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(events >= 0);
        QVERIFY(::inotify_add_watch(events, QFile::encodeName(m_root.path()).constData(),
                                    IN_CREATE | IN_ATTRIB) >= 0);
        const QString folder = m_root.path() + QStringLiteral("/private");
        const Keychain keychain(makeFileKeychainOperations(folder));
        const mode_t umask = ::umask(0);
        test::waitFor(keychain.saveData("x", QStringLiteral("token")));
        ::umask(umask);

        QStringList seen;
        alignas(inotify_event) char buffer[4096];
        const ssize_t length = ::read(events, buffer, sizeof buffer);
        ::close(events);
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            seen << (event->mask & IN_ATTRIB ? QStringLiteral("changed ")
                                             : QStringLiteral("created ")) +
                        QString::fromLocal8Bit(event->name);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
        QCOMPARE(seen, QStringList{QStringLiteral("created private")});
        QCOMPARE(modeOf(folder), mode_t(0700));

        // A folder loosened afterwards is tightened again when an item is added.
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        test::waitFor(keychain.saveData("y", QStringLiteral("client")));
        QCOMPARE(modeOf(folder), mode_t(0700));
    }

    void accountNamesCannotEscapeTheFolder()
    {
        const QString base = m_root.path() + QStringLiteral("/escape");
        const QString folder = base + QStringLiteral("/inner/secrets");
        const Keychain keychain(makeFileKeychainOperations(folder));
        test::waitFor(keychain.saveData("x", QStringLiteral("../../escaped")));
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("../../escaped"))),
                 QByteArray("x"));
        QCOMPARE(QDir(base).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({QStringLiteral("inner")}));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
    }

    void anUnreadableItemIsAFailureNotAMissingItem()
    {
        const QString folder = m_root.path() + QStringLiteral("/broken");
        const KeychainSecurityOperations operations = makeFileKeychainOperations(folder);
        test::waitFor(Keychain(operations).saveData("x", QStringLiteral("token")));
        const QString item =
            folder + QLatin1Char('/') + QDir(folder).entryList(QDir::Files).constFirst();
        QVERIFY(QFile::remove(item));
        QVERIFY(QDir().mkpath(item)); // a directory where the item belongs
        const Keychain keychain(operations);
        QCOMPARE(keychainErrorOf([&] { test::waitFor(keychain.loadData(u"token"_s)); }),
                 KeychainError::operationFailed(fileKeychainIOFailure));
        // The user is told which folder to look at.
        const QString said = keychainErrorOf([&] {
                                 test::waitFor(keychain.saveData("y", u"token"_s));
                             }).description();
        QVERIFY2(said.contains(folder) && said.endsWith(u"(status -36)"_s), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
