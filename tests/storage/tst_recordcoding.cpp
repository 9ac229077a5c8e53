// JSON encodings of the persistent records.
#include "foundation/error.h"
#include "storage/dates.h"
#include "storage/recordcoding.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tessera;

namespace {

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODateWithMs).toUTC();
}

// The same document with one key removed or replaced.
QByteArray without(const QByteArray &json, const QString &key)
{
    QJsonObject object = QJsonDocument::fromJson(json).object();
    object.remove(key);
    return QJsonDocument(object).toJson();
}

QByteArray replaced(const QByteArray &json, const QString &key, const QJsonValue &value)
{
    QJsonObject object = QJsonDocument::fromJson(json).object();
    object.insert(key, value);
    return QJsonDocument(object).toJson();
}

enum class Record
{
    token,
    client,
    cache,
    organization
};

void decode(Record record, const QByteArray &json)
{
    switch (record) {
    case Record::token:
        decodeSSOToken(json);
        break;
    case Record::client:
        decodeClientRegistration(json);
        break;
    case Record::cache:
        decodeAccountCache(json);
        break;
    case Record::organization:
        decodeOrganization(json);
        break;
    }
}

const QByteArray tokenJson =
    "{\"accessToken\":\"a\",\"refreshToken\":\"r\",\"expiresAt\":10,\"region\":\"eu-west-1\","
    "\"startUrl\":\"https://x.awsapps.com/start\"}";
const QByteArray clientJson =
    "{\"clientId\":\"id\",\"clientSecret\":\"s\",\"expiresAt\":-5.5,\"region\":\"us-east-1\"}";
const QByteArray cacheJson = "{\"accounts\":[{\"accountId\":\"1\",\"accountName\":\"One\","
                             "\"roles\":[\"Admin\"]}],\"lastSync\":0}";

} // namespace

Q_DECLARE_METATYPE(Record)

class TestRecordCoding : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void datesCountFrom2001()
    {
        QCOMPARE(dateFromReferenceSeconds(0), utc("2001-01-01T00:00:00.000Z"));
        QCOMPARE(dateFromReferenceSeconds(-1.5), utc("2000-12-31T23:59:58.500Z"));
        QCOMPARE(secondsSinceReferenceDate(utc("2001-01-02T00:00:00.250Z")), 86400.25);
        QCOMPARE(dateFromUnixSeconds(978307200), utc("2001-01-01T00:00:00.000Z"));

        const QDateTime when = utc("2026-03-04T05:06:07.891Z");
        QCOMPARE(dateFromReferenceSeconds(secondsSinceReferenceDate(when)), when);
    }

    void encodingIsCompactInTableOrder()
    {
        const SSOToken token{QStringLiteral("a"), QStringLiteral("r"),
                             utc("2001-01-01T00:00:10.500Z"), QStringLiteral("eu-west-1"),
                             QStringLiteral("https://x")};
        QCOMPARE(encodeSSOToken(token),
                 QByteArray("{\"accessToken\":\"a\",\"refreshToken\":\"r\",\"expiresAt\":10.5,"
                            "\"region\":\"eu-west-1\",\"startUrl\":\"https://x\"}"));

        SSOToken withoutRefresh = token;
        withoutRefresh.refreshToken.reset();
        QCOMPARE(encodeSSOToken(withoutRefresh),
                 QByteArray("{\"accessToken\":\"a\",\"expiresAt\":10.5,\"region\":\"eu-west-1\","
                            "\"startUrl\":\"https://x\"}"));

        const ClientRegistration client{QStringLiteral("id"), QStringLiteral("s\"q"),
                                        utc("2000-12-31T23:59:00.000Z"),
                                        QStringLiteral("us-east-1")};
        QCOMPARE(encodeClientRegistration(client),
                 QByteArray("{\"clientId\":\"id\",\"clientSecret\":\"s\\\"q\",\"expiresAt\":-60,"
                            "\"region\":\"us-east-1\"}"));

        const AccountCache cache{{AWSAccount{QStringLiteral("2"),
                                             QStringLiteral("Zwei"),
                                             {QStringLiteral("B"), QStringLiteral("A")}},
                                  AWSAccount{QStringLiteral("1"), QStringLiteral("Eins"), {}}},
                                 utc("2001-01-01T00:00:00.000Z")};
        QCOMPARE(encodeAccountCache(cache),
                 QByteArray("{\"accounts\":[{\"accountId\":\"2\",\"accountName\":\"Zwei\","
                            "\"roles\":[\"B\",\"A\"]},{\"accountId\":\"1\",\"accountName\":"
                            "\"Eins\",\"roles\":[]}],\"lastSync\":0}"));

        Organization organization;
        organization.pinnedAccountIds = {QStringLiteral("9"), QStringLiteral("1")};
        organization.groupNames = {QStringLiteral("Prod")};
        organization.accountGroups = {{QStringLiteral("1"), QStringLiteral("Prod")}};
        organization.accountConsoleRegions = {{QStringLiteral("1"), QStringLiteral("eu-west-1")}};
        QCOMPARE(encodeOrganization(organization),
                 QByteArray("{\"pinnedAccountIds\":[\"9\",\"1\"],\"groupNames\":[\"Prod\"],"
                            "\"accountGroups\":{\"1\":\"Prod\"},\"pinnedServiceNames\":[],"
                            "\"disabledServiceNames\":[],\"accountConsoleRegions\":{\"1\":\"eu-"
                            "west-1\"},\"disabledConsoleRegionIds\":[]}"));
    }

    void recordsRoundTrip()
    {
        const SSOToken token = decodeSSOToken(tokenJson);
        QCOMPARE(token.refreshToken, std::optional<QString>(QStringLiteral("r")));
        QCOMPARE(token.expiresAt, utc("2001-01-01T00:00:10.000Z"));
        QCOMPARE(decodeSSOToken(encodeSSOToken(token)), token);

        const SSOToken noRefresh =
            decodeSSOToken(without(tokenJson, QStringLiteral("refreshToken")));
        QCOMPARE(noRefresh.refreshToken, std::nullopt);
        QVERIFY(!encodeSSOToken(noRefresh).contains("refreshToken"));

        const ClientRegistration client = decodeClientRegistration(clientJson);
        QCOMPARE(client.expiresAt, utc("2000-12-31T23:59:54.500Z"));
        QCOMPARE(decodeClientRegistration(encodeClientRegistration(client)), client);

        const AccountCache cache = decodeAccountCache(cacheJson);
        QCOMPARE(cache.lastSync, utc("2001-01-01T00:00:00.000Z"));
        QCOMPARE(cache.accounts.size(), 1);
        QCOMPARE(decodeAccountCache(encodeAccountCache(cache)), cache);
    }

    void unknownKeysAreIgnored_data()
    {
        QTest::addColumn<Record>("record");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("token") << Record::token << tokenJson;
        QTest::newRow("client") << Record::client << clientJson;
        QTest::newRow("cache") << Record::cache << cacheJson;
        QTest::newRow("organization") << Record::organization << QByteArray("{}");
    }

    void unknownKeysAreIgnored()
    {
        QFETCH(Record, record);
        QFETCH(QByteArray, json);
        decode(record,
               replaced(json, QStringLiteral("futureKey"), QJsonObject{{QStringLiteral("x"), 1}}));
        // Inside nested accounts too.
        decode(Record::cache, "{\"accounts\":[{\"accountId\":\"1\",\"accountName\":\"n\",\"roles\":"
                              "[],\"extra\":true}],\"lastSync\":1}");
    }

    void invalidDocumentsFailAsAWhole_data()
    {
        QTest::addColumn<Record>("record");
        QTest::addColumn<QByteArray>("json");
        for (const char *key : {"accessToken", "expiresAt", "region", "startUrl"}) {
            QTest::addRow("token without %s", key)
                << Record::token << without(tokenJson, QLatin1String(key));
            QTest::addRow("token with numeric %s", key)
                << Record::token
                << replaced(tokenJson, QLatin1String(key),
                            key[0] == 'e' ? QJsonValue(QStringLiteral("10")) : QJsonValue(1));
        }
        QTest::newRow("token with numeric refreshToken")
            << Record::token << replaced(tokenJson, QStringLiteral("refreshToken"), 5);
        for (const char *key : {"clientId", "clientSecret", "expiresAt", "region"}) {
            QTest::addRow("client without %s", key)
                << Record::client << without(clientJson, QLatin1String(key));
        }
        QTest::newRow("cache without lastSync")
            << Record::cache << without(cacheJson, QStringLiteral("lastSync"));
        QTest::newRow("cache without accounts")
            << Record::cache << without(cacheJson, QStringLiteral("accounts"));
        QTest::newRow("account without roles")
            << Record::cache
            << QByteArray(
                   "{\"accounts\":[{\"accountId\":\"1\",\"accountName\":\"n\"}],\"lastSync\":1}");
        QTest::newRow("role that is not a string")
            << Record::cache
            << QByteArray("{\"accounts\":[{\"accountId\":\"1\",\"accountName\":\"n\",\"roles\":[1]}"
                          "],\"lastSync\":1}");
        QTest::newRow("account that is not an object")
            << Record::cache << QByteArray("{\"accounts\":[\"1\"],\"lastSync\":1}");
        QTest::newRow("absurd date")
            << Record::cache << QByteArray("{\"accounts\":[],\"lastSync\":1e300}");
        QTest::newRow("organization list as text")
            << Record::organization << QByteArray("{\"pinnedAccountIds\":\"1\"}");
        QTest::newRow("organization map as list")
            << Record::organization << QByteArray("{\"accountGroups\":[\"1\"]}");
        QTest::newRow("organization map value as number")
            << Record::organization << QByteArray("{\"accountConsoleRegions\":{\"1\":2}}");
        QTest::newRow("not JSON") << Record::organization << QByteArray("{\"pinned");
        QTest::newRow("array document") << Record::organization << QByteArray("[]");
        QTest::newRow("empty file") << Record::token << QByteArray();
    }

    void invalidDocumentsFailAsAWhole()
    {
        QFETCH(Record, record);
        QFETCH(QByteArray, json);
        QVERIFY_THROWS_EXCEPTION(DecodingError, decode(record, json));
    }
};

QTEST_GUILESS_MAIN(TestRecordCoding)
#include "tst_recordcoding.moc"
