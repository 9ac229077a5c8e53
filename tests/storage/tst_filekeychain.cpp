// The private file store used where no Secret Service exists.
#include "storage/filekeychain.h"
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

namespace {
mode_t modeOf(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}
} // namespace

class TestFileKeychain : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

private Q_SLOTS:
    void itemsArePrivateFiles()
    {
        const QString folder = m_root.path() + QStringLiteral("/secrets");
        const KeychainSecurityOperations operations = makeFileKeychainOperations(folder);
        QVERIFY(!QFileInfo::exists(folder)); // nothing is created before the first item

        const Keychain keychain(operations);
        QCOMPARE(test::waitFor(keychain.loadData(QStringLiteral("token"))), std::nullopt);
        test::waitFor(keychain.saveData("one", QStringLiteral("token")));
        test::waitFor(keychain.saveData("two", QStringLiteral("client")));
        QCOMPARE(modeOf(folder), mode_t(0700));
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
        const mode_t umask = ::umask(0);
        test::waitFor(
            Keychain(makeFileKeychainOperations(m_root.path() + QStringLiteral("/private")))
                .saveData("x", QStringLiteral("token")));
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
        QCOMPARE(modeOf(m_root.path() + QStringLiteral("/private")), mode_t(0700));
    }

    void aLooseFolderIsTightened()
    {
        const QString folder = m_root.path() + QStringLiteral("/loose");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        test::waitFor(
            Keychain(makeFileKeychainOperations(folder)).saveData("x", QStringLiteral("token")));
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
        const auto answer =
            test::waitFor(operations.copyMatching(Keychain::baseQuery(QStringLiteral("token"))));
        QCOMPARE(answer.status, fileKeychainIOFailure);
        QCOMPARE(test::waitFor(operations.update(Keychain::baseQuery(QStringLiteral("token")),
                                                 {{QStringLiteral("valueData"), QByteArray("y")}})),
                 fileKeychainIOFailure);
        // The user is told which folder to look at.
        const Keychain keychain(operations);
        try {
            test::waitFor(keychain.saveData("y", QStringLiteral("token")));
            QFAIL("an unwritable item was saved");
        } catch (const KeychainError &error) {
            QVERIFY2(error.description().contains(folder), qPrintable(error.description()));
            QVERIFY(error.description().endsWith(QStringLiteral("(status -36)")));
        }
    }
};

QTEST_GUILESS_MAIN(TestFileKeychain)
#include "tst_filekeychain.moc"
