#include "aws/environmentproxy.h"

#include <QTest>

using namespace tessera;

// Which proxy the environment's variables pick for a URL, as the AWS CLI picks it.
class TestEnvironmentProxy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void proxySelection_data()
    {
        QTest::addColumn<QStringList>("environment"); // name=value pairs
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected"); // host:port, or "direct"
        const QString aws = QStringLiteral("https://portal.sso.us-east-1.amazonaws.com/x");
        QTest::newRow("none") << QStringList{} << aws << "direct";
        QTest::newRow("upper case") << QStringList{QStringLiteral("HTTPS_PROXY=proxy.corp:3128")}
                                    << aws << "proxy.corp:3128";
        QTest::newRow("lower case wins")
            << QStringList{QStringLiteral("HTTPS_PROXY=upper:1"),
                           QStringLiteral("https_proxy=http://lower:2")}
            << aws << "lower:2";
        QTest::newRow("all_proxy fallback")
            << QStringList{QStringLiteral("ALL_PROXY=all:9")} << aws << "all:9";
        QTest::newRow("http_proxy ignored for https")
            << QStringList{QStringLiteral("http_proxy=plain:8")} << aws << "direct";
        QTest::newRow("default port")
            << QStringList{QStringLiteral("https_proxy=http://p")} << aws << "p:80";
        QTest::newRow("no_proxy domain") << QStringList{QStringLiteral("https_proxy=p:1"),
                                                        QStringLiteral("NO_PROXY=amazonaws.com")}
                                         << aws << "direct";
        QTest::newRow("no_proxy leading dot")
            << QStringList{QStringLiteral("https_proxy=p:1"),
                           QStringLiteral("no_proxy=.amazonaws.com")}
            << aws << "direct";
        QTest::newRow("no_proxy partial label")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=naws.com")}
            << aws << "p:1";
        QTest::newRow("no_proxy star")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=*")} << aws
            << "direct";
        QTest::newRow("no_proxy other port")
            << QStringList{QStringLiteral("https_proxy=p:1"),
                           QStringLiteral("no_proxy=amazonaws.com:8443")}
            << aws << "p:1";
        QTest::newRow("no_proxy same port")
            << QStringList{QStringLiteral("https_proxy=p:1"),
                           QStringLiteral("no_proxy=x, amazonaws.com:443")}
            << aws << "direct";
        QTest::newRow("no_proxy cidr")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=10.0.0.0/8")}
            << "https://10.2.3.4/x"
            << "direct";
        QTest::newRow("no_proxy other address")
            << QStringList{QStringLiteral("https_proxy=p:1"), QStringLiteral("no_proxy=10.0.0.1")}
            << "https://10.2.3.4/x"
            << "p:1";
    }

    void proxySelection()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        const auto settings = EnvironmentProxySettings::fromLookup([&](const char *name) {
            for (const QString &pair : environment) {
                if (pair.section(QLatin1Char('='), 0, 0) == QLatin1String(name)) {
                    return pair.section(QLatin1Char('='), 1);
                }
            }
            return QString();
        });
        const QNetworkProxy proxy = settings.proxyFor(QUrl(url));
        const QString actual =
            proxy.type() == QNetworkProxy::NoProxy
                ? QStringLiteral("direct")
                : proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port());
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestEnvironmentProxy)
#include "tst_environmentproxy.moc"
