#include "offlinestore.h"
#include "storage/supportfiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace tessera::test;

namespace {
const QString saveFailed = QStringLiteral("Tessera could not save your organization change. Your "
                                          "previous settings were left untouched.");
const QString loadFailed = QStringLiteral("Tessera could not load your saved organization. The "
                                          "existing file was left untouched.");

QStringList strings(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QStringList catalogRegionIds()
{
    QStringList ids;
    for (const auto &r : consoleRegionCatalog()) {
        ids.append(r.id);
    }
    return ids;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}
} // namespace

class AccountStoreOrganizationTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
    QString m_file;
    std::unique_ptr<AccountStore> m_store;

    const Organization &organization() const { return m_store->organization(); }

    // What the next start would read.
    Organization savedOrganization() const
    {
        return loadOrganization(m_file).value_or(Organization{});
    }

    // Deletes the file so that a test can see whether an operation wrote at all.
    void forgetFile()
    {
        QVERIFY(QFile::remove(m_file));
        QVERIFY(!QFile::exists(m_file));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_folder = m_dir->filePath(QStringLiteral("organization"));
        QVERIFY(QDir().mkpath(m_folder));
        m_file = m_folder + QStringLiteral("/organization.json");
        m_store = makeOfflineStore(m_file, defaultSettings());
    }

    void cleanup()
    {
        m_store.reset();
        m_dir.reset();
    }

    void pinsToggleInOrder()
    {
        QSignalSpy changed(m_store.get(), &AccountStore::organizationChanged);
        m_store->togglePinnedAccount(QStringLiteral("333"));
        m_store->togglePinnedAccount(QStringLiteral("111"));
        m_store->togglePinnedAccount(QStringLiteral("222"));
        QCOMPARE(organization().pinnedAccountIds, strings("333 111 222"));
        QCOMPARE(changed.size(), 3);

        m_store->togglePinnedAccount(QStringLiteral("111"));
        QCOMPARE(organization().pinnedAccountIds, strings("333 222"));
        m_store->togglePinnedAccount(QStringLiteral("111"));
        QCOMPARE(organization().pinnedAccountIds, strings("333 222 111"));

        const QStringList before = organization().pinnedAccountIds;
        m_store->togglePinnedAccount(QStringLiteral("333"));
        m_store->togglePinnedAccount(QStringLiteral("333"));
        QCOMPARE(organization().pinnedAccountIds, strings("222 111 333"));
        QCOMPARE(QSet<QString>(before.cbegin(), before.cend()),
                 QSet<QString>(organization().pinnedAccountIds.cbegin(),
                               organization().pinnedAccountIds.cend()));
        QCOMPARE(savedOrganization(), organization());
    }

    void servicePinsAndVisibility()
    {
        m_store->togglePinnedService(QStringLiteral("Lambda"));
        m_store->togglePinnedService(QStringLiteral("S3"));
        m_store->togglePinnedService(QStringLiteral("Lambda"));
        m_store->togglePinnedService(QStringLiteral("IAM"));
        QCOMPARE(organization().pinnedServiceNames, strings("S3 IAM"));

        m_store->setServiceEnabled(QStringLiteral("WAF"), false);
        m_store->setServiceEnabled(QStringLiteral("EC2"), false);
        m_store->setServiceEnabled(QStringLiteral("WAF"), false);
        QCOMPARE(organization().disabledServiceNames, strings("WAF EC2"));
        m_store->setServiceEnabled(QStringLiteral("WAF"), true);
        m_store->setServiceEnabled(QStringLiteral("SES"), true);
        QCOMPARE(organization().disabledServiceNames, strings("EC2"));
        QCOMPARE(savedOrganization(), organization());
    }

    void createGroupTrimsBlanksOnly()
    {
        m_store->createGroup(QStringLiteral(" \tProduction \t"));
        m_store->createGroup(QStringLiteral("production"));
        QCOMPARE(organization().groupNames,
                 QStringList({QStringLiteral("Production"), QStringLiteral("production")}));

        // Rejected names must not even write the file.
        forgetFile();
        m_store->createGroup(QStringLiteral("  Production "));
        m_store->createGroup(QStringLiteral(" \t "));
        m_store->createGroup(QString());
        QVERIFY(!QFile::exists(m_file));

        m_store->createGroup(QStringLiteral(" Staging\n"));
        QCOMPARE(organization().groupNames,
                 QStringList({QStringLiteral("Production"), QStringLiteral("production"),
                              QStringLiteral("Staging\n")}));
        QCOMPARE(savedOrganization(), organization());
    }

    void groupMembership()
    {
        m_store->createGroup(QStringLiteral("A"));
        m_store->createGroup(QStringLiteral("B"));
        m_store->setGroup(QStringLiteral("111"), QStringLiteral("A"));
        m_store->setGroup(QStringLiteral("111"), QStringLiteral("B"));
        QCOMPARE(organization().accountGroups,
                 (QMap<QString, QString>{{QStringLiteral("111"), QStringLiteral("B")}}));

        // Moving into a missing group creates it under exactly the given name.
        m_store->setGroup(QStringLiteral("222"), QStringLiteral(" C "));
        QCOMPARE(organization().groupNames,
                 QStringList({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral(" C ")}));
        QCOMPARE(organization().accountGroups.value(QStringLiteral("222")), QStringLiteral(" C "));

        m_store->setGroup(QStringLiteral("111"), std::nullopt);
        QVERIFY(!organization().accountGroups.contains(QStringLiteral("111")));
        QCOMPARE(organization().groupNames,
                 QStringList({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral(" C ")}));
        QCOMPARE(savedOrganization(), organization());
    }

    void deleteGroupUngroupsItsMembers()
    {
        m_store->createGroup(QStringLiteral("A"));
        m_store->createGroup(QStringLiteral("B"));
        m_store->createGroup(QStringLiteral("C"));
        m_store->setGroup(QStringLiteral("111"), QStringLiteral("B"));
        m_store->setGroup(QStringLiteral("222"), QStringLiteral("B"));
        m_store->setGroup(QStringLiteral("333"), QStringLiteral("C"));

        m_store->deleteGroup(QStringLiteral("B"));
        QCOMPARE(organization().groupNames, strings("A C"));
        QCOMPARE(organization().accountGroups,
                 (QMap<QString, QString>{{QStringLiteral("333"), QStringLiteral("C")}}));
        QCOMPARE(savedOrganization(), organization());
    }

    void groupAndMoveInOneChange()
    {
        m_store->updateOrganization([](Organization &o) {
            o.groupNames.append(QStringLiteral("New"));
            o.accountGroups.insert(QStringLiteral("111"), QStringLiteral("New"));
        });
        QCOMPARE(savedOrganization().accountGroups.value(QStringLiteral("111")),
                 QStringLiteral("New"));
    }

    void setConsoleRegionChecksTheForm()
    {
        m_store->setConsoleRegion(QStringLiteral("  EU-West-1\n"), QStringLiteral("111"));
        QCOMPARE(organization().accountConsoleRegions.value(QStringLiteral("111")),
                 QStringLiteral("eu-west-1"));
        m_store->setConsoleRegion(QStringLiteral("us-east-2"), QStringLiteral("111"));
        QCOMPARE(organization().accountConsoleRegions.value(QStringLiteral("111")),
                 QStringLiteral("us-east-2"));
        m_store->setConsoleRegionEnabled(QStringLiteral("ap-south-1"), false);

        forgetFile();
        for (const char *rejected : {"europe", "us-east", "us-east-12", "east-1", "us east 1",
                                     "ap-south-1", " AP-SOUTH-1 "}) {
            m_store->setConsoleRegion(QString::fromUtf8(rejected), QStringLiteral("111"));
            QCOMPARE(organization().accountConsoleRegions.value(QStringLiteral("111")),
                     QStringLiteral("us-east-2"));
        }
        QVERIFY(!QFile::exists(m_file));

        // The form is enough; the catalog is not consulted.
        m_store->setConsoleRegion(QStringLiteral("xx-newplace-9"), QStringLiteral("222"));
        QCOMPARE(organization().accountConsoleRegions.value(QStringLiteral("222")),
                 QStringLiteral("xx-newplace-9"));
        QCOMPARE(organization().accountConsoleRegions.size(), 2);
    }

    void regionsSwitchOffDownToOne()
    {
        m_store->setConsoleRegion(QStringLiteral("eu-west-1"), QStringLiteral("111"));
        const QStringList all = catalogRegionIds();
        // Switch off from the end so the disabled list is built out of catalog order.
        for (auto it = all.crbegin(); it != all.crend(); ++it) {
            m_store->setConsoleRegionEnabled(*it, false);
        }
        QCOMPARE(enabledConsoleRegions(organization().disabledConsoleRegionIds).size(), 1);
        QCOMPARE(organization().disabledConsoleRegionIds, all.mid(1));
        QCOMPARE(enabledConsoleRegions(organization().disabledConsoleRegionIds).first().id,
                 all.first());
        // An account's own region survives its region being switched off.
        QCOMPARE(organization().accountConsoleRegions.value(QStringLiteral("111")),
                 QStringLiteral("eu-west-1"));
        QCOMPARE(savedOrganization(), organization());

        m_store->setConsoleRegionEnabled(QStringLiteral("eu-west-1"), true);
        m_store->setConsoleRegionEnabled(QStringLiteral("xx-unknown-1"), true);
        QCOMPARE(enabledConsoleRegions(organization().disabledConsoleRegionIds).size(), 2);
        QVERIFY(!organization().disabledConsoleRegionIds.contains(QStringLiteral("eu-west-1")));
    }

    void unknownRegionIdsNeverStay()
    {
        m_store->setConsoleRegionEnabled(QStringLiteral("xx-unknown-1"), false);
        m_store->setConsoleRegionEnabled(QStringLiteral("us-east-2"), false);
        m_store->setConsoleRegionEnabled(QStringLiteral("us-east-1"), false);
        QCOMPARE(organization().disabledConsoleRegionIds, strings("us-east-1 us-east-2"));
    }

    void setEnabledRegions()
    {
        m_store->setEnabledConsoleRegions(
            {QStringLiteral("us-west-2"), QStringLiteral("us-east-1"), QStringLiteral("xx-foo-1")});
        QStringList expected = catalogRegionIds();
        expected.removeAll(QStringLiteral("us-east-1"));
        expected.removeAll(QStringLiteral("us-west-2"));
        QCOMPARE(organization().disabledConsoleRegionIds, expected);
        QCOMPARE(savedOrganization(), organization());

        forgetFile();
        m_store->setEnabledConsoleRegions(
            {QStringLiteral("xx-foo-1"), QStringLiteral("EU-WEST-1")});
        m_store->setEnabledConsoleRegions({});
        QVERIFY(!QFile::exists(m_file));
        QCOMPARE(organization().disabledConsoleRegionIds, expected);

        const QStringList all = catalogRegionIds();
        m_store->setEnabledConsoleRegions(QSet<QString>(all.cbegin(), all.cend()));
        QVERIFY(organization().disabledConsoleRegionIds.isEmpty());
    }

    void failedWriteKeepsMemoryAndFile()
    {
        m_store->togglePinnedAccount(QStringLiteral("111"));
        m_store->createGroup(QStringLiteral("A"));
        const Organization before = organization();
        const QByteArray bytesBefore = fileBytes(m_file);
        QVERIFY(!bytesBefore.isEmpty());

        // Root ignores permission bits, so the folder is swapped for a regular file instead.
        const QString aside = m_dir->filePath(QStringLiteral("aside"));
        QVERIFY(QDir().rename(m_folder, aside));
        QFile blocker(m_folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        QSignalSpy changed(m_store.get(), &AccountStore::organizationChanged);
        m_store->togglePinnedAccount(QStringLiteral("222"));
        QCOMPARE(m_store->errorMessage(), saveFailed);
        QCOMPARE(m_store->organizationErrorMessage(), saveFailed);
        QCOMPARE(organization(), before);
        QCOMPARE(changed.size(), 0);

        m_store->setGroup(QStringLiteral("111"), QStringLiteral("A"));
        QCOMPARE(organization(), before);
        QCOMPARE(fileBytes(aside + QStringLiteral("/organization.json")), bytesBefore);

        // The next change tries again, and its success clears the message.
        QVERIFY(QFile::remove(m_folder));
        QVERIFY(QDir().rename(aside, m_folder));
        m_store->togglePinnedAccount(QStringLiteral("222"));
        QCOMPARE(organization().pinnedAccountIds, strings("111 222"));
        QCOMPARE(savedOrganization(), organization());
        QCOMPARE(m_store->errorMessage(), std::nullopt);
        QCOMPARE(m_store->organizationErrorMessage(), std::nullopt);
    }

    void successKeepsAMessageShownSince()
    {
        const QString other = QStringLiteral("The account list could not be loaded.");
        m_store->setErrorMessage(other);
        m_store->togglePinnedAccount(QStringLiteral("111"));
        QCOMPARE(m_store->errorMessage(), other);

        QVERIFY(QDir(m_folder).removeRecursively());
        QFile blocker(m_folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        m_store->togglePinnedAccount(QStringLiteral("222"));
        QCOMPARE(m_store->errorMessage(), saveFailed);

        m_store->setErrorMessage(other);
        QVERIFY(QFile::remove(m_folder));
        QVERIFY(QDir().mkpath(m_folder));
        m_store->togglePinnedAccount(QStringLiteral("222"));
        QCOMPARE(organization().pinnedAccountIds, strings("111 222"));
        QCOMPARE(m_store->errorMessage(), other);
        QCOMPARE(m_store->organizationErrorMessage(), std::nullopt);
    }

    void unreadableFileBlocksEveryChange_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray(R"({"pinnedAccountIds":["111"],)");
        QTest::newRow("wrong type") << QByteArray(R"({"pinnedAccountIds":"111"})");
    }

    void unreadableFileBlocksEveryChange()
    {
        QFETCH(QByteArray, content);
        {
            QFile file(m_file);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), content.size());
        }
        auto store = makeOfflineStore(m_file, defaultSettings(), {}, true);
        QVERIFY(store->organizationPersistenceBlocked());
        QCOMPARE(store->errorMessage(), loadFailed);
        QCOMPARE(store->organization(), Organization{});

        const std::function<void(AccountStore &)> changes[] = {
            [](AccountStore &s) { s.togglePinnedAccount(QStringLiteral("111")); },
            [](AccountStore &s) { s.togglePinnedService(QStringLiteral("S3")); },
            [](AccountStore &s) { s.setServiceEnabled(QStringLiteral("S3"), false); },
            [](AccountStore &s) { s.createGroup(QStringLiteral("A")); },
            [](AccountStore &s) { s.setGroup(QStringLiteral("111"), QStringLiteral("A")); },
            [](AccountStore &s) { s.deleteGroup(QStringLiteral("A")); },
            [](AccountStore &s) {
                s.setConsoleRegion(QStringLiteral("eu-west-1"), QStringLiteral("1"));
            },
            [](AccountStore &s) { s.setConsoleRegionEnabled(QStringLiteral("eu-west-1"), false); },
            [](AccountStore &s) { s.setEnabledConsoleRegions({QStringLiteral("us-east-1")}); },
            [](AccountStore &s) { s.updateOrganization([](Organization &o) { o = {}; }); },
        };
        QSignalSpy changed(store.get(), &AccountStore::organizationChanged);
        for (const auto &change : changes) {
            store->setErrorMessage(std::nullopt);
            change(*store);
            QCOMPARE(store->errorMessage(), loadFailed);
            QCOMPARE(store->organization(), Organization{});
            QCOMPARE(fileBytes(m_file), content);
        }
        QCOMPARE(changed.size(), 0);

        // Input that is rejected anyway shows nothing.
        store->setErrorMessage(std::nullopt);
        store->createGroup(QStringLiteral("   "));
        QCOMPARE(store->errorMessage(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(AccountStoreOrganizationTest)
#include "tst_accountstore_organization.moc"
