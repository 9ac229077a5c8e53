// The OIDC and access-portal clients over real TLS against the stand-in, reached the way
// users reach a private endpoint: AWS_ENDPOINT_URL_SSO_OIDC, AWS_ENDPOINT_URL_SSO and
// AWS_CA_BUNDLE.

#include "aws/curlhttptransport.h"
#include "aws/portalclient.h"
#include "aws/ssooidc.h"
#include "foundation/boundedconcurrency.h"
#include "foundation/sleep.h"
#include "standin.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace tessera;
using namespace tessera::standin;
using tessera::test::waitFor;

namespace {

const QString region = QStringLiteral("us-east-1");

// The failure of `task` as `E`; any other outcome fails the test.
template<typename E, typename T> std::optional<E> failureOf(QCoro::Task<T> task)
{
    try {
        waitFor(std::move(task), 60000);
        QTest::qFail("the task succeeded", __FILE__, __LINE__);
    } catch (const E &error) {
        return error;
    } catch (const std::exception &other) {
        QTest::qFail(other.what(), __FILE__, __LINE__);
    }
    return std::nullopt;
}

QCoro::Task<void> recordedSleep(std::shared_ptr<QList<std::chrono::milliseconds>> sleeps,
                                std::chrono::milliseconds duration, CancellationToken token)
{
    sleeps->append(duration);
    co_await sleepFor(duration / 100, token);
}

// The polling loop's time, running a hundred times faster than the wall clock, so a
// slow_down (six seconds between polls) costs a few milliseconds. Records every wait the
// loop asks for.
OIDCPollingClock fastClock(std::shared_ptr<QList<std::chrono::milliseconds>> sleeps)
{
    const auto start = std::chrono::steady_clock::now();
    return {[start] { return start + (std::chrono::steady_clock::now() - start) * 100; },
            [sleeps](std::chrono::milliseconds duration, CancellationToken token) {
                return recordedSleep(sleeps, duration, token);
            }};
}

QCoro::Task<QStringList> rolesOf(PortalClient client, QString accountId, CancellationToken token)
{
    co_return co_await client.listRoles(accountId, token);
}

} // namespace

class TestClientsAgainstStandIn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void signsInThroughPendingAndSlowDown();
    void refreshesAndRefusesARetiredRefreshToken();
    void reportsServiceErrors();
    void followsMultiPageListings();
    void expiredSessionIsUnauthorized();
    void paginationGuardsStopBadListings();
    void syncSizedListingCompletesUnderThrottling();

private:
    RegisterResponse m_registration;
    std::unique_ptr<StandIn> m_standIn;
};

void TestClientsAgainstStandIn::initTestCase()
{
    // One stand-in (and so one certificate) for the whole run: the process-wide transport
    // reads AWS_CA_BUNDLE once.
    m_standIn = std::make_unique<StandIn>();
    QString error;
    QVERIFY2(m_standIn->start(&error), qPrintable(error));
    for (const auto &[name, value] : m_standIn->clientEnvironment()) {
        qputenv(name.constData(), value);
    }
    QVERIFY(defaultHttpTransport());
    m_registration = waitFor(SSOOIDC(region, defaultHttpTransport()).registerClient(), 60000);
}

void TestClientsAgainstStandIn::init()
{
    m_standIn->clearFaults();
    m_standIn->clearRequestLog();
    m_standIn->setThrottleRate(20);
    m_standIn->setApprovalMode(ApprovalMode::manual);
}

void TestClientsAgainstStandIn::signsInThroughPendingAndSlowDown()
{
    auto sleeps = std::make_shared<QList<std::chrono::milliseconds>>();
    const SSOOIDC oidc(region, defaultHttpTransport(), fastClock(sleeps));
    const RegisterResponse registration = waitFor(oidc.registerClient(), 60000);
    QVERIFY(!registration.clientId.isEmpty());
    QVERIFY(registration.clientSecretExpiresAt > QDateTime::currentSecsSinceEpoch());

    const DeviceAuthResponse authorization =
        waitFor(oidc.startDeviceAuthorization(registration.clientId, registration.clientSecret,
                                              m_standIn->startUrl().toString()),
                60000);
    QCOMPARE(SSOOIDC::validatedPollingInterval(authorization), qint64(1));
    QVERIFY(authorization.verificationUriComplete.startsWith(m_standIn->baseUrl().toString()));

    // The first poll is slowed down, the second finds the request pending, and the user
    // approves only then.
    m_standIn->addFault(
        StandInFault::error(StandInOperation::createToken, QStringLiteral("slow_down")).times(1));
    const QString userCode = authorization.userCode;
    connect(m_standIn.get(), &StandIn::requestAnswered, this,
            [this, userCode](const StandInRequest &request) {
                if (request.errorType == "AuthorizationPendingException") {
                    m_standIn->approve(userCode);
                }
            });
    const TokenResponse token = waitFor(
        oidc.pollForToken(authorization, registration.clientId, registration.clientSecret), 60000);
    disconnect(m_standIn.get(), &StandIn::requestAnswered, this, nullptr);

    QVERIFY(!token.accessToken.isEmpty());
    QCOMPARE(token.expiresIn, qint64(3600));
    QVERIFY(token.refreshToken && !token.refreshToken->isEmpty());
    QList<int> statuses;
    QStringList errors;
    for (const StandInRequest &request : m_standIn->requests(StandInOperation::createToken)) {
        statuses.append(request.status);
        errors.append(QString::fromLatin1(request.errorType));
    }
    QCOMPARE(statuses, (QList<int>{400, 400, 200}));
    QCOMPARE(errors, (QStringList{QStringLiteral("SlowDownException"),
                                  QStringLiteral("AuthorizationPendingException"), QString()}));
    // One interval before the first poll, then the interval grown by five seconds.
    QCOMPARE(*sleeps,
             (QList<std::chrono::milliseconds>{std::chrono::seconds(1), std::chrono::seconds(6),
                                               std::chrono::seconds(6)}));

    // The token opens the portal.
    const PortalClient portal(region, token.accessToken, defaultHttpTransport(), 1000);
    QCOMPARE(waitFor(portal.listAccounts(), 60000).size(), m_standIn->options().accounts.size());
}

void TestClientsAgainstStandIn::refreshesAndRefusesARetiredRefreshToken()
{
    const SSOOIDC oidc(region, defaultHttpTransport());
    m_standIn->setApprovalMode(ApprovalMode::onFirstPoll);
    const DeviceAuthResponse authorization =
        waitFor(oidc.startDeviceAuthorization(m_registration.clientId, m_registration.clientSecret,
                                              m_standIn->startUrl().toString()),
                60000);
    const TokenResponse first = waitFor(
        oidc.pollForToken(authorization, m_registration.clientId, m_registration.clientSecret),
        60000);
    QVERIFY(first.refreshToken);

    const TokenResponse renewed = SSOOIDC::validatedToken(
        waitFor(oidc.redeemRefreshToken(m_registration.clientId, m_registration.clientSecret,
                                        *first.refreshToken),
                60000));
    QVERIFY(renewed.accessToken != first.accessToken);
    QVERIFY(renewed.refreshToken && *renewed.refreshToken != *first.refreshToken);

    const auto refused = failureOf<OIDCError>(oidc.redeemRefreshToken(
        m_registration.clientId, m_registration.clientSecret, *first.refreshToken));
    QVERIFY(refused);
    QCOMPARE(refused->code(), QStringLiteral("invalid_grant"));
    QCOMPARE(refused->message(), QStringLiteral("Invalid refresh token provided."));
}

void TestClientsAgainstStandIn::reportsServiceErrors()
{
    const SSOOIDC oidc(region, defaultHttpTransport());
    const auto wrongSecret = failureOf<OIDCError>(oidc.startDeviceAuthorization(
        m_registration.clientId, QStringLiteral("guess"), m_standIn->startUrl().toString()));
    QVERIFY(wrongSecret);
    QCOMPARE(wrongSecret->code(), QStringLiteral("invalid_client"));
    QCOMPARE(wrongSecret->description(), QStringLiteral("Invalid client credentials."));

    // A status whose body names no error becomes "http_" and the status.
    m_standIn->addFault(StandInFault::httpStatus(StandInOperation::registerClient, 503).times(1));
    const auto unavailable = failureOf<OIDCError>(oidc.registerClient());
    QVERIFY(unavailable);
    QCOMPARE(unavailable->code(), QStringLiteral("http_503"));

    // The device code runs out while the loop polls.
    m_standIn->addFault(
        StandInFault::error(StandInOperation::createToken, QStringLiteral("expired_token"))
            .times(1));
    auto sleeps = std::make_shared<QList<std::chrono::milliseconds>>();
    const SSOOIDC fastOidc(region, defaultHttpTransport(), fastClock(sleeps));
    const DeviceAuthResponse authorization = waitFor(
        fastOidc.startDeviceAuthorization(m_registration.clientId, m_registration.clientSecret,
                                          m_standIn->startUrl().toString()),
        60000);
    const auto expired = failureOf<OIDCError>(
        fastOidc.pollForToken(authorization, m_registration.clientId, m_registration.clientSecret));
    QVERIFY(expired);
    QCOMPARE(expired->code(), QStringLiteral("expired_token"));
}

void TestClientsAgainstStandIn::followsMultiPageListings()
{
    const QList<StandInAccount> accounts = generateAccounts(250, 130, 3);
    m_standIn->setAccounts(accounts);
    const QString accessToken = m_standIn->issueAccessToken();
    const PortalClient portal(region, accessToken, defaultHttpTransport(), 1000);

    const QList<AccountEntry> listed = waitFor(portal.listAccounts(), 60000);
    QCOMPARE(listed.size(), accounts.size());
    for (qsizetype i = 0; i < accounts.size(); ++i) {
        QCOMPARE(listed[i].accountId, accounts[i].accountId);
        QCOMPARE(listed[i].accountName, accounts[i].accountName);
    }
    QCOMPARE(m_standIn->requests(StandInOperation::listAccounts).size(), 3);

    const QStringList roles = waitFor(portal.listRoles(accounts[7].accountId), 60000);
    QCOMPARE(roles, accounts[7].roleNames);
    QCOMPARE(m_standIn->requests(StandInOperation::listAccountRoles).size(), 2);
}

void TestClientsAgainstStandIn::expiredSessionIsUnauthorized()
{
    const PortalClient portal(region, m_standIn->issueAccessToken(), defaultHttpTransport(), 1000);
    m_standIn->expireAccessTokens();
    const auto accounts = failureOf<PortalError>(portal.listAccounts());
    QVERIFY(accounts);
    QCOMPARE(accounts->errorCase(), PortalError::Case::unauthorized);

    const PortalClient stranger(region, QStringLiteral("made-up"), defaultHttpTransport(), 1000);
    const auto roles =
        failureOf<PortalError>(stranger.listRoles(m_standIn->options().accounts.first().accountId));
    QVERIFY(roles);
    QCOMPARE(roles->errorCase(), PortalError::Case::unauthorized);
}

void TestClientsAgainstStandIn::paginationGuardsStopBadListings()
{
    m_standIn->setAccounts(generateAccounts(30, 2));
    const QString accessToken = m_standIn->issueAccessToken();

    m_standIn->addFault(StandInFault::repeatedNextToken(StandInOperation::listAccounts));
    const PortalClient portal(region, accessToken, defaultHttpTransport(), 1000);
    const auto repeated = failureOf<PortalError>(portal.listAccounts());
    QVERIFY(repeated);
    QCOMPARE(repeated->errorCase(), PortalError::Case::repeatedNextToken);
    QCOMPARE(m_standIn->requests(StandInOperation::listAccounts).size(), 2);

    m_standIn->clearFaults();
    m_standIn->clearRequestLog();
    m_standIn->addFault(StandInFault::endlessPages(StandInOperation::listAccountRoles));
    const PortalClient limited(region, accessToken, defaultHttpTransport(), 5);
    const auto endless =
        failureOf<PortalError>(limited.listRoles(m_standIn->options().accounts.first().accountId));
    QVERIFY(endless);
    QCOMPARE(endless->errorCase(), PortalError::Case::pageLimitExceeded);
    QCOMPARE(m_standIn->requests(StandInOperation::listAccountRoles).size(), 5);

    // A body that is not JSON is a decoding failure, passed through as it is.
    m_standIn->clearFaults();
    m_standIn->addFault(StandInFault::malformedJson(StandInOperation::listAccounts).times(1));
    QVERIFY(failureOf<DecodingError>(portal.listAccounts()));
}

void TestClientsAgainstStandIn::syncSizedListingCompletesUnderThrottling()
{
    // An organization of a thousand accounts against a service that, like IAM Identity
    // Center, serves about 20 requests a second: the listing takes its time but must
    // not fail. Six role listings run at once, as in account sync.
    const QList<StandInAccount> accounts = generateAccounts(1000, 3, 11);
    m_standIn->setAccounts(accounts);
    m_standIn->setThrottleRate(20);
    m_standIn->resetMaxRequestsInFlight();
    const PortalClient portal(region, m_standIn->issueAccessToken(), defaultHttpTransport(), 1000);

    QElapsedTimer elapsed;
    elapsed.start();
    QList<AccountEntry> listed;
    std::vector<QStringList> roleLists;
    try {
        listed = waitFor(portal.listAccounts(), 120000);
        QCOMPARE(listed.size(), 1000);
        roleLists =
            waitFor(runWithConcurrencyLimit<QStringList>(
                        std::size_t(listed.size()), 6,
                        [portal, listed](std::size_t index, CancellationToken token) {
                            return rolesOf(portal, listed[qsizetype(index)].accountId, token);
                        }),
                    240000);
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
    QCOMPARE(roleLists.size(), std::size_t(1000));
    for (const QStringList &roles : roleLists) {
        QCOMPARE(roles, accounts.first().roleNames);
    }
    QVERIFY(m_standIn->maxRequestsInFlight() <= 6);
    int throttled = 0;
    for (const StandInRequest &request : m_standIn->requestLog()) {
        throttled += request.throttled ? 1 : 0;
    }
    qInfo("1000 accounts listed with their roles in %.1f s: %lld requests, %d answered 429, "
          "at most %d in flight",
          double(elapsed.elapsed()) / 1000.0, qlonglong(m_standIn->requestLog().size()), throttled,
          m_standIn->maxRequestsInFlight());
}

QTEST_GUILESS_MAIN(TestClientsAgainstStandIn)
#include "tst_clients_against_standin.moc"
