#include "catalog/consolecatalog.h"

#include <QTest>

using namespace tessera;

namespace {
QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '));
}

QStringList ids(const QList<ConsoleRegion> &regions)
{
    QStringList result;
    for (const auto &r : regions) {
        result.append(r.id);
    }
    return result;
}

QStringList names(const QList<ConsoleService> &services)
{
    QStringList result;
    for (const auto &s : services) {
        result.append(s.name);
    }
    return result;
}

const ConsoleService &service(const QString &name)
{
    for (const auto &s : consoleServiceCatalog()) {
        if (s.name == name) {
            return s;
        }
    }
    qFatal("no catalog service %s", qPrintable(name));
}

std::optional<QString> optional(const QString &text)
{
    return text.isNull() ? std::nullopt : std::optional(text);
}
} // namespace

class ConsoleCatalogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serviceCatalogIsTheTable()
    {
        using enum ConsoleServiceScope;
        struct Row
        {
            const char *name;
            const char *path;
            ConsoleServiceScope scope;
        };
        const Row table[] = {
            {"S3", "/s3/home", regional},
            {"EC2", "/ec2/home", regional},
            {"VPC", "/vpcconsole/home", regional},
            {"RDS", "/rds/home", regional},
            {"Lambda", "/lambda/home", regional},
            {"IAM", "/iam/home", global},
            {"CloudWatch", "/cloudwatch/home", regional},
            {"CloudFormation", "/cloudformation/home", regional},
            {"Route 53", "/route53/v2/home", global},
            {"ECS", "/ecs/home", regional},
            {"Systems Manager", "/systems-manager/home", regional},
            {"Secrets Manager", "/secretsmanager/home", regional},
            {"Billing & Cost", "/costmanagement/home", global},
            {"DynamoDB", "/dynamodbv2/home", regional},
            {"EKS", "/eks/home", regional},
            {"ECR", "/ecr/home", regional},
            {"Load Balancers", "/ec2/home#LoadBalancers:", regional},
            {"API Gateway", "/apigateway/home", regional},
            {"SQS", "/sqs/v3/home", regional},
            {"SNS", "/sns/v3/home", regional},
            {"EventBridge", "/events/home", regional},
            {"Step Functions", "/states/home", regional},
            {"CloudTrail", "/cloudtrail/home", regional},
            {"CloudFront", "/cloudfront/v4/home", global},
            {"KMS", "/kms/home", regional},
            {"Certificate Manager", "/acm/home", regional},
            {"EFS", "/efs/home", regional},
            {"ElastiCache", "/elasticache/home", regional},
            {"Athena", "/athena/home", regional},
            {"Glue", "/glue/home", regional},
            {"Redshift", "/redshiftv2/home", regional},
            {"Backup", "/backup/home", regional},
            {"Config", "/config/home", regional},
            {"GuardDuty", "/guardduty/home", regional},
            {"Security Hub", "/securityhub/home", regional},
            {"WAF", "/wafv2-pro", regional},
            {"SES", "/ses/home", regional},
            {"Bedrock", "/bedrock/home", regional},
            {"Organizations", "/organizations/v2/home", global},
            {"IAM Identity Center", "/singlesignon/home", global},
        };
        const auto &catalog = consoleServiceCatalog();
        QCOMPARE(catalog.size(), qsizetype(std::size(table)));
        for (qsizetype i = 0; i < catalog.size(); ++i) {
            const Row &row = table[i];
            QCOMPARE(catalog[i].name, QString::fromUtf8(row.name));
            QCOMPARE(catalog[i].destination, QStringLiteral("https://console.aws.amazon.com") +
                                                 QString::fromUtf8(row.path));
            QCOMPARE(catalog[i].scope, row.scope);
        }

        QCOMPARE(consoleHome().name, QStringLiteral("Console Home"));
        QCOMPARE(consoleHome().destination, QStringLiteral("https://console.aws.amazon.com/"));
        QCOMPARE(consoleHome().scope, ConsoleServiceScope::regional);
        QVERIFY(!isCatalogServiceName(consoleHome().name));
    }

    void regionCatalogIsTheTable()
    {
        const std::pair<const char *, const char *> table[] = {
            {"us-east-1", "US East (N. Virginia)"},
            {"us-east-2", "US East (Ohio)"},
            {"us-west-1", "US West (N. California)"},
            {"us-west-2", "US West (Oregon)"},
            {"af-south-1", "Africa (Cape Town)"},
            {"ap-east-1", "Asia Pacific (Hong Kong)"},
            {"ap-east-2", "Asia Pacific (Taipei)"},
            {"ap-northeast-1", "Asia Pacific (Tokyo)"},
            {"ap-northeast-2", "Asia Pacific (Seoul)"},
            {"ap-northeast-3", "Asia Pacific (Osaka)"},
            {"ap-south-1", "Asia Pacific (Mumbai)"},
            {"ap-south-2", "Asia Pacific (Hyderabad)"},
            {"ap-southeast-1", "Asia Pacific (Singapore)"},
            {"ap-southeast-2", "Asia Pacific (Sydney)"},
            {"ap-southeast-3", "Asia Pacific (Jakarta)"},
            {"ap-southeast-4", "Asia Pacific (Melbourne)"},
            {"ap-southeast-5", "Asia Pacific (Malaysia)"},
            {"ap-southeast-6", "Asia Pacific (New Zealand)"},
            {"ap-southeast-7", "Asia Pacific (Thailand)"},
            {"ca-central-1", "Canada (Central)"},
            {"ca-west-1", "Canada West (Calgary)"},
            {"eu-central-1", "Europe (Frankfurt)"},
            {"eu-central-2", "Europe (Zurich)"},
            {"eu-north-1", "Europe (Stockholm)"},
            {"eu-south-1", "Europe (Milan)"},
            {"eu-south-2", "Europe (Spain)"},
            {"eu-west-1", "Europe (Ireland)"},
            {"eu-west-2", "Europe (London)"},
            {"eu-west-3", "Europe (Paris)"},
            {"il-central-1", "Israel (Tel Aviv)"},
            {"me-central-1", "Middle East (UAE)"},
            {"me-south-1", "Middle East (Bahrain)"},
            {"mx-central-1", "Mexico (Central)"},
            {"sa-east-1", "South America (Sao Paulo)"},
        };
        const auto &catalog = consoleRegionCatalog();
        QCOMPARE(catalog.size(), qsizetype(std::size(table)));
        for (qsizetype i = 0; i < catalog.size(); ++i) {
            QCOMPARE(catalog[i].id, QString::fromUtf8(table[i].first));
            QCOMPARE(catalog[i].name, QString::fromUtf8(table[i].second));
            // Every catalogued id must be accepted where a region is typed.
            QVERIFY2(isValidRegionId(catalog[i].id), qPrintable(catalog[i].id));
        }
        QCOMPARE(ids(usConsoleRegions()),
                 QStringList({QStringLiteral("us-east-1"), QStringLiteral("us-east-2"),
                              QStringLiteral("us-west-1"), QStringLiteral("us-west-2")}));
    }

    void urlForRegion_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("expected");

        QTest::newRow("regional service moves to the regional host")
            << "S3"
            << "eu-west-1"
            << "https://eu-west-1.console.aws.amazon.com/s3/home";
        QTest::newRow("global service ignores the region")
            << "IAM"
            << "eu-west-1"
            << "https://console.aws.amazon.com/iam/home";
        QTest::newRow("fragment is kept")
            << "Load Balancers"
            << "ap-southeast-2"
            << "https://ap-southeast-2.console.aws.amazon.com/ec2/home#LoadBalancers:";
        QTest::newRow("uncatalogued region of the right form")
            << "Lambda"
            << "xx-newplace-9"
            << "https://xx-newplace-9.console.aws.amazon.com/lambda/home";
        QTest::newRow("empty region gives no URL") << "S3"
                                                   << "" << QString();
        QTest::newRow("region that is no host name gives no URL") << "S3"
                                                                  << "not a region" << QString();
    }

    void urlForRegion()
    {
        QFETCH(QString, service);
        QFETCH(QString, region);
        QFETCH(QString, expected);

        const auto url = ::service(service).urlForRegion(region);
        if (expected.isNull()) {
            QVERIFY2(!url, qPrintable(url ? url->toString() : QString()));
        } else {
            QVERIFY(url);
            QCOMPARE(url->toString(QUrl::FullyEncoded), expected);
        }
    }

    void consoleHomeIsTheRootOfTheRegionalHost()
    {
        const auto url = consoleHome().urlForRegion(QStringLiteral("sa-east-1"));
        QVERIFY(url);
        QCOMPARE(url->toString(QUrl::FullyEncoded),
                 QStringLiteral("https://sa-east-1.console.aws.amazon.com/"));
    }

    void orderedServices()
    {
        const QStringList catalogNames = names(consoleServiceCatalog());
        QCOMPARE(names(orderedConsoleServices({}, {})), catalogNames);

        QStringList expected = {QStringLiteral("Lambda"), QStringLiteral("S3")};
        for (const auto &name : catalogNames) {
            if (!expected.contains(name)) {
                expected.append(name);
            }
        }
        const auto pinned =
            names(orderedConsoleServices({QStringLiteral("Lambda"), QStringLiteral("S3")}, {}));
        QCOMPARE(pinned, expected);
        QCOMPARE(pinned.mid(0, 6), words("Lambda S3 EC2 VPC RDS IAM"));

        // A pin of a hidden service hides it all the same; an unknown or repeated pin adds
        // nothing.
        const auto filtered =
            names(orderedConsoleServices({QStringLiteral("Bedrock"), QStringLiteral("Nope"),
                                          QStringLiteral("EC2"), QStringLiteral("Bedrock")},
                                         {QStringLiteral("EC2"), QStringLiteral("WAF")}));
        QCOMPARE(filtered.size(), catalogNames.size() - 2);
        QCOMPARE(filtered.first(), QStringLiteral("Bedrock"));
        QCOMPARE(filtered.count(QStringLiteral("Bedrock")), 1);
        QVERIFY(!filtered.contains(QStringLiteral("EC2")));
        QVERIFY(!filtered.contains(QStringLiteral("WAF")));
        QVERIFY(!filtered.contains(QStringLiteral("Nope")));
        QCOMPARE(filtered.at(1), QStringLiteral("S3"));
    }

    void enabledRegionsKeepCatalogOrder()
    {
        QCOMPARE(enabledConsoleRegions({}), consoleRegionCatalog());
        const auto enabled =
            ids(enabledConsoleRegions({QStringLiteral("us-east-2"), QStringLiteral("xx-unknown-1"),
                                       QStringLiteral("us-east-1")}));
        QCOMPARE(enabled.size(), consoleRegionCatalog().size() - 2);
        QCOMPARE(enabled.first(), QStringLiteral("us-west-1"));
        QCOMPARE(enabled.last(), QStringLiteral("sa-east-1"));
    }

    void resolveRegion_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("third");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QString>("expected");

        const QString none;
        QTest::newRow("first wins, normalised") << " EU-West-1\n"
                                                << "us-east-2"
                                                << "us-west-1" << QStringList() << "eu-west-1";
        QTest::newRow("disabled first falls to second")
            << "us-east-1"
            << "eu-central-1"
            << "us-west-1" << words("us-east-1") << "eu-central-1";
        QTest::newRow("disabled first and second fall to third")
            << "us-east-1"
            << "eu-central-1"
            << "ap-south-1" << words("us-east-1 eu-central-1") << "ap-south-1";
        QTest::newRow("absent candidates are skipped")
            << none << none << "ca-west-1" << QStringList() << "ca-west-1";
        QTest::newRow("no two-letter prefix is skipped")
            << "region-1" << none << "us-west-2" << QStringList() << "us-west-2";
        QTest::newRow("two digits are skipped")
            << "us-east-12" << none << "us-west-2" << QStringList() << "us-west-2";
        QTest::newRow("line break inside is skipped")
            << "us-east-1\nus-east-2" << none << "us-west-2" << QStringList() << "us-west-2";
        QTest::newRow("uncatalogued id of the right form is used")
            << "xx-newplace-9" << none << "us-west-2" << QStringList() << "xx-newplace-9";
        QTest::newRow("nothing usable: first enabled catalog region")
            << "bogus"
            << "us-east-1"
            << "us-east-1" << words("us-east-1") << "us-east-2";
        QTest::newRow("disabled third, first enabled catalog region")
            << none << none << "eu-west-1" << words("eu-west-1") << "us-east-1";
    }

    void resolveRegion()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, third);
        QFETCH(QStringList, disabled);
        QFETCH(QString, expected);

        QCOMPARE(resolveConsoleRegion(optional(first), optional(second), optional(third),
                                      QSet<QString>(disabled.cbegin(), disabled.cend())),
                 expected);
    }

    void patternMatchesWholeText()
    {
        QVERIFY(matchesRegionPattern(QStringLiteral("us-east-1")));
        QVERIFY(!matchesRegionPattern(QStringLiteral("us-east-1\n")));
        QVERIFY(!matchesRegionPattern(QStringLiteral(" us-east-1")));
        QVERIFY(!matchesRegionPattern(QStringLiteral("US-EAST-1")));
        QVERIFY(isValidRegionId(QStringLiteral(" US-EAST-1\n")));
    }

    void everyRegionDisabledGivesTheThirdCandidateAsPassed()
    {
        QSet<QString> all;
        for (const auto &r : consoleRegionCatalog()) {
            all.insert(r.id);
        }
        QCOMPARE(resolveConsoleRegion(QStringLiteral("xx-newplace-9"), std::nullopt,
                                      QStringLiteral(" Not A Region "), all),
                 QStringLiteral("xx-newplace-9"));
        QCOMPARE(resolveConsoleRegion(QStringLiteral("us-east-1"), std::nullopt,
                                      QStringLiteral(" Not A Region "), all),
                 QStringLiteral(" Not A Region "));
        QCOMPARE(resolveConsoleRegion(std::nullopt, std::nullopt, std::nullopt, all), QString());
    }

    void filterRegions_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("words match id and name") << "asia tok" << words("ap-northeast-1");
        QTest::newRow("case-insensitive")
            << "US" << words("us-east-1 us-east-2 us-west-1 us-west-2");
        QTest::newRow("id words") << "  eu-central \t zur " << words("eu-central-2");
        QTest::newRow("non-ASCII blank separates words")
            << QStringLiteral("asia\u3000tok") << words("ap-northeast-1");
        QTest::newRow("no match") << "atlantis" << QStringList();
        QTest::newRow("all words must occur") << "europe tokyo" << QStringList();
    }

    void filterRegions()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(ids(filterConsoleRegions(query, consoleRegionCatalog())), expected);
    }

    void blankQueryKeepsEveryRegion()
    {
        const QList<ConsoleRegion> some = {consoleRegionCatalog().at(5),
                                           consoleRegionCatalog().at(2)};
        QCOMPARE(filterConsoleRegions(QStringLiteral(" \t\n "), some), some);
        QCOMPARE(filterConsoleRegions(QString(), some), some);
    }
};

QTEST_GUILESS_MAIN(ConsoleCatalogTest)
#include "tst_consolecatalog.moc"
