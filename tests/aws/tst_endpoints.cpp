#include "aws/endpoints.h"
#include "clienttestsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tessera;
using test::row;
using test::words;

namespace {
QString endpointOf(IdentityService service, const QString &region)
{
    const auto url = serviceEndpoint(service, region);
    return url ? endpointUrl(*url, QStringLiteral("x")).toString() : QString();
}
} // namespace

class TestEndpoints : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        for (const char *name : {"AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_SSO_OIDC",
                                 "AWS_ENDPOINT_URL_SSO", "AWS_IGNORE_CONFIGURED_ENDPOINT_URLS"}) {
            qunsetenv(name);
        }
    }

    // A region becomes part of a host name, so anything but one DNS label is refused.
    void regionalHosts_data()
    {
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("dnsSuffix"); // empty: no endpoint
        row("commercial", "eu-central-1", "amazonaws.com");
        row("china, listed", "cn-north-1", "amazonaws.com.cn");
        row("iso-b by pattern", "us-isob-west-3", "sc2s.sgov.gov");
        row("longest label", QString(63, QLatin1Char('a')), "amazonaws.com");
        row("too long", QString(64, QLatin1Char('a')), "");
        row("empty", "", "");
        row("upper case", "EU-WEST-1", "");
        row("another host", "eu-west-1.evil.com/x", "");
    }

    void regionalHosts()
    {
        QFETCH(QString, region);
        QFETCH(QString, dnsSuffix);
        const QString host = region + QLatin1Char('.') + dnsSuffix + QStringLiteral("/x");
        QCOMPARE(endpointOf(IdentityService::oidc, region),
                 dnsSuffix.isEmpty() ? QString() : QStringLiteral("https://oidc.") + host);
        QCOMPARE(endpointOf(IdentityService::portal, region),
                 dnsSuffix.isEmpty() ? QString() : QStringLiteral("https://portal.sso.") + host);
    }

    // The embedded table must agree with the partition data botocore ships (the AWS CLI,
    // which the tests need anyway, brings it).
    void partitionTableMatchesBotocore()
    {
        QFile file(QStringLiteral("/usr/lib/python3/dist-packages/botocore/data/partitions.json"));
        QVERIFY2(file.open(QIODevice::ReadOnly), "botocore is required (scripts/setup.sh)");
        const QJsonArray published =
            QJsonDocument::fromJson(file.readAll()).object().value(u"partitions").toArray();
        const auto ours = awsPartitions();
        QCOMPARE(qsizetype(ours.size()), published.size());
        for (qsizetype i = 0; i < published.size(); ++i) {
            const QJsonObject partition = published[i].toObject();
            const QString id = partition.value(u"id").toString();
            QCOMPARE(QString::fromLatin1(ours[i].id), id);
            QCOMPARE(QString::fromLatin1(ours[i].regionRegex),
                     partition.value(u"regionRegex").toString());
            QCOMPARE(QString::fromLatin1(ours[i].dnsSuffix),
                     partition.value(u"outputs").toObject().value(u"dnsSuffix").toString());
            for (const QString &region : partition.value(u"regions").toObject().keys()) {
                QVERIFY2(QLatin1String(partitionForRegion(region).id) == id, qPrintable(region));
            }
        }
    }

    // Tokens go wherever an override points, so only https with a host is accepted.
    void environmentOverridesReplaceEndpoints_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("oidc");   // "refused": the override is refused
        QTest::addColumn<QString>("portal"); // with "refused": the variable refused
        row("global", words("AWS_ENDPOINT_URL=https://global.example:8443"),
            "https://global.example:8443/x", "https://global.example:8443/x");
        row("per service wins",
            words("AWS_ENDPOINT_URL=https://global.example AWS_ENDPOINT_URL_SSO_OIDC=https://"
                  "127.0.0.1:9001 AWS_ENDPOINT_URL_SSO=https://127.0.0.1:9002/b"),
            "https://127.0.0.1:9001/x", "https://127.0.0.1:9002/b/x");
        row("path with slash", words("AWS_ENDPOINT_URL=https://127.0.0.1:9002/b/"),
            "https://127.0.0.1:9002/b/x", "https://127.0.0.1:9002/b/x");
        row("ignored", words("AWS_ENDPOINT_URL=https://g AWS_IGNORE_CONFIGURED_ENDPOINT_URLS=TRUE"),
            "https://oidc.us-east-1.amazonaws.com/x",
            "https://portal.sso.us-east-1.amazonaws.com/x");
        row("http", words("AWS_ENDPOINT_URL_SSO_OIDC=http://127.0.0.1:9001"), "refused",
            "AWS_ENDPOINT_URL_SSO_OIDC");
        row("no host", words("AWS_ENDPOINT_URL=https://"), "refused", "AWS_ENDPOINT_URL");
    }

    void environmentOverridesReplaceEndpoints()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, oidc);
        QFETCH(QString, portal);
        for (const QString &setting : environment) {
            qputenv(qPrintable(setting.section(QLatin1Char('='), 0, 0)),
                    setting.section(QLatin1Char('='), 1).toUtf8());
        }
        // A configured endpoint no longer needs the region to form a host.
        const QString region =
            oidc.contains(QLatin1String("us-east-1")) ? QStringLiteral("us-east-1") : QString();
        try {
            QCOMPARE(endpointOf(IdentityService::oidc, region), oidc);
            QCOMPARE(endpointOf(IdentityService::portal, region), portal);
        } catch (const EndpointOverrideError &error) {
            QCOMPARE(oidc, QStringLiteral("refused"));
            QCOMPARE(error.variable(), portal);
            QVERIFY(error.description().contains(environment.first().section(QLatin1Char('='), 1)));
        }
    }
};

QTEST_GUILESS_MAIN(TestEndpoints)
#include "tst_endpoints.moc"
