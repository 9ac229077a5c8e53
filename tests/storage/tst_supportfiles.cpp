// Support-folder files: locations, loading, atomic saving.
#include "storage/filekeychain.h"
#include "storage/interruptedwrites.h"
#include "storage/keychain.h"
#include "storage/recordcoding.h"
#include "storage/supportfiles.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tessera;

Q_DECLARE_METATYPE(std::function<bool()>)

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

QFileDevice::Permissions unixMode(const QString &path)
{
    // Qt reports the owner's bits twice (as "user" too); keep the Unix ones.
    return QFile::permissions(path) &
           (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}

// Runs a write and answers whether it reported its failure.
using FailingWrite = std::function<bool()>;

bool throwsFileError(const std::function<void()> &write)
{
    try {
        write();
    } catch (const FileError &) {
        return true;
    }
    return false;
}

ino_t inodeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
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

    void locationsAreInTheDataFolder()
    {
        QCOMPARE(supportFolderFileURL(QStringLiteral("accounts.json")),
                 folder() + QStringLiteral("/accounts.json"));
        QVERIFY(QFileInfo(folder()).isDir());
        QDir(folder()).removeRecursively();
        QCOMPARE(namedSupportFileURL(QStringLiteral("aws-profile-mappings.json")),
                 folder() + QStringLiteral("/aws-profile-mappings.json"));
        QVERIFY(QFileInfo(folder()).isDir());
    }

    void aFolderThatCannotBeCreatedFailsTheLoad()
    {
        // A file where the folder belongs.
        QVERIFY(writeBytes(folder(), "not a folder"));
        QVERIFY_THROWS_EXCEPTION(FileError, loadAccountCache());
        QVERIFY_THROWS_EXCEPTION(FileError, saveOrganization(Organization()));
        QFile::remove(folder());
    }

    void loadsDistinguishMissingFromBroken()
    {
        QVERIFY(std::holds_alternative<DiskMissing>(loadAccountCache()));
        QVERIFY(std::holds_alternative<DiskMissing>(loadOrganization()));

        const QString organizationPath = supportFolderFileURL(QStringLiteral("organization.json"));
        QVERIFY(writeBytes(organizationPath, "{\"pinnedAccountIds\":[\"1\",\"1\"]}"));
        const auto loaded = loadOrganization();
        QCOMPARE(std::get<Organization>(loaded).pinnedAccountIds, QStringList{QStringLiteral("1")});

        // A directory in place of the file is an error, not a missing file.
        QVERIFY(QDir().mkpath(supportFolderFileURL(QStringLiteral("accounts.json"))));
        QVERIFY_THROWS_EXCEPTION(FileError, loadAccountCache());

        QVERIFY(writeBytes(organizationPath, "{broken"));
        QVERIFY_THROWS_EXCEPTION(DecodingError, loadOrganization());
    }

    void aGivenOrganizationLocationIsUsed()
    {
        const QString custom = m_data.path() + QStringLiteral("/elsewhere.json");
        QVERIFY(std::holds_alternative<DiskMissing>(loadOrganization(custom)));
        Organization organization;
        organization.groupNames = {QStringLiteral("G")};
        saveOrganization(organization, custom);
        QCOMPARE(std::get<Organization>(loadOrganization(custom)), organization);
        QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("/organization.json")));
        QFile::remove(custom);
    }

    void savesRoundTrip()
    {
        const AccountCache cache{
            {AWSAccount{QStringLiteral("1"), QStringLiteral("One"), {QStringLiteral("Admin")}}},
            QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC)};
        saveAccountCache(cache);
        QCOMPARE(std::get<AccountCache>(loadAccountCache()), cache);
        QCOMPARE(readBytes(folder() + QStringLiteral("/accounts.json")), encodeAccountCache(cache));
    }

    void writesReplaceTheFileInOneStep()
    {
        const QString path = folder() + QStringLiteral("/file.json");
        QDir().mkpath(folder());
        QVERIFY(writeBytes(path, "old"));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup);
        const ino_t before = inodeOf(path);

        writeFileAtomically(path, "new");
        QCOMPARE(readBytes(path), QByteArray("new"));
        // A new file took the old one's place (a reader holding the old one sees it whole),
        // keeping its permissions; no temporary file is left behind.
        QVERIFY(inodeOf(path) != before);
        QCOMPARE(unixMode(path),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("file.json")});

        writeFileAtomically(path, "private", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(unixMode(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void aFailedWriteLeavesNoTrace()
    {
        const QString path = folder() + QStringLiteral("/taken");
        QVERIFY(QDir().mkpath(path));
        QVERIFY_THROWS_EXCEPTION(FileError, writeFileAtomically(path, "data"));
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("taken")});
        QVERIFY_THROWS_EXCEPTION(
            FileError, writeFileAtomically(folder() + QStringLiteral("/no/such/dir/f"), "x"));
    }

    void aFullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<FailingWrite>("write");
        // Far over the limit below but within one write buffer: only the last flush fails.
        const QString large(3000, u'x');
        QTest::newRow("organization")
            << folder() + QStringLiteral("/organization.json") << FailingWrite([large] {
                   Organization organization;
                   organization.groupNames = {large};
                   return throwsFileError([&] { saveOrganization(organization); });
               });
        QTest::newRow("account cache")
            << folder() + QStringLiteral("/accounts.json") << FailingWrite([large] {
                   const AccountCache cache{{AWSAccount{QStringLiteral("1"), large, {}}},
                                            QDateTime::fromSecsSinceEpoch(1, Qt::UTC)};
                   return throwsFileError([&] { saveAccountCache(cache); });
               });
        const QString secrets = folder() + QStringLiteral("/secrets");
        QTest::newRow("file-store secret")
            << secrets + QStringLiteral("/Tessera.token.secret") << FailingWrite([=] {
                   return test::waitFor(makeFileKeychainOperations(secrets).update(
                              Keychain::baseQuery(QStringLiteral("token")),
                              {{QLatin1String(keychainattr::valueData), large.toUtf8()}})) ==
                          fileKeychainIOFailure;
               });
    }

    void aFullDiskKeepsTheOldFile()
    {
        QFETCH(QString, path);
        QFETCH(FailingWrite, write);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(writeBytes(path, "old"));
        QVERIFY(test::runWithFileSizeLimit(256, write));
        QCOMPARE(readBytes(path), QByteArray("old"));
        QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(path).fileName()});
    }

    void removesOnlyInterruptedWrites_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("removed");
        QTest::newRow("cache") << "accounts.json.qwErty" << false << true;
        QTest::newRow("organization") << "organization.json.abcdef" << false << true;
        QTest::newRow("secret") << "secrets/Tessera.token.secret.XyZabc" << false << true;
        QTest::newRow("the secret itself") << "secrets/Tessera.token.secret" << false << false;
        QTest::newRow("digit in suffix") << "organization.json.AbCd3f" << false << false;
        QTest::newRow("short suffix") << "organization.json.bak" << false << false;
        QTest::newRow("other kind") << "notes.txt.AbCdEf" << false << false;
        QTest::newRow("no name") << ".json.AbCdEf" << false << false;
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
