// Support-folder files: locations, loading, atomic saving.
#include "storage/interruptedwrites.h"
#include "storage/supportfiles.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tessera;

namespace {
bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct stat statOf(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}
} // namespace

class TestSupportFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QString folder() const { return m_data.path() + QStringLiteral("/Tessera"); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }

    void cleanup() { QDir(folder()).removeRecursively(); }

    void loadsDistinguishMissingFromBroken()
    {
        QCOMPARE(loadAccountCache(), std::nullopt);
        QCOMPARE(loadOrganization(), std::nullopt);
        QVERIFY(QFileInfo(folder()).isDir());
        // Saving and loading whole records is covered by the account store's tests.
        QVERIFY(writeBytes(folder() + QStringLiteral("/organization.json"), "{broken"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, loadOrganization());
        // A directory in place of the file is an error, not a missing file.
        QVERIFY(QDir().mkpath(folder() + QStringLiteral("/accounts.json")));
        QVERIFY_THROWS_EXCEPTION(FileError, loadAccountCache());
        // And a file where the folder belongs.
        QDir(folder()).removeRecursively();
        QVERIFY(writeBytes(folder(), "not a folder"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Could not create the folder")));
        namedSupportFileURL(QStringLiteral("aws-profile-mappings.json"));
        QVERIFY_THROWS_EXCEPTION(FileError, loadAccountCache());
        QVERIFY_THROWS_EXCEPTION(FileError, saveOrganization(Organization()));
        QFile::remove(folder());
    }

    void writesReplaceTheFileInOneStep()
    {
        const QString path = folder() + QStringLiteral("/file.json");
        QDir().mkpath(folder());
        QVERIFY(writeBytes(path, "old"));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        const ino_t before = statOf(path).st_ino;

        writeFileAtomically(path, "new");
        QCOMPARE(readBytes(path), QByteArray("new"));
        // A new file took the old one's place (a reader holding the old one sees it whole),
        // keeping its permissions; no temporary file is left behind.
        QVERIFY(statOf(path).st_ino != before);
        QCOMPARE(statOf(path).st_mode & 0777, 0640u);
        writeFileAtomically(path, "private", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(statOf(path).st_mode & 0777, 0600u);

        QVERIFY(QDir().mkpath(folder() + QStringLiteral("/taken")));
        QVERIFY_THROWS_EXCEPTION(FileError,
                                 writeFileAtomically(folder() + QStringLiteral("/taken"), "data"));
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{QStringLiteral("file.json"), QStringLiteral("taken")}));
    }

    // The file store's secrets are written the same way; their failure status is checked
    // with the store.
    void aFullDiskKeepsTheOldFile()
    {
        const QString path = folder() + QStringLiteral("/accounts.json");
        QVERIFY(QDir().mkpath(folder()));
        QVERIFY(writeBytes(path, "old"));
        // Far over the limit but within one write buffer: only the last flush fails.
        const QString large(3000, u'x');
        QVERIFY(test::runWithFileSizeLimit(256, [&] {
            try {
                saveAccountCache({{AWSAccount{QStringLiteral("1"), large, {}}}, {}});
            } catch (const FileError &) {
                return true;
            }
            return false;
        }));
        QCOMPARE(readBytes(path), QByteArray("old"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("accounts.json")});
    }

    void removesOnlyInterruptedWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("removed");
        QTest::newRow("organization") << "organization.json.abcdef" << false << true;
        QTest::newRow("secret") << "secrets/Tessera.token.secret.XyZabc" << false << true;
        QTest::newRow("the secret itself") << "secrets/Tessera.token.secret" << false << false;
        QTest::newRow("digit in suffix") << "organization.json.AbCd3f" << false << false;
        QTest::newRow("short suffix") << "organization.json.bak" << false << false;
        QTest::newRow("other kind") << "notes.txt.AbCdEf" << false << false;
        QTest::newRow("link") << "accounts.json.LiNkEd" << true << false;
    }

    void removesOnlyInterruptedWrites()
    {
        QFETCH(QString, name);
        QFETCH(bool, link);
        QFETCH(bool, removed);
        const QString path = folder() + QLatin1Char('/') + name;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        if (link) {
            QVERIFY(writeBytes(folder() + QStringLiteral("/target"), "x"));
            QVERIFY(QFile::link(folder() + QStringLiteral("/target"), path));
        } else {
            QVERIFY(writeBytes(path, "x"));
        }
        removeInterruptedSupportFileWrites(folder() + QStringLiteral("/secrets"));
        QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
    }
};

QTEST_GUILESS_MAIN(TestSupportFiles)
#include "tst_supportfiles.moc"
