// The account store against the stand-in for IAM Identity Center over real TLS: sign-in
// approved through the verification page, a scheduled refresh, a sync, and the sign-in
// shared with botocore through the AWS CLI's token cache.
#include "accounts/accountstore.h"
#include "accounts/clisigninsharing.h"
#include "aws/curlhttptransport.h"
#include "foundation/manualclock.h"
#include "standin.h"
#include "storage/inmemorykeychain.h"
#include "storage/settings.h"
#include "support/testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tessera;
using namespace tessera::standin;
using namespace std::chrono_literals;

namespace {
// What a user does in the browser: load the verification page and press Approve.
QCoro::Task<void> approveInBrowser(std::shared_ptr<HttpTransport> transport, QUrl page,
                                   std::shared_ptr<bool> approved)
{
    HttpRequest load;
    load.url = page;
    const HttpResponse shown = co_await transport->send(load, CancellationToken{});
    const QRegularExpressionMatch code =
        QRegularExpression(QStringLiteral("name=\"user_code\" value=\"([^\"]+)\""))
            .match(QString::fromUtf8(shown.body));
    if (!code.hasMatch()) {
        co_return;
    }
    HttpRequest press;
    press.method = "POST";
    press.url = page.resolved(QUrl(QStringLiteral("/device")));
    press.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
    press.body = "user_code=" + QUrl::toPercentEncoding(code.captured(1)) + "&decision=approve";
    const HttpResponse decided = co_await transport->send(press, CancellationToken{});
    *approved = decided.status == 200;
}
// What botocore's SSO credential provider obtains for a generated profile: the access key
// and session token, or the failure text.
QStringList botocoreCredentials()
{
    // The stand-in answers on this thread, so wait with the event loop running.
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral(BOTOCORE_CREDENTIALS_SCRIPT)});
    if (!test::processEventsUntil([&] { return python.state() == QProcess::NotRunning; }, 60000)) {
        return {QStringLiteral("python3 did not finish")};
    }
    const QString output =
        QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError());
    return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestAccountStoreAgainstStandIn : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dataHome.isValid());
        QDir(CLITokenCache::defaultDirectory()).removeRecursively();
        qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
        StandInOptions options;
        options.accounts = generateAccounts(9, 3);
        options.accessTokenLifetime = 60s;
        options.pollingIntervalSeconds = 1;
        m_standIn = std::make_unique<StandIn>(options);
        QString error;
        QVERIFY2(m_standIn->start(&error), qPrintable(error));
        for (const auto &[name, value] : m_standIn->clientEnvironment()) {
            qputenv(name.constData(), value);
        }
    }

    void signInRefreshAndSync()
    {
        auto settings = std::make_shared<InMemorySettingsStore>();
        registerTesseraDefaults(*settings);
        settings->setString(key(settingskey::startUrl), m_standIn->startUrl().toString());
        settings->setString(key(settingskey::ssoRegion), QStringLiteral("us-east-1"));
        settings->setString(key(settingskey::awsConfigManagementMode), QStringLiteral("native"));
        settings->setBool(key(settingskey::awsProfileAutoSync), true);
        InMemoryKeychainStore secrets;
        auto refreshClock = std::make_shared<ManualClock>();
        const std::shared_ptr<HttpTransport> transport = defaultHttpTransport();
        auto approved = std::make_shared<bool>(false);
        AccountStore::Options options;
        options.loadPersistedState = true;
        options.keychain = Keychain(secrets.operations());
        options.settings = settings;
        options.openURL = [transport, approved](const QUrl &url) {
            startTask<void>([transport, url, approved](CancellationToken) {
                return approveInBrowser(transport, url, approved);
            });
            return true;
        };
        options.transport = transport;
        options.refreshScheduler = TokenRefreshScheduler::fromClock(refreshClock);
        AccountStore store(std::move(options));
        CLISignInSharing sharing(&store, settings);
        const auto lastCredentialsBearer = [&] {
            return m_standIn->requests(StandInOperation::getRoleCredentials)
                .last()
                .header("x-amz-sso_bearer_token");
        };

        store.signIn();
        QVERIFY(test::processEventsUntil([&] { return store.lastSync().has_value(); }, 60000));
        QVERIFY(*approved);
        QVERIFY2(!store.errorMessage(), qPrintable(store.errorMessageOrEmpty()));
        const Keychain keychain(secrets.operations());
        const auto signedInToken =
            test::waitFor(keychain.load<SSOToken>(QLatin1String(keychainTokenAccount)));
        QCOMPARE(signedInToken, store.tokenKeeper().token());
        QCOMPARE(store.accounts().size(), 9);

        // The sync wrote native profiles; botocore signs in with Tessera's token alone.
        const QStringList credentials = botocoreCredentials();
        QVERIFY2(credentials.size() == 2 && credentials[0].startsWith(u"ASIASTANDIN") &&
                     credentials[1].startsWith(u"standin:"),
                 qPrintable(credentials.join(QLatin1Char('\n'))));
        QCOMPARE(lastCredentialsBearer(), store.tokenKeeper().token()->accessToken.toUtf8());

        // A one-minute token is refreshed 15 seconds after it arrived.
        refreshClock->advance(15s);
        QVERIFY(test::processEventsUntil(
            [&] {
                return store.tokenKeeper().token() && store.tokenKeeper().token() != signedInToken;
            },
            30000));
        const auto refreshed =
            test::waitFor(keychain.load<SSOToken>(QLatin1String(keychainTokenAccount)));
        QCOMPARE(refreshed, store.tokenKeeper().token());
        QVERIFY(refreshed->accessToken != signedInToken->accessToken);

        // The old access token is no longer needed; the new one lists the accounts.
        m_standIn->clearRequestLog();
        test::waitFor(store.sync(), 60000);
        QVERIFY2(!store.errorMessage(), qPrintable(store.errorMessageOrEmpty()));
        const auto listings = m_standIn->requests(StandInOperation::listAccounts);
        QVERIFY(!listings.isEmpty());
        QCOMPARE(QString::fromUtf8(listings.first().header("x-amz-sso_bearer_token")),
                 refreshed->accessToken);
        QCOMPARE(store.accounts().size(), 9);

        // The CLI's entry followed the refresh, and goes with the sign-out.
        QVERIFY(botocoreCredentials().size() == 2);
        QCOMPARE(lastCredentialsBearer(), refreshed->accessToken.toUtf8());
        QVERIFY(sharing.failureMessage().isEmpty());
        store.signOut();
        QVERIFY(QDir(CLITokenCache::defaultDirectory()).entryList(QDir::Files).isEmpty());
        QVERIFY(botocoreCredentials().size() != 2);
    }

private:
    QTemporaryDir m_dataHome;
    std::unique_ptr<StandIn> m_standIn;
};

QTEST_GUILESS_MAIN(TestAccountStoreAgainstStandIn)
#include "tst_accountstore_standin.moc"
