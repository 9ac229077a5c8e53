#include "aws/endpoints.h"
#include "aws/portalclient.h"
#include "aws/ssooidc.h"
#include "clienttestsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tessera;
using test::failureAs;

namespace {
const char *endpointVariables[] = {"AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_SSO_OIDC",
                                   "AWS_ENDPOINT_URL_SSO", "AWS_IGNORE_CONFIGURED_ENDPOINT_URLS"};

QString endpointOf(IdentityService service, const QString &region)
{
    const auto url = serviceEndpoint(service, region);
    return url ? url->toString() : QStringLiteral("none");
}
} // namespace

class TestEndpoints : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        for (const char *name : endpointVariables) {
            qunsetenv(name);
        }
    }

    void regionalHosts_data()
    {
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("oidc");
        QTest::addColumn<QString>("portal");
        QTest::newRow("commercial") << "eu-central-1"
                                    << "https://oidc.eu-central-1.amazonaws.com"
                                    << "https://portal.sso.eu-central-1.amazonaws.com";
        QTest::newRow("china") << "cn-north-1"
                               << "https://oidc.cn-north-1.amazonaws.com.cn"
                               << "https://portal.sso.cn-north-1.amazonaws.com.cn";
        QTest::newRow("china by pattern") << "cn-south-7"
                                          << "https://oidc.cn-south-7.amazonaws.com.cn"
                                          << "https://portal.sso.cn-south-7.amazonaws.com.cn";
        QTest::newRow("govcloud") << "us-gov-west-1"
                                  << "https://oidc.us-gov-west-1.amazonaws.com"
                                  << "https://portal.sso.us-gov-west-1.amazonaws.com";
        QTest::newRow("iso") << "us-iso-east-1"
                             << "https://oidc.us-iso-east-1.c2s.ic.gov"
                             << "https://portal.sso.us-iso-east-1.c2s.ic.gov";
        QTest::newRow("iso-b by pattern") << "us-isob-west-3"
                                          << "https://oidc.us-isob-west-3.sc2s.sgov.gov"
                                          << "https://portal.sso.us-isob-west-3.sc2s.sgov.gov";
        QTest::newRow("unclaimed region is commercial")
            << "mars-north-1"
            << "https://oidc.mars-north-1.amazonaws.com"
            << "https://portal.sso.mars-north-1.amazonaws.com";
        QTest::newRow("longest label")
            << QString(63, QLatin1Char('a'))
            << QStringLiteral("https://oidc.%1.amazonaws.com").arg(QString(63, QLatin1Char('a')))
            << QStringLiteral("https://portal.sso.%1.amazonaws.com")
                   .arg(QString(63, QLatin1Char('a')));
    }

    void regionalHosts()
    {
        QFETCH(QString, region);
        QFETCH(QString, oidc);
        QFETCH(QString, portal);
        QCOMPARE(endpointOf(IdentityService::oidc, region), oidc);
        QCOMPARE(endpointOf(IdentityService::portal, region), portal);
    }

    // A region becomes part of a host name, so anything but one DNS label is refused.
    void unusableRegionsGiveNoEndpoint_data()
    {
        QTest::addColumn<QString>("region");
        QTest::newRow("empty") << "";
        QTest::newRow("upper case") << "EU-WEST-1";
        QTest::newRow("dot") << "eu-west-1.evil.com";
        QTest::newRow("slash") << "eu-west-1/x";
        QTest::newRow("at sign") << "user@evil";
        QTest::newRow("trailing space") << "eu-west-1 ";
        QTest::newRow("trailing hyphen") << "eu-west-";
        QTest::newRow("non-ascii") << "eu-wëst-1";
        QTest::newRow("too long") << QString(64, QLatin1Char('a'));
    }

    void unusableRegionsGiveNoEndpoint()
    {
        QFETCH(QString, region);
        QVERIFY(!serviceEndpoint(IdentityService::oidc, region));
        QVERIFY(!serviceEndpoint(IdentityService::portal, region));
    }

    // The embedded table must agree with the partition data botocore ships.
    void partitionTableMatchesBotocore()
    {
        QFile file(QStringLiteral("/usr/lib/python3/dist-packages/botocore/data/partitions.json"));
        if (!file.open(QIODevice::ReadOnly)) {
            QSKIP("botocore's partition data is not installed");
        }
        const QJsonArray published = QJsonDocument::fromJson(file.readAll())
                                         .object()
                                         .value(QStringLiteral("partitions"))
                                         .toArray();
        QVERIFY(!published.isEmpty());
        const auto ours = awsPartitions();
        QCOMPARE(qsizetype(ours.size()), published.size());
        for (qsizetype i = 0; i < published.size(); ++i) {
            const QJsonObject partition = published[i].toObject();
            const QString id = partition.value(QStringLiteral("id")).toString();
            QCOMPARE(QString::fromLatin1(ours[i].id), id);
            QCOMPARE(QString::fromLatin1(ours[i].regionRegex),
                     partition.value(QStringLiteral("regionRegex")).toString());
            QCOMPARE(QString::fromLatin1(ours[i].dnsSuffix),
                     partition.value(QStringLiteral("outputs"))
                         .toObject()
                         .value(QStringLiteral("dnsSuffix"))
                         .toString());
            for (const QString &region :
                 partition.value(QStringLiteral("regions")).toObject().keys()) {
                QVERIFY2(QString::fromLatin1(partitionForRegion(region).id) == id,
                         qPrintable(region));
            }
        }
    }

    void environmentOverridesReplaceEndpoints()
    {
        qputenv("AWS_ENDPOINT_URL", "https://global.example:8443");
        QCOMPARE(endpointOf(IdentityService::oidc, QStringLiteral("us-east-1")),
                 QStringLiteral("https://global.example:8443"));
        QCOMPARE(endpointOf(IdentityService::portal, QStringLiteral("us-east-1")),
                 QStringLiteral("https://global.example:8443"));
        qputenv("AWS_ENDPOINT_URL_SSO_OIDC", "https://127.0.0.1:9001");
        qputenv("AWS_ENDPOINT_URL_SSO", "https://127.0.0.1:9002/base");
        QCOMPARE(endpointOf(IdentityService::oidc, QStringLiteral("us-east-1")),
                 QStringLiteral("https://127.0.0.1:9001"));
        // The region no longer forms the host, so any region goes.
        QCOMPARE(endpointOf(IdentityService::portal, QString()),
                 QStringLiteral("https://127.0.0.1:9002/base"));
        QCOMPARE(endpointUrl(*serviceEndpoint(IdentityService::oidc, {}),
                             QStringLiteral("client/register"))
                     .toString(),
                 QStringLiteral("https://127.0.0.1:9001/client/register"));
        QCOMPARE(endpointUrl(*serviceEndpoint(IdentityService::portal, {}),
                             QStringLiteral("assignment/roles"))
                     .toString(),
                 QStringLiteral("https://127.0.0.1:9002/base/assignment/roles"));
        QCOMPARE(endpointUrl(QUrl(QStringLiteral("https://127.0.0.1:9002/base/")),
                             QStringLiteral("assignment/roles"))
                     .toString(),
                 QStringLiteral("https://127.0.0.1:9002/base/assignment/roles"));
        qputenv("AWS_IGNORE_CONFIGURED_ENDPOINT_URLS", "TRUE");
        QCOMPARE(endpointOf(IdentityService::oidc, QStringLiteral("us-east-1")),
                 QStringLiteral("https://oidc.us-east-1.amazonaws.com"));
    }

    void insecureOverridesAreRefusedWithoutTraffic_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("http") << QByteArray("AWS_ENDPOINT_URL_SSO_OIDC")
                              << QByteArray("http://127.0.0.1:9001");
        QTest::newRow("no scheme")
            << QByteArray("AWS_ENDPOINT_URL") << QByteArray("127.0.0.1:9001");
        QTest::newRow("no host") << QByteArray("AWS_ENDPOINT_URL") << QByteArray("https://");
    }

    void insecureOverridesAreRefusedWithoutTraffic()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        qputenv(variable.constData(), value);
        qputenv("AWS_ENDPOINT_URL_SSO", value);
        auto transport = std::make_shared<InMemoryHttpTransport>();
        const SSOOIDC oidc(QStringLiteral("us-east-1"), transport);
        auto registering = startTask<RegisterResponse>(
            [oidc](CancellationToken t) { return oidc.registerClient(t); });
        const auto error = failureAs<EndpointOverrideError>(registering);
        QVERIFY(error);
        QCOMPARE(error->variable(), QString::fromLatin1(variable));
        QVERIFY(error->description().contains(QString::fromLatin1(value)));
        QVERIFY(error->description().contains(QStringLiteral("https")));

        const PortalClient portal(QStringLiteral("us-east-1"), QStringLiteral("t"), transport, 10);
        auto listing = startTask<QList<AccountEntry>>(
            [portal](CancellationToken t) { return portal.listAccounts(t); });
        QVERIFY(failureAs<EndpointOverrideError>(listing));
        QCOMPARE(transport->requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestEndpoints)
#include "tst_endpoints.moc"
