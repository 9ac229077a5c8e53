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
    if (name == consoleHome().name) {
        return consoleHome();
    }
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
    // The catalogues themselves are data; what matters is that every entry is usable.
    void cataloguesAreUsable()
    {
        for (const auto &s : consoleServiceCatalog()) {
            QVERIFY2(s.urlForRegion(QStringLiteral("eu-west-1")), qPrintable(s.name));
        }
        QVERIFY(!isCatalogServiceName(consoleHome().name));
        for (const auto &r : consoleRegionCatalog()) {
            QVERIFY2(isValidRegionId(r.id), qPrintable(r.id));
        }
        QCOMPARE(ids(usConsoleRegions()), words("us-east-1 us-east-2 us-west-1 us-west-2"));
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
        QTest::newRow("console home is the root of the regional host")
            << "Console Home"
            << "sa-east-1"
            << "https://sa-east-1.console.aws.amazon.com/";
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
        QTest::newRow("blank query keeps every region") << " \t\n " << ids(consoleRegionCatalog());
    }

    void filterRegions()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(ids(filterConsoleRegions(query, consoleRegionCatalog())), expected);
    }
};

QTEST_GUILESS_MAIN(ConsoleCatalogTest)
#include "tst_consolecatalog.moc"
