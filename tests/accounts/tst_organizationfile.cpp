#include "accounts/organizationfile.h"
#include "catalog/consolecatalog.h"
#include "storage/supportfiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;

namespace {
using Edit = std::function<void(OrganizationFile &)>;

QString id(const char *text)
{
    return QString::fromUtf8(text);
}

// The groups, memberships, account regions and disabled regions, so that a row states
// its whole outcome.
QString summary(const Organization &o)
{
    QStringList parts{o.groupNames.join(QLatin1Char('|'))};
    for (const auto *map : {&o.accountGroups, &o.accountConsoleRegions}) {
        QStringList entries;
        for (auto it = map->cbegin(); it != map->cend(); ++it) {
            entries << it.key() + QLatin1Char(':') + it.value();
        }
        parts << entries.join(QLatin1Char('|'));
    }
    parts << o.disabledConsoleRegionIds.join(QLatin1Char('|'));
    return parts.join(QLatin1String("; "));
}
} // namespace

Q_DECLARE_METATYPE(Edit)

class TestOrganizationFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_folder = m_dir.filePath(QStringLiteral("organization"));
    const QString m_file = m_folder + QStringLiteral("/organization.json");

    Organization saved() const { return loadOrganization(m_file).value_or(Organization{}); }

private Q_SLOTS:
    void init() { QVERIFY(QDir(m_folder).removeRecursively() && QDir().mkpath(m_folder)); }

    void editsAreWrittenAndTaken_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QString>("expected");
        // Spaces and tabs go, a line break stays; a name taken or blank adds nothing.
        QTest::newRow("group names") << Edit([](OrganizationFile &f) {
            for (const char *name :
                 {" \tProduction \t", "production", "  Production ", " \t ", " Staging\n"}) {
                f.createGroup(id(name));
            }
        }) << QStringLiteral("Production|production|Staging\n; ; ; ");
        QTest::newRow("membership") << Edit([](OrganizationFile &f) {
            f.createGroup(id("A"));
            f.setGroup(id("111"), id("A"));
            f.setGroup(id("111"), id("B")); // created under exactly this name
            f.setGroup(id("222"), id(" C "));
            f.setGroup(id("333"), id("A"));
            f.setGroup(id("333"), std::nullopt);
            f.setGroup(id("444"), id("A"));
            f.deleteGroup(id("A")); // ungroups its members
        }) << QStringLiteral("B| C ; 111:B|222: C ; ; ");
        // The form of a region is checked; a disabled one is refused; disabled ids are
        // kept in catalog order, unknown ones never.
        QTest::newRow("regions") << Edit([](OrganizationFile &f) {
            f.setConsoleRegion(id("  EU-West-1\n"), id("111"));
            f.setConsoleRegionEnabled(id("us-east-2"), false);
            f.setConsoleRegionEnabled(id("xx-unknown-1"), false);
            f.setConsoleRegionEnabled(id("us-east-1"), false);
            for (const char *rejected : {"europe", "us-east-12", "us east 1", " US-EAST-2 "}) {
                f.setConsoleRegion(id(rejected), id("222"));
            }
        }) << QStringLiteral("; ; 111:eu-west-1; us-east-1|us-east-2");
    }

    void editsAreWrittenAndTaken()
    {
        QFETCH(Edit, edit);
        QFETCH(QString, expected);
        OrganizationFile file(m_file);
        edit(file);
        QCOMPARE(summary(file.organization()), expected);
        QCOMPARE(saved(), file.organization());
    }

    // The last enabled region cannot be switched off; an account's own choice survives.
    void regionsSwitchOffDownToOne()
    {
        OrganizationFile file(m_file);
        file.setConsoleRegion(id("eu-west-1"), id("111"));
        for (const auto &region : consoleRegionCatalog()) {
            file.setConsoleRegionEnabled(region.id, false);
        }
        QCOMPARE(file.organization().disabledConsoleRegionIds.size(),
                 consoleRegionCatalog().size() - 1);
        QCOMPARE(file.organization().accountConsoleRegions.value(id("111")), id("eu-west-1"));
        QCOMPARE(saved(), file.organization());
    }

    // A failed write keeps memory and file as they were; the next success says it is over.
    void failedWriteKeepsMemoryAndFile()
    {
        OrganizationFile file(m_file);
        file.createGroup(id("A"));
        QVERIFY(QDir(m_folder).removeRecursively());
        QFile blocker(m_folder); // a file where the folder was: no write can succeed
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QSignalSpy failed(&file, &OrganizationFile::failed);
        QSignalSpy recovered(&file, &OrganizationFile::recovered);

        file.createGroup(id("B"));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(file.organization().groupNames, QStringList{id("A")});

        QVERIFY(blocker.remove() && QDir().mkpath(m_folder));
        file.createGroup(id("B"));
        QCOMPARE(saved().groupNames, (QStringList{id("A"), id("B")}));
        QCOMPARE(recovered.size(), 1);
        QCOMPARE(recovered.first().first(), failed.first().first());
        QCOMPARE(file.failureMessage(), std::nullopt);
    }

    // A file that cannot be read may hold what this run does not understand: it is never
    // overwritten, and every change says so.
    void unreadableFileBlocksEveryChange()
    {
        const QByteArray content(R"({"pinnedAccountIds":"111"})");
        QFile raw(m_file);
        QVERIFY(raw.open(QIODevice::WriteOnly) && raw.write(content) == content.size());
        raw.close();
        OrganizationFile file(m_file);
        QSignalSpy failed(&file, &OrganizationFile::failed);
        file.load();
        file.togglePinnedAccount(id("111"));
        QVERIFY(file.isBlocked());
        QCOMPARE(failed.size(), 2);
        QCOMPARE(failed.last().first().toString(),
                 QStringLiteral("Tessera could not load your saved organization. The existing "
                                "file was left untouched."));
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QCOMPARE(raw.readAll(), content);
    }
};

QTEST_GUILESS_MAIN(TestOrganizationFile)
#include "tst_organizationfile.moc"
