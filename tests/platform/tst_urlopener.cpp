#include "platform/urlopener.h"

#include <QDesktopServices>
#include <QTest>

// Stands in for the browser: the desktop hands https URLs to it instead.
class BrowserStandIn : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

class TestURLOpener : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void handsTheURLToTheDesktopHandler()
    {
        BrowserStandIn browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        const QUrl url(QStringLiteral("https://device.sso.us-east-1.amazonaws.com/?user_code=AB"));
        QVERIFY(tessera::openURLInDesktopBrowser(url));
        QCOMPARE(browser.opened, QList<QUrl>{url});
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
};

QTEST_MAIN(TestURLOpener)
#include "tst_urlopener.moc"
