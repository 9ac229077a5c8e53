// JSON encodings of the persistent records, and the clean-up of an organization read back.
#include "catalog/consolecatalog.h"
#include "foundation/error.h"
#include "storage/dates.h"
#include "storage/recordcoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tessera;
using namespace Qt::StringLiterals;

namespace {
QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODateWithMs).toUTC();
}

// The same document with one key replaced, or removed when `value` is undefined.
QByteArray with(const QByteArray &json, const char *key, const QJsonValue &value = {})
{
    QJsonObject object = QJsonDocument::fromJson(json).object();
    if (value.isUndefined()) {
        object.remove(QLatin1String(key));
    } else {
        object.insert(QLatin1String(key), value);
    }
    return QJsonDocument(object).toJson();
}

using Decode = void (*)(const QByteArray &);
const Decode token = [](const QByteArray &json) { decodeSSOToken(json); };
const Decode client = [](const QByteArray &json) { decodeClientRegistration(json); };
const Decode cache = [](const QByteArray &json) { decodeAccountCache(json); };
const Decode organization = [](const QByteArray &json) { decodeOrganization(json); };

const QByteArray tokenJson("{\"accessToken\":\"a\",\"refreshToken\":\"r\",\"expiresAt\":10.5,"
                           "\"region\":\"eu-west-1\",\"startUrl\":\"https://x\"}");
const QByteArray clientJson(
    "{\"clientId\":\"id\",\"clientSecret\":\"s\\\"q\",\"expiresAt\":-60,\"region\":\"us-east-1\"}");
const QByteArray cacheJson("{\"accounts\":[{\"accountId\":\"2\",\"accountName\":\"Zwei\","
                           "\"roles\":[\"B\",\"A\"]},{\"accountId\":\"1\",\"accountName\":"
                           "\"Eins\",\"roles\":[]}],\"lastSync\":0}");
} // namespace

Q_DECLARE_METATYPE(Decode)

class TestRecordCoding : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Compact, in a fixed key order, and read back to the same record; dates count from 2001.
    void encodingRoundTrips()
    {
        QCOMPARE(dateFromUnixSeconds(978307200), utc("2001-01-01T00:00:00.000Z"));
        const SSOToken decoded = decodeSSOToken(tokenJson);
        QCOMPARE(decoded.expiresAt, utc("2001-01-01T00:00:10.500Z"));
        QCOMPARE(encodeSSOToken(decoded), tokenJson);
        const SSOToken withoutRefresh = decodeSSOToken(with(tokenJson, "refreshToken"));
        QCOMPARE(withoutRefresh.refreshToken, std::nullopt);
        QCOMPARE(decodeSSOToken(with(tokenJson, "refreshToken", QJsonValue::Null)), withoutRefresh);
        QCOMPARE(encodeSSOToken(withoutRefresh),
                 QByteArray("{\"accessToken\":\"a\",\"expiresAt\":10.5,\"region\":\"eu-west-1\","
                            "\"startUrl\":\"https://x\"}"));
        const ClientRegistration registration = decodeClientRegistration(clientJson);
        QCOMPARE(registration.expiresAt, utc("2000-12-31T23:59:00.000Z"));
        QCOMPARE(encodeClientRegistration(registration), clientJson);
        const AccountCache accounts = decodeAccountCache(cacheJson);
        QCOMPARE(accounts.accounts.first().roles, (QStringList{u"B"_s, u"A"_s}));
        QCOMPARE(encodeAccountCache(accounts), cacheJson);

        Organization groups;
        groups.groupNames = {QStringLiteral("Prod")};
        groups.accountGroups = {{QStringLiteral("1"), QStringLiteral("Prod")}};
        QCOMPARE(encodeOrganization(groups),
                 QByteArray("{\"pinnedAccountIds\":[],\"groupNames\":[\"Prod\"],"
                            "\"accountGroups\":{\"1\":\"Prod\"},\"pinnedServiceNames\":[],"
                            "\"disabledServiceNames\":[],\"accountConsoleRegions\":{},"
                            "\"disabledConsoleRegionIds\":[]}"));
        QCOMPARE(decodeOrganization("{\"future\":{}}"), Organization());
    }

    void invalidDocumentsFailAsAWhole_data()
    {
        QTest::addColumn<Decode>("decode");
        QTest::addColumn<QByteArray>("json");
        for (const char *key : {"accessToken", "expiresAt", "region", "startUrl"}) {
            QTest::addRow("token without %s", key) << token << with(tokenJson, key);
        }
        QTest::newRow("token with text date") << token << with(tokenJson, "expiresAt", u"10"_s);
        QTest::newRow("token with numeric refreshToken")
            << token << with(tokenJson, "refreshToken", 5);
        QTest::newRow("client without secret") << client << with(clientJson, "clientSecret");
        QTest::newRow("cache without accounts") << cache << with(cacheJson, "accounts");
        QTest::newRow("role that is not a string")
            << cache
            << QByteArray("{\"accounts\":[{\"accountId\":\"1\",\"accountName\":\"n\","
                          "\"roles\":[1]}],\"lastSync\":1}");
        QTest::newRow("account that is not an object")
            << cache << QByteArray("{\"accounts\":[\"1\"],\"lastSync\":1}");
        QTest::newRow("absurd date") << cache << with(cacheJson, "lastSync", 1e300);
        QTest::newRow("organization list as text")
            << organization << QByteArray("{\"pinnedAccountIds\":\"1\"}");
        QTest::newRow("organization map value as number")
            << organization << QByteArray("{\"accountConsoleRegions\":{\"1\":2}}");
        QTest::newRow("array document") << organization << QByteArray("[]");
    }
    void invalidDocumentsFailAsAWhole()
    {
        QFETCH(Decode, decode);
        QFETCH(QByteArray, json);
        QVERIFY_THROWS_EXCEPTION(DecodingError, decode(json));
    }

    void readingAnOrganizationNormalizes()
    {
        const QByteArray service = consoleServiceCatalog().at(1).name.toUtf8();
        const Organization read = decodeOrganization(
            "{\"pinnedAccountIds\":[\"2\",\"1\",\"2\"],\"groupNames\":[\"Prod\",\"Dev\",\"Prod\"],"
            "\"accountGroups\":{\"1\":\"Prod\",\"2\":\"Gone\",\"3\":\"Dev\"},"
            "\"pinnedServiceNames\":[\"" +
            service + "\",\"No Such Service\",\"" + service +
            "\"],\"accountConsoleRegions\":{\"1\":\"eu-west-1\",\"2\":\"mars-north-1\"},"
            "\"disabledConsoleRegionIds\":[\"eu-west-1\",\"xx-none-1\",\"eu-west-1\"]}");
        QCOMPARE(read.pinnedAccountIds, (QStringList{u"2"_s, u"1"_s}));
        QCOMPARE(read.groupNames, (QStringList{u"Prod"_s, u"Dev"_s}));
        QCOMPARE(read.accountGroups,
                 (QMap<QString, QString>{{u"1"_s, u"Prod"_s}, {u"3"_s, u"Dev"_s}}));
        QCOMPARE(read.pinnedServiceNames, QStringList{QString::fromUtf8(service)});
        QCOMPARE(read.accountConsoleRegions, (QMap<QString, QString>{{u"1"_s, u"eu-west-1"_s}}));
        QCOMPARE(read.disabledConsoleRegionIds, QStringList{u"eu-west-1"_s});
    }

    void usEast1StaysOnWhenEveryRegionIsOff()
    {
        QStringList all;
        for (const auto &region : consoleRegionCatalog()) {
            all << region.id;
        }
        const auto loaded = [](const QStringList &stored) {
            const QJsonObject object{
                {QStringLiteral("disabledConsoleRegionIds"), QJsonArray::fromStringList(stored)}};
            return decodeOrganization(QJsonDocument(object).toJson()).disabledConsoleRegionIds;
        };
        QStringList allButUsEast1 = all;
        allButUsEast1.removeAll(QStringLiteral("us-east-1"));
        QCOMPARE(loaded(all + all), allButUsEast1);
        const QStringList allButOne = all.mid(1);
        QCOMPARE(loaded(allButOne + QStringList{u"zz-fake-9"_s}), allButOne);
    }
};

QTEST_GUILESS_MAIN(TestRecordCoding)
#include "tst_recordcoding.moc"
