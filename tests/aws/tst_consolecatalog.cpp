#include "catalog/consolecatalog.h"
#include "catalog/consolelink.h"
#include "clienttestsupport.h"

#include <QTest>

using namespace tessera;
using test::listed;
using test::row;
using test::words;

namespace {

std::optional<QString> optional(const QString &text)
{
    return text.isNull() ? std::nullopt : std::optional(text);
}
} // namespace

class ConsoleCatalogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The catalogues are data; what matters is that every entry is usable.
    void cataloguesAreUsable()
    {
        for (const auto &s : consoleServiceCatalog()) {
            QVERIFY2(s.urlForRegion(QStringLiteral("eu-west-1")), qPrintable(s.name));
        }
        for (const auto &r : consoleRegionCatalog()) {
            QVERIFY2(isValidRegionId(r.id), qPrintable(r.id));
        }
        // "$" alone would also match before a final line break.
        QVERIFY(!matchesRegionPattern(QStringLiteral("us-east-1\n")));
        QVERIFY(isValidRegionId(QStringLiteral(" US-EAST-1\n")));
    }

    void urlForRegion_data()
    {
        QTest::addColumn<int>("service"); // index in the catalog, -1 for the console home
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("expected");
        row("regional", 0, "eu-west-1", "https://eu-west-1.console.aws.amazon.com/s3/home");
        row("global", 5, "eu-west-1", "https://console.aws.amazon.com/iam/home");
        row("Load Balancers: fragment kept", 16, "xx-new-9",
            "https://xx-new-9.console.aws.amazon.com/ec2/home#LoadBalancers:");
        row("console home", -1, "sa-east-1", "https://sa-east-1.console.aws.amazon.com/");
        row("no host name", 0, "not a region", QString());
    }

    void urlForRegion()
    {
        QFETCH(int, service);
        QFETCH(QString, region);
        QFETCH(QString, expected);
        const ConsoleService &s = service < 0 ? consoleHome() : consoleServiceCatalog().at(service);
        const auto url = s.urlForRegion(region);
        QCOMPARE(url ? url->toString(QUrl::FullyEncoded) : QString(), expected);
    }

    void consoleLinkValuesArePercentEncoded_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        row("unreserved and letters", "a-b_c.d~Ä9", "a-b_c.d~Ä9");
        row("reserved and blank", "a b/&=+", "a%20b%2F%26%3D%2B");
        row("lone surrogate", QString(QChar(0xD800)), "%EF%BF%BD");
    }

    void consoleLinkValuesArePercentEncoded()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(percentEncodeConsoleLinkValue(value), expected);
    }

    // The link itself is checked where the store opens it.
    void consoleLinkNeedsAnHttpsStartURL()
    {
        const QUrl destination(QStringLiteral("https://console.aws.amazon.com/"));
        QVERIFY(consoleDeepLink(QStringLiteral("https://x.awsapps.com/start"), QStringLiteral("1"),
                                QStringLiteral("R"), destination));
        QVERIFY(!consoleDeepLink(QStringLiteral("HTTPS://x.awsapps.com/start"), QStringLiteral("1"),
                                 QStringLiteral("R"), destination));
    }

    void orderedServices()
    {
        const QStringList catalogNames = listed(consoleServiceCatalog(), &ConsoleService::name);
        QCOMPARE(listed(orderedConsoleServices({}, {}), &ConsoleService::name), catalogNames);
        // Pins come first, once each; unknown pins add nothing; hidden services stay hidden.
        const auto ordered =
            listed(orderedConsoleServices(words("Lambda Nope EC2 Lambda S3"), words("EC2 WAF")),
                   &ConsoleService::name);
        QCOMPARE(ordered.mid(0, 5), words("Lambda S3 VPC RDS IAM"));
        QCOMPARE(ordered.size(), catalogNames.size() - 2);
        QCOMPARE(ordered.count(QStringLiteral("S3")), 1);
    }

    void resolveRegion_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("third");
        QTest::addColumn<QString>("disabled"); // "all": every catalog region
        QTest::addColumn<QString>("expected");
        const QString none;
        row("first, normalised", " EU-West-1\n", "us-east-2", "us-west-1", "", "eu-west-1");
        row("disabled falls to next", "us-east-1", "eu-central-1", "ap-south-1",
            "us-east-1 eu-central-1", "ap-south-1");
        row("malformed skipped", "us-east-12", none, "us-west-2", "", "us-west-2");
        row("uncatalogued of the right form", "xx-new-9", none, "us-west-2", "", "xx-new-9");
        row("none usable: first enabled", "bogus", none, "us-east-1", "us-east-1", "us-east-2");
        row("all disabled: third as passed", "us-east-1", none, " Not A Region ", "all",
            " Not A Region ");
        row("all disabled, no third", none, none, none, "all", "");
    }

    void resolveRegion()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, third);
        QFETCH(QString, disabled);
        QFETCH(QString, expected);
        const QStringList off = disabled == QLatin1String("all")
                                    ? listed(consoleRegionCatalog(), &ConsoleRegion::id)
                                    : words(qPrintable(disabled));
        QCOMPARE(resolveConsoleRegion(optional(first), optional(second), optional(third),
                                      QSet<QString>(off.cbegin(), off.cend())),
                 expected);
    }

    void filterRegions_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        row("words match id and name", "asia\u3000tok", words("ap-northeast-1"));
        row("case-insensitive", "US", words("us-east-1 us-east-2 us-west-1 us-west-2"));
        row("all words must occur", "europe tokyo", QStringList());
        row("blank keeps every region", " \t\n ",
            listed(consoleRegionCatalog(), &ConsoleRegion::id));
    }

    void filterRegions()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(listed(filterConsoleRegions(query, consoleRegionCatalog()), &ConsoleRegion::id),
                 expected);
    }
};

QTEST_GUILESS_MAIN(ConsoleCatalogTest)
#include "tst_consolecatalog.moc"
