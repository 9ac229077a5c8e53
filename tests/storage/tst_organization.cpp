// The clean-up every organization read from disk goes through.
#include "catalog/consolecatalog.h"
#include "storage/recordcoding.h"

#include <QTest>

using namespace tessera;

namespace {
QStringList allRegionIds()
{
    QStringList ids;
    for (const auto &region : consoleRegionCatalog()) {
        ids << region.id;
    }
    return ids;
}

QByteArray listJson(const char *key, const QStringList &values)
{
    QByteArray json = "{\"" + QByteArray(key) + "\":[";
    for (qsizetype i = 0; i < values.size(); ++i) {
        json += (i ? ",\"" : "\"") + values[i].toUtf8() + '"';
    }
    return json + "]}";
}
} // namespace

class TestOrganization : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void uniquedKeepsFirstOccurrences()
    {
        QCOMPARE(uniqued({QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("b"),
                          QStringLiteral("c"), QStringLiteral("a")}),
                 QStringList({QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c")}));
    }

    void emptyDocumentIsAnEmptyOrganization()
    {
        QCOMPARE(decodeOrganization("{}"), Organization());
    }

    void readingNormalizes()
    {
        const QString service = consoleServiceCatalog().at(1).name;
        const QString other = consoleServiceCatalog().at(0).name;
        const Organization organization =
            decodeOrganization("{\n"
                               "            \"pinnedAccountIds\": [\"2\", \"1\", \"2\"],\n"
                               "            \"groupNames\": [\"Prod\", \"Dev\", \"Prod\"],\n"
                               "            \"accountGroups\": {\"1\": \"Prod\", \"2\": \"Gone\", "
                               "\"unknown-account\": \"Dev\"},\n"
                               "            \"pinnedServiceNames\": [\"" +
                               service.toUtf8() + "\", \"No Such Service\", \"" + service.toUtf8() +
                               "\"],\n"
                               "            \"disabledServiceNames\": [\"Nope\", \"" +
                               other.toUtf8() +
                               "\"],\n"
                               "            \"accountConsoleRegions\": {\"1\": \"eu-west-1\", "
                               "\"2\": \"mars-north-1\"},\n"
                               "            \"disabledConsoleRegionIds\": [\"eu-west-1\", "
                               "\"xx-none-1\", \"eu-west-1\"]\n"
                               "        }");
        QCOMPARE(organization.pinnedAccountIds,
                 QStringList({QStringLiteral("2"), QStringLiteral("1")}));
        QCOMPARE(organization.groupNames,
                 QStringList({QStringLiteral("Prod"), QStringLiteral("Dev")}));
        const QMap<QString, QString> groups{
            {QStringLiteral("1"), QStringLiteral("Prod")},
            {QStringLiteral("unknown-account"), QStringLiteral("Dev")}};
        QCOMPARE(organization.accountGroups, groups);
        QCOMPARE(organization.pinnedServiceNames, QStringList{service});
        QCOMPARE(organization.disabledServiceNames, QStringList{other});
        const QMap<QString, QString> regions{{QStringLiteral("1"), QStringLiteral("eu-west-1")}};
        QCOMPARE(organization.accountConsoleRegions, regions);
        QCOMPARE(organization.disabledConsoleRegionIds, QStringList{QStringLiteral("eu-west-1")});
    }

    void usEast1StaysOnWhenEveryRegionIsOff_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("loaded");
        const QStringList all = allRegionIds();
        QStringList allButUsEast1 = all;
        allButUsEast1.removeAll(QStringLiteral("us-east-1"));
        QStringList allButOne = all;
        allButOne.removeLast();

        QTest::newRow("every region") << all << allButUsEast1;
        QTest::newRow("every region, duplicated") << (all + all) << allButUsEast1;
        QTest::newRow("every region but one") << allButOne << allButOne;
        // The unknown id is dropped before the count is made.
        QTest::newRow("all but one plus an unknown")
            << (allButOne + QStringList{QStringLiteral("zz-fake-9")}) << allButOne;
    }

    void usEast1StaysOnWhenEveryRegionIsOff()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, loaded);
        QCOMPARE(decodeOrganization(listJson("disabledConsoleRegionIds", stored))
                     .disabledConsoleRegionIds,
                 loaded);
    }
};

QTEST_GUILESS_MAIN(TestOrganization)
#include "tst_organization.moc"
