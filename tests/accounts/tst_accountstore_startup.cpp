// What the account store loads when it is built, and how it survives broken state.
#include "accounts/accountstore.h"
#include "foundation/manualclock.h"
#include "storage/inmemorykeychain.h"
#include "storage/recordcoding.h"
#include "storage/supportfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace std::chrono_literals;

namespace {

const QString organizationMessage = QStringLiteral(
    "Tessera could not load your saved organization. The existing file was left untouched.");
const QString unreadableSignIn =
    QStringLiteral("Tessera could not read the saved sign-in from its secure store.");

struct LogLine
{
    QString category;
    QtMsgType type;
    QString text;
};

// Collects what the code under test logs, with its category.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QStringList persistenceErrors() const
    {
        QStringList lines;
        for (const auto &line : s_lines) {
            if (line.category == QLatin1String("com.tessera.app.Persistence") &&
                line.type == QtCriticalMsg) {
                lines << line.text;
            }
        }
        return lines;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        s_lines.append({QString::fromLatin1(context.category), type, text});
    }
    static inline QList<LogLine> s_lines;
    QtMessageHandler m_previous = nullptr;
};

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

SSOToken tokenExpiringAt(const QDateTime &expiresAt, std::optional<QString> refreshToken)
{
    return SSOToken{QStringLiteral("access"), std::move(refreshToken), expiresAt,
                    QStringLiteral("us-east-1"), QStringLiteral("https://corp.awsapps.com/start")};
}

const ClientRegistration sampleClient{QStringLiteral("client"), QStringLiteral("secret"),
                                      QDateTime(QDate(2027, 1, 1), QTime(0, 0), Qt::UTC),
                                      QStringLiteral("us-east-1")};

const AccountCache sampleCache{
    {AWSAccount{QStringLiteral("111122223333"), QStringLiteral("Prod"), {QStringLiteral("Admin")}}},
    QDateTime(QDate(2026, 1, 1), QTime(11, 0), Qt::UTC)};

} // namespace

class TestAccountStoreStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    InMemoryKeychainStore m_keychain;
    std::shared_ptr<ManualClock> m_clock;

    QString supportFile(const char *name) const
    {
        return m_data.path() + QStringLiteral("/Tessera/") + QLatin1String(name);
    }

    std::unique_ptr<AccountStore> makeStore(bool loadPersistedState = true,
                                            std::optional<QString> organizationFile = {})
    {
        AccountStoreServices services;
        services.clock = m_clock;
        return std::make_unique<AccountStore>(
            loadPersistedState, std::move(organizationFile),
            TokenRefreshScheduler::fromClock(m_clock), Keychain(m_keychain.operations()),
            std::make_shared<InMemorySettingsStore>(), [](const QUrl &) { return false; },
            services);
    }

    void writeSavedState()
    {
        saveAccountCache(sampleCache);
        Organization organization;
        organization.pinnedAccountIds = {QStringLiteral("111122223333")};
        saveOrganization(organization);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }

    void init()
    {
        QDir(m_data.path() + QStringLiteral("/Tessera")).removeRecursively();
        m_keychain = InMemoryKeychainStore();
        m_clock = std::make_shared<ManualClock>();
    }

    void aStoreThatDoesNotLoadStaysEmpty()
    {
        writeSavedState();
        m_keychain.setItem(
            QStringLiteral("token"),
            encodeSSOToken(tokenExpiringAt(m_clock->currentDateTime().addDays(1), {})));
        const auto store = makeStore(false);
        QVERIFY(store->session().isSignedOut());
        QVERIFY(store->accounts().isEmpty());
        QCOMPARE(store->organization(), Organization());
        QCOMPARE(store->token(), std::nullopt);
        QCOMPARE(m_keychain.state().copyCalls, 0);
        QVERIFY(!store->isSyncTimerActive());
    }

    void savedStateIsLoaded()
    {
        writeSavedState();
        m_keychain.setItem(QStringLiteral("client"), encodeClientRegistration(sampleClient));
        const SSOToken token = tokenExpiringAt(m_clock->currentDateTime().addSecs(600), {});
        m_keychain.setItem(QStringLiteral("token"), encodeSSOToken(token));

        LogCapture log;
        const auto store = makeStore();
        QCOMPARE(store->clientRegistration(), sampleClient);
        QCOMPARE(store->token(), token);
        QVERIFY(store->session().isSignedIn());
        QCOMPARE(store->tokenExpiresAt(), token.expiresAt);
        QCOMPARE(store->hasRefreshToken(), false);
        QCOMPARE(store->accounts(), sampleCache.accounts);
        QCOMPARE(store->lastSync(), sampleCache.lastSync);
        QCOMPARE(store->organization().pinnedAccountIds,
                 QStringList{QStringLiteral("111122223333")});
        QCOMPARE(store->errorMessage(), std::nullopt);
        QCOMPARE(log.persistenceErrors(), QStringList());
    }

    void theSessionFollowsTheSavedToken_data()
    {
        QTest::addColumn<int>("expiresInSeconds");
        QTest::addColumn<bool>("withRefreshToken");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("valid") << 60 << false << true;
        QTest::newRow("expired, no refresh token") << -60 << false << false;
        QTest::newRow("expiring right now") << 0 << false << false;
        QTest::newRow("expired, refresh token") << -86400 << true << true;
    }

    void theSessionFollowsTheSavedToken()
    {
        QFETCH(int, expiresInSeconds);
        QFETCH(bool, withRefreshToken);
        QFETCH(bool, signedIn);
        const SSOToken token = tokenExpiringAt(
            m_clock->currentDateTime().addSecs(expiresInSeconds),
            withRefreshToken ? std::optional(QStringLiteral("refresh")) : std::nullopt);
        m_keychain.setItem(QStringLiteral("token"), encodeSSOToken(token));

        const auto store = makeStore();
        QCOMPARE(store->session().isSignedIn(), signedIn);
        QCOMPARE(store->tokenExpiresAt(), token.expiresAt);
        QCOMPARE(store->hasRefreshToken(), withRefreshToken);
        QCOMPARE(store->token(), token);
    }

    void noSavedTokenMeansSignedOut()
    {
        const auto store = makeStore();
        QVERIFY(store->session().isSignedOut());
        QCOMPARE(store->tokenExpiresAt(), std::nullopt);
        QCOMPARE(store->hasRefreshToken(), false);
        QCOMPARE(store->errorMessage(), std::nullopt);
    }

    void anUnreadableClientItemSkipsTheTokenButNotTheFiles_data()
    {
        QTest::addColumn<QVariant>("clientItem");
        QTest::addColumn<QString>("message");
        QTest::newRow("not JSON") << QVariant(QByteArray("{oops")) << unreadableSignIn;
        QTest::newRow("not bytes") << QVariant(QStringLiteral("text")) << unreadableSignIn;
    }

    void anUnreadableClientItemSkipsTheTokenButNotTheFiles()
    {
        QFETCH(QVariant, clientItem);
        QFETCH(QString, message);
        writeSavedState();
        m_keychain.setItem(QStringLiteral("client"), clientItem);
        m_keychain.setItem(
            QStringLiteral("token"),
            encodeSSOToken(tokenExpiringAt(m_clock->currentDateTime().addDays(1), {})));

        LogCapture log;
        const auto store = makeStore();
        QCOMPARE(store->errorMessage(), message);
        QCOMPARE(log.persistenceErrors(),
                 QStringList{QStringLiteral("Keychain operation failed: ") + message});
        QCOMPARE(m_keychain.state().copyCalls, 1);
        QCOMPARE(store->token(), std::nullopt);
        QVERIFY(store->session().isSignedOut());
        QCOMPARE(store->accounts(), sampleCache.accounts);
        QCOMPARE(store->organization().pinnedAccountIds.size(), 1);
    }

    void aFailingSecureStoreShowsItsStatus()
    {
        m_keychain.state().copyStatus = -25308;
        const auto store = makeStore();
        QCOMPARE(store->errorMessage(),
                 QStringLiteral("Tessera could not access its secure store. (status -25308)"));
        QVERIFY(store->session().isSignedOut());
    }

    void anUnreadableTokenKeepsTheClient()
    {
        m_keychain.setItem(QStringLiteral("client"), encodeClientRegistration(sampleClient));
        m_keychain.setItem(QStringLiteral("token"), QByteArray("{\"accessToken\":\"a\"}"));
        const auto store = makeStore();
        QCOMPARE(store->clientRegistration(), sampleClient);
        QCOMPARE(store->token(), std::nullopt);
        QCOMPARE(store->errorMessage(), unreadableSignIn);
    }

    void aBrokenAccountCacheIsLoggedAndIgnored_data()
    {
        QTest::addColumn<bool>("asDirectory");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("corrupt") << false << QByteArray("{\"accounts\":[]}"); // no lastSync
        QTest::newRow("a directory") << true << QByteArray();
    }

    void aBrokenAccountCacheIsLoggedAndIgnored()
    {
        QFETCH(bool, asDirectory);
        QFETCH(QByteArray, content);
        const QString path = supportFile("accounts.json");
        QDir().mkpath(QFileInfo(path).path());
        QVERIFY(asDirectory ? QDir().mkpath(path) : writeBytes(path, content));

        LogCapture log;
        const auto store = makeStore();
        QVERIFY(store->accounts().isEmpty());
        QCOMPARE(store->lastSync(), std::nullopt);
        QCOMPARE(store->errorMessage(), std::nullopt);
        const QStringList errors = log.persistenceErrors();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("Account cache load failed: ")),
                 qPrintable(errors.first()));
    }

    void anUnreadableOrganizationBlocksPersistenceAndSurvives_data()
    {
        QTest::addColumn<bool>("asDirectory");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("corrupt") << false << QByteArray("{\"pinnedAccountIds\": [1, 2]}\n");
        QTest::newRow("not JSON") << false << QByteArray("\xff\xfe garbage");
        QTest::newRow("a directory") << true << QByteArray();
    }

    void anUnreadableOrganizationBlocksPersistenceAndSurvives()
    {
        QFETCH(bool, asDirectory);
        QFETCH(QByteArray, content);
        saveAccountCache(sampleCache);
        const QString path = supportFile("organization.json");
        QVERIFY(asDirectory ? QDir().mkpath(path) : writeBytes(path, content));

        LogCapture log;
        {
            const auto store = makeStore();
            QVERIFY(store->organizationPersistenceBlocked());
            QCOMPARE(store->organization(), Organization());
            QCOMPARE(store->organizationErrorMessage(), organizationMessage);
            QCOMPARE(store->errorMessage(), organizationMessage);
            QCOMPARE(store->accounts(), sampleCache.accounts);
            const QStringList errors = log.persistenceErrors();
            QCOMPARE(errors.size(), 1);
            QVERIFY2(errors.first().startsWith(QStringLiteral("Organization persistence failed: ")),
                     qPrintable(errors.first()));
        }
        // Nothing was written over it, during the run or at teardown.
        if (asDirectory) {
            QVERIFY(QFileInfo(path).isDir());
        } else {
            QCOMPARE(readBytes(path), content);
        }
    }

    void aGivenOrganizationFileSkipsEverythingElse()
    {
        writeSavedState();
        m_keychain.setItem(
            QStringLiteral("token"),
            encodeSSOToken(tokenExpiringAt(m_clock->currentDateTime().addDays(1), {})));
        const QString custom = m_data.path() + QStringLiteral("/custom-organization.json");
        QVERIFY(writeBytes(custom, "{\"groupNames\":[\"Custom\"]}"));

        const auto store = makeStore(true, custom);
        QCOMPARE(store->organization().groupNames, QStringList{QStringLiteral("Custom")});
        QCOMPARE(m_keychain.state().copyCalls, 0);
        QVERIFY(store->accounts().isEmpty());
        QVERIFY(store->session().isSignedOut());
        QFile::remove(custom);
    }
};

QTEST_GUILESS_MAIN(TestAccountStoreStartup)
#include "tst_accountstore_startup.moc"
