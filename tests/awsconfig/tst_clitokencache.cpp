#include "awsconfig/clitokencache.h"
#include "awsconfigtestdata.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace Qt::StringLiterals;

namespace {
const QString ourURL = QStringLiteral("https://acme.awsapps.com/start");
const QDateTime inAnHour = QDateTime::currentDateTimeUtc().addSecs(3600);

CLITokenCacheEntry ourEntry()
{
    return {ourURL, QStringLiteral("eu-west-1"), QStringLiteral("tessera-token"), inAnHour};
}

QByteArray entryJSON(const QString &url, const QString &token, const QDateTime &expiresAt)
{
    return QStringLiteral(
               R"({"startUrl":"%1","region":"eu-west-1","accessToken":"%2","expiresAt":"%3"})")
        .arg(url, token, expiresAt.toUTC().toString(Qt::ISODate))
        .toUtf8();
}
} // namespace

class TestCLITokenCache : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString cacheDir() const { return m_dir->filePath(QStringLiteral("sso/cache")); }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void writesAPrivateEntryWithoutRefreshToken()
    {
        // botocore's cache key: the SHA-1 of the session name's UTF-8 bytes, lower-case hex.
        const CLITokenCache cache(cacheDir());
        QCOMPARE(cache.write(u"Zürich Ops"_s, ourEntry()), CLITokenCache::WriteOutcome::written);
        const QString path = cache.entryPath(u"Zürich Ops"_s);
        QCOMPARE(QFileInfo(path).fileName(), u"38297dd48c4b8e82d834d522f03341eb202a1fff.json"_s);
        QCOMPARE(test::modeOf(path), mode_t(0600));
        QCOMPARE(test::modeOf(cacheDir()), mode_t(0700));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QCOMPARE(QJsonDocument::fromJson(content),
                 QJsonDocument::fromJson(entryJSON(ourURL, u"tessera-token"_s, inAnHour)));
        QVERIFY(content.contains(inAnHour.toString(Qt::ISODate).toUtf8()));
        QCOMPARE(cache.write(u"Zürich Ops"_s, ourEntry()), CLITokenCache::WriteOutcome::unchanged);
    }

    void respectsWhatTheUserPutThere_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("older entry of ours")
            << entryJSON(ourURL, u"old"_s, inAnHour.addSecs(-600)) << true;
        QTest::newRow("not JSON") << QByteArray("{\"startUrl\": trunc") << true;
        QTest::newRow("outlives ours")
            << entryJSON(ourURL, u"user's"_s, inAnHour.addSecs(600)) << false;
        QTest::newRow("other portal")
            << entryJSON(QStringLiteral("https://other.awsapps.com/start"), u"user's"_s,
                         inAnHour.addSecs(-600))
            << false;
    }
    void respectsWhatTheUserPutThere()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, replaced);
        const CLITokenCache cache(cacheDir());
        QVERIFY(QDir().mkpath(cacheDir()));
        QFile file(cache.entryPath(u"corp"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(existing) == existing.size());
        file.close();
        QCOMPARE(cache.write(u"corp"_s, ourEntry()),
                 replaced ? CLITokenCache::WriteOutcome::written
                          : CLITokenCache::WriteOutcome::keptExisting);
        QCOMPARE(cache.read(u"corp"_s)->accessToken == u"tessera-token"_s, replaced);
    }

    void removesOnlyItsOwnToken()
    {
        const CLITokenCache cache(cacheDir());
        cache.write(u"corp"_s, ourEntry());
        QVERIFY(!cache.removeIfHolding(u"corp"_s, u"someone else's"_s));
        QVERIFY(QFile::exists(cache.entryPath(u"corp"_s)));
        QVERIFY(cache.removeIfHolding(u"corp"_s, u"tessera-token"_s));
        QVERIFY(!QFile::exists(cache.entryPath(u"corp"_s)));
    }

    void findsTheSessionTheBlockUses_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("session");
        const QString block = QStringLiteral(
            "# >>> Tessera managed AWS profiles\n%1# <<< Tessera managed AWS profiles\n");
        const QString native =
            QStringLiteral("[profile dev]\nsso_session = %1\nsso_account_id = 111111111111\n"
                           "sso_role_name = Admin\n");
        const QString session =
            QStringLiteral("[sso-session %1]\nsso_start_url = %2\nsso_region = eu-west-1\n");
        QTest::newRow("ours in the block")
            << block.arg(session.arg(u"tessera-acme"_s, ourURL) + native.arg(u"tessera-acme"_s))
            << u"tessera-acme"_s;
        QTest::newRow("the user's, outside the block")
            << session.arg(u"corp"_s, ourURL + QLatin1Char('/')) + block.arg(native.arg(u"corp"_s))
            << u"corp"_s;
        QTest::newRow("another portal's session")
            << session.arg(u"corp"_s, QStringLiteral("https://other.awsapps.com/start")) +
                   block.arg(native.arg(u"corp"_s))
            << QString();
        QTest::newRow("malformed block") << u"# >>> Tessera managed AWS profiles\n"_s << QString();
    }
    void findsTheSessionTheBlockUses()
    {
        QFETCH(QString, config);
        QFETCH(QString, session);
        if (qstrcmp(QTest::currentDataTag(), "malformed block") == 0) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Sign-in not shared"_s));
        }
        QCOMPARE(sessionSharedWithCLI(config, ourURL).value_or(QString()), session);
    }
};

QTEST_GUILESS_MAIN(TestCLITokenCache)
#include "tst_clitokencache.moc"
