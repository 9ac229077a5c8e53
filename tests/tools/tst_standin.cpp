// The stand-in's own behaviour: its TLS identity, its HTTP handling, the sign-in state
// machine, pagination, throttling and faults. Its wire format is checked against the real
// AWS CLI in tst_standin_awscli.

#include "standin.h"
#include "support/testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

using namespace tessera::standin;
using tessera::test::processEventsUntil;

namespace {

const QString deviceGrant = QStringLiteral("urn:ietf:params:oauth:grant-type:device_code");

struct Reply
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QByteArray errorType;
    QByteArray retryAfter;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString oauthError() const { return json().value(u"error").toString(); }
};

// A plain HTTPS client that trusts the stand-in's authority and nothing else.
class Client
{
public:
    explicit Client(const StandIn &standIn, bool trustAuthority = true)
        : m_base(standIn.baseUrl())
    {
        m_tls = QSslConfiguration::defaultConfiguration();
        if (trustAuthority) {
            m_tls.setCaCertificates(QSslCertificate::fromData(standIn.caCertificatePem()));
        }
    }

    Reply post(const QString &path, const QJsonObject &body)
    {
        QNetworkRequest request = requestFor(path, {});
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        return wait(m_network.post(request, QJsonDocument(body).toJson()));
    }

    Reply get(const QString &path, const QList<QPair<QString, QString>> &query,
              const QString &accessToken)
    {
        QNetworkRequest request = requestFor(path, query);
        if (!accessToken.isNull()) {
            request.setRawHeader("x-amz-sso_bearer_token", accessToken.toUtf8());
        }
        return wait(m_network.get(request));
    }

    QNetworkRequest requestFor(const QString &path, const QList<QPair<QString, QString>> &query)
    {
        QUrl url = m_base;
        url.setPath(path);
        if (!query.isEmpty()) {
            // Encoded the way botocore does: every reserved character, "+" included.
            QStringList items;
            for (const auto &[name, value] : query) {
                items.append(QString::fromLatin1(QUrl::toPercentEncoding(name) + '=' +
                                                 QUrl::toPercentEncoding(value)));
            }
            url.setQuery(items.join(QLatin1Char('&')), QUrl::StrictMode);
        }
        QNetworkRequest request(url);
        request.setSslConfiguration(m_tls);
        return request;
    }

    Reply wait(QNetworkReply *reply)
    {
        processEventsUntil([reply] { return reply->isFinished(); }, 30000);
        Reply result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.error = reply->error();
        result.body = reply->readAll();
        result.errorType = reply->rawHeader("x-amzn-ErrorType");
        result.retryAfter = reply->rawHeader("Retry-After");
        reply->deleteLater();
        return result;
    }

private:
    QUrl m_base;
    QSslConfiguration m_tls;
    QNetworkAccessManager m_network;
};

// A raw TLS connection, for what a well-behaved client never does.
class RawConnection
{
public:
    explicit RawConnection(const StandIn &standIn)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromData(standIn.caCertificatePem()));
        m_socket.setSslConfiguration(tls);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), standIn.port());
        m_socket.setPeerVerifyName(QStringLiteral("127.0.0.1"));
        processEventsUntil([this] { return m_socket.isEncrypted(); }, 30000);
    }

    bool isEncrypted() const { return m_socket.isEncrypted(); }
    void send(const QByteArray &bytes) { m_socket.write(bytes); }

    // Reads until `count` complete responses arrived (or the peer closed); returns their
    // status lines' codes in order.
    QList<int> statuses(int count)
    {
        QList<int> codes;
        processEventsUntil(
            [&] {
                m_buffer += m_socket.readAll();
                codes = parse();
                return codes.size() >= count ||
                       m_socket.state() == QAbstractSocket::UnconnectedState;
            },
            30000);
        return codes;
    }

    bool closedByPeer()
    {
        return processEventsUntil(
            [this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, 30000);
    }

private:
    QList<int> parse() const
    {
        QList<int> codes;
        qsizetype position = 0;
        while (true) {
            const qsizetype headerEnd = m_buffer.indexOf("\r\n\r\n", position);
            if (headerEnd < 0) {
                return codes;
            }
            const QByteArray head = m_buffer.mid(position, headerEnd - position);
            const qsizetype lengthAt = head.toLower().indexOf("content-length:");
            const qsizetype length =
                lengthAt < 0 ? 0
                             : head.mid(lengthAt + 15, head.indexOf('\r', lengthAt) - lengthAt - 15)
                                   .trimmed()
                                   .toLongLong();
            if (m_buffer.size() < headerEnd + 4 + length) {
                return codes;
            }
            codes.append(head.mid(9, 3).toInt());
            position = headerEnd + 4 + length;
        }
    }

    QSslSocket m_socket;
    QByteArray m_buffer;
};

QByteArray getRequest(const QByteArray &target, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

// The OIDC calls of a sign-in, spelled out once: one registered client and its
// credentials, which every later call carries.
class SignIn
{
public:
    SignIn(Client &client, const QString &clientName = QStringLiteral("test"),
           bool withScopes = true)
        : m_client(client)
    {
        QJsonObject registration{{QStringLiteral("clientName"), clientName},
                                 {QStringLiteral("clientType"), QStringLiteral("public")}};
        if (withScopes) {
            registration.insert(QStringLiteral("scopes"),
                                QJsonArray{QStringLiteral("sso:account:access")});
        }
        const QJsonObject answer =
            m_client.post(QStringLiteral("/client/register"), registration).json();
        m_credentials = {{QStringLiteral("clientId"), answer.value(u"clientId")},
                         {QStringLiteral("clientSecret"), answer.value(u"clientSecret")}};
    }

    QJsonObject credentials() const { return m_credentials; }

    QJsonObject start() const
    {
        QJsonObject request = m_credentials;
        request.insert(QStringLiteral("startUrl"), QStringLiteral("https://example.test/start"));
        return m_client.post(QStringLiteral("/device_authorization"), request).json();
    }

    Reply poll(const QJsonObject &authorization) const
    {
        QJsonObject request = m_credentials;
        request.insert(QStringLiteral("grantType"), deviceGrant);
        request.insert(QStringLiteral("deviceCode"), authorization.value(u"deviceCode"));
        return m_client.post(QStringLiteral("/token"), request);
    }

    Reply refresh(const QString &refreshToken) const
    {
        QJsonObject request = m_credentials;
        request.insert(QStringLiteral("grantType"), QStringLiteral("refresh_token"));
        request.insert(QStringLiteral("refreshToken"), refreshToken);
        return m_client.post(QStringLiteral("/token"), request);
    }

    // Starts an authorization, approves it and returns the token answer.
    QJsonObject complete(StandIn &standIn) const
    {
        const QJsonObject authorization = start();
        standIn.approve(authorization.value(u"userCode").toString());
        return poll(authorization).json();
    }

private:
    Client &m_client;
    QJsonObject m_credentials;
};

} // namespace

class TestStandIn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void tlsIsTrustedThroughTheAuthorityOnly();
    void certificateDirectoryIsReused();
    void httpConnectionsStayOpenAndAnswerInOrder();
    void malformedRequestsCloseTheConnection_data();
    void malformedRequestsCloseTheConnection();
    void countsRequestsInFlight();

    void deviceFlowWaitsForApproval();
    void approvalModes();
    void expiredAndDeniedAuthorizations();
    void refreshTokensRotate();
    void refreshTokensNeedScopes();
    void verificationPageApproves();

    void portalNeedsALiveAccessToken();
    void listingsFollowTheirTokens_data();
    void listingsFollowTheirTokens();
    void listingRequestsAreValidated_data();
    void listingRequestsAreValidated();

    void throttlesEachListingSeparately();
    void tokenBucketRefills();
    void faultsReplaceAnswersForAWhile();
    void paginationFaults();
    void faultSpecifications_data();
    void faultSpecifications();

    void generatedOrganizations();
    void accountFiles();

private:
    std::unique_ptr<StandIn> m_standIn;
};

void TestStandIn::init()
{
    m_standIn = std::make_unique<StandIn>();
    QString error;
    QVERIFY2(m_standIn->start(&error), qPrintable(error));
}

void TestStandIn::cleanup()
{
    m_standIn.reset();
}

void TestStandIn::tlsIsTrustedThroughTheAuthorityOnly()
{
    Client untrusting(*m_standIn, false);
    QCOMPARE(untrusting.get(QStringLiteral("/"), {}, {}).error,
             QNetworkReply::SslHandshakeFailedError);

    Client trusting(*m_standIn);
    const Reply page = trusting.get(QStringLiteral("/start"), {}, {});
    QCOMPARE(page.error, QNetworkReply::NoError);
    QCOMPARE(page.status, 200);
    QVERIFY(page.body.contains("console"));

    const QList<QSslCertificate> authority = QSslCertificate::fromPath(m_standIn->caBundlePath());
    QCOMPARE(authority.size(), 1);
    QCOMPARE(authority.first().toPem(), m_standIn->caCertificatePem());
}

void TestStandIn::certificateDirectoryIsReused()
{
    QTemporaryDir directory;
    QByteArray first;
    {
        StandIn standIn({.certificateDirectory = directory.path()});
        QVERIFY(standIn.start());
        first = standIn.caCertificatePem();
    }
    QCOMPARE(QFile(directory.filePath(QStringLiteral("key.pem"))).permissions() &
                 (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
    StandIn again({.certificateDirectory = directory.path()});
    QVERIFY(again.start());
    QCOMPARE(again.caCertificatePem(), first);
    QCOMPARE(Client(again).get(QStringLiteral("/"), {}, {}).status, 200);
}

void TestStandIn::httpConnectionsStayOpenAndAnswerInOrder()
{
    RawConnection connection(*m_standIn);
    QVERIFY(connection.isEncrypted());
    // Two pipelined requests in one write, then a third split mid-body.
    connection.send(getRequest("/") + getRequest("/assignment/accounts"));
    QCOMPARE(connection.statuses(2), (QList<int>{200, 401}));
    const QByteArray body = "{\"clientName\":\"x\",\"clientType\":\"public\"}";
    const QByteArray head = "POST /client/register HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Type: application/json\r\nContent-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n";
    connection.send(head + body.left(10));
    processEventsUntil([] { return false; }, 50);
    connection.send(body.mid(10));
    QCOMPARE(connection.statuses(3), (QList<int>{200, 401, 200}));
    QCOMPARE(m_standIn->registeredClientCount(), 1);

    connection.send(getRequest("/", "Connection: close\r\n"));
    QCOMPARE(connection.statuses(4).last(), 200);
    QVERIFY(connection.closedByPeer());
}

void TestStandIn::malformedRequestsCloseTheConnection_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << 400;
    QTest::newRow("bad length") << QByteArray("POST /token HTTP/1.1\r\nContent-Length: x\r\n\r\n")
                                << 400;
    QTest::newRow("chunked") << QByteArray("POST /token HTTP/1.1\r\n"
                                           "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                             << 501;
    QTest::newRow("huge body") << QByteArray("POST /token HTTP/1.1\r\n"
                                             "Content-Length: 999999999\r\n\r\n")
                               << 413;
    QTest::newRow("endless head") << QByteArray("GET / HTTP/1.1\r\nX: " +
                                                QByteArray(70 * 1024, 'a'))
                                  << 431;
}

void TestStandIn::malformedRequestsCloseTheConnection()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    RawConnection connection(*m_standIn);
    connection.send(request);
    QCOMPARE(connection.statuses(1), QList<int>{status});
    QVERIFY(connection.closedByPeer());
}

void TestStandIn::countsRequestsInFlight()
{
    m_standIn->addFault(
        StandInFault::delay(StandInOperation::listAccounts, std::chrono::minutes(10)));
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < 3; ++i) {
        connections.push_back(std::make_unique<RawConnection>(*m_standIn));
        connections.back()->send(getRequest("/assignment/accounts"));
    }
    QVERIFY(processEventsUntil([this] { return m_standIn->requestLog().size() == 3; }));
    QCOMPARE(m_standIn->requestsInFlight(), 3);
    QCOMPARE(m_standIn->maxRequestsInFlight(), 3);
    QCOMPARE(m_standIn->requestLog().first().status, 0);

    // Clients that hang up are no longer waiting for anything.
    connections.clear();
    QVERIFY(processEventsUntil([this] { return m_standIn->requestsInFlight() == 0; }));
    QCOMPARE(m_standIn->maxRequestsInFlight(), 3);
    m_standIn->resetMaxRequestsInFlight();
    QCOMPARE(m_standIn->maxRequestsInFlight(), 0);
}

void TestStandIn::deviceFlowWaitsForApproval()
{
    Client client(*m_standIn);
    const SignIn signIn(client);
    QString userCode;
    connect(m_standIn.get(), &StandIn::deviceAuthorizationStarted, this,
            [&userCode](const QString &code) { userCode = code; });
    const QJsonObject authorization = signIn.start();
    QCOMPARE(userCode, authorization.value(u"userCode").toString());
    QCOMPARE(m_standIn->pendingUserCodes(), QStringList{userCode});

    const Reply pending = signIn.poll(authorization);
    QCOMPARE(pending.status, 400);
    QCOMPARE(pending.oauthError(), QStringLiteral("authorization_pending"));
    QCOMPARE(pending.errorType, QByteArray("AuthorizationPendingException"));

    QVERIFY(m_standIn->approve(userCode.toLower()));
    const Reply granted = signIn.poll(authorization);
    QCOMPARE(granted.status, 200);
    QCOMPARE(granted.json().value(u"expiresIn").toInt(), 3600);
    QVERIFY(m_standIn->pendingUserCodes().isEmpty());

    // A device code is good for one token, and only for the client it was issued to.
    QCOMPARE(signIn.poll(authorization).oauthError(), QStringLiteral("invalid_grant"));
    QCOMPARE(SignIn(client).poll(authorization).oauthError(), QStringLiteral("invalid_grant"));
    QJsonObject wrongSecret = signIn.credentials();
    wrongSecret.insert(QStringLiteral("clientSecret"), QStringLiteral("guess"));
    wrongSecret.insert(QStringLiteral("grantType"), deviceGrant);
    const Reply refused = client.post(QStringLiteral("/token"), wrongSecret);
    QCOMPARE(refused.status, 401);
    QCOMPARE(refused.oauthError(), QStringLiteral("invalid_client"));

    const Reply portal = client.get(QStringLiteral("/assignment/accounts"), {},
                                    granted.json().value(u"accessToken").toString());
    QCOMPARE(portal.status, 200);
}

void TestStandIn::approvalModes()
{
    Client client(*m_standIn);
    const SignIn signIn(client);
    m_standIn->setApprovalMode(ApprovalMode::onFirstPoll);
    QCOMPARE(signIn.poll(signIn.start()).status, 200);
    m_standIn->setApprovalMode(ApprovalMode::afterDelay, std::chrono::milliseconds(0));
    QCOMPARE(signIn.poll(signIn.start()).status, 200);
    m_standIn->setApprovalMode(ApprovalMode::afterDelay, std::chrono::hours(1));
    QCOMPARE(signIn.poll(signIn.start()).oauthError(), QStringLiteral("authorization_pending"));
    m_standIn->setApprovalMode(ApprovalMode::manual);
    QCOMPARE(signIn.poll(signIn.start()).oauthError(), QStringLiteral("authorization_pending"));
}

void TestStandIn::expiredAndDeniedAuthorizations()
{
    Client client(*m_standIn);
    const SignIn signIn(client);
    const QJsonObject denied = signIn.start();
    QVERIFY(m_standIn->deny(denied.value(u"userCode").toString()));
    QVERIFY(!m_standIn->approve(denied.value(u"userCode").toString()));
    QCOMPARE(signIn.poll(denied).oauthError(), QStringLiteral("access_denied"));

    m_standIn->setDeviceCodeLifetime(std::chrono::seconds(0));
    const QJsonObject expired = signIn.start();
    QCOMPARE(expired.value(u"expiresIn").toInt(), 0);
    QVERIFY(!m_standIn->approve(expired.value(u"userCode").toString()));
    const Reply answer = signIn.poll(expired);
    QCOMPARE(answer.oauthError(), QStringLiteral("expired_token"));
    QCOMPARE(answer.errorType, QByteArray("ExpiredTokenException"));
}

void TestStandIn::refreshTokensRotate()
{
    Client client(*m_standIn);
    const SignIn signIn(client);
    const QJsonObject token = signIn.complete(*m_standIn);
    const QString refreshToken = token.value(u"refreshToken").toString();
    QVERIFY(!refreshToken.isEmpty());

    const QJsonObject renewed = signIn.refresh(refreshToken).json();
    QVERIFY(!renewed.value(u"accessToken").toString().isEmpty());
    QVERIFY(renewed.value(u"accessToken").toString() != token.value(u"accessToken").toString());
    const QString next = renewed.value(u"refreshToken").toString();
    QVERIFY(!next.isEmpty() && next != refreshToken);
    QCOMPARE(signIn.refresh(refreshToken).oauthError(), QStringLiteral("invalid_grant"));

    // Another client cannot use it, and the service can revoke it.
    QCOMPARE(SignIn(client).refresh(next).oauthError(), QStringLiteral("invalid_grant"));
    m_standIn->revokeRefreshTokens();
    QCOMPARE(signIn.refresh(next).oauthError(), QStringLiteral("invalid_grant"));
}

void TestStandIn::refreshTokensNeedScopes()
{
    Client client(*m_standIn);
    const QJsonObject unscoped = SignIn(client, QStringLiteral("x"), false).complete(*m_standIn);
    QVERIFY(unscoped.contains(u"accessToken"));
    QVERIFY(!unscoped.contains(u"refreshToken"));
    m_standIn->setIssueRefreshTokens(false);
    const QJsonObject scoped = SignIn(client).complete(*m_standIn);
    QVERIFY(scoped.contains(u"accessToken"));
    QVERIFY(!scoped.contains(u"refreshToken"));
}

void TestStandIn::verificationPageApproves()
{
    Client client(*m_standIn);
    const QJsonObject authorization = SignIn(client, QStringLiteral("Tessera <dev>")).start();
    const QUrl page(authorization.value(u"verificationUriComplete").toString());
    QCOMPARE(page.host(), QStringLiteral("127.0.0.1"));
    const QString userCode = authorization.value(u"userCode").toString();
    const Reply shown = client.get(page.path(), {{QStringLiteral("user_code"), userCode}}, {});
    QCOMPARE(shown.status, 200);
    QVERIFY(shown.body.contains(userCode.toUtf8()));
    QVERIFY(shown.body.contains("Tessera &lt;dev&gt;"));
    QVERIFY(shown.body.contains("value=\"approve\""));

    QNetworkRequest form = client.requestFor(QStringLiteral("/device"), {});
    form.setHeader(QNetworkRequest::ContentTypeHeader,
                   QByteArray("application/x-www-form-urlencoded"));
    QNetworkAccessManager network;
    const Reply approved =
        client.wait(network.post(form, "user_code=" + userCode.toUtf8() + "&decision=approve"));
    QCOMPARE(approved.status, 200);
    QVERIFY(m_standIn->pendingUserCodes().isEmpty());
    QVERIFY(!m_standIn->approve(userCode));
    const Reply again =
        client.wait(network.post(form, "user_code=" + userCode.toUtf8() + "&decision=approve"));
    QCOMPARE(again.status, 400);
}

void TestStandIn::portalNeedsALiveAccessToken()
{
    Client client(*m_standIn);
    const QString path = QStringLiteral("/assignment/accounts");
    const Reply missing = client.get(path, {}, {});
    QCOMPARE(missing.status, 401);
    QCOMPARE(missing.errorType, QByteArray("UnauthorizedException"));
    QVERIFY(!missing.json().value(u"message").toString().isEmpty());

    const QString token = m_standIn->issueAccessToken();
    QCOMPARE(client.get(path, {}, token).status, 200);
    m_standIn->expireAccessTokens();
    QCOMPARE(client.get(path, {}, token).status, 401);

    m_standIn->setAccessTokenLifetime(std::chrono::seconds(0));
    QCOMPARE(client.get(path, {}, m_standIn->issueAccessToken()).status, 401);
}

void TestStandIn::listingsFollowTheirTokens_data()
{
    QTest::addColumn<int>("accountCount");
    QTest::addColumn<int>("roleCount");
    QTest::addColumn<QString>("pageSize");
    QTest::addColumn<int>("expectedPages");
    QTest::newRow("empty") << 0 << 0 << QString() << 1;
    QTest::newRow("one default page") << 20 << 20 << QString() << 1;
    QTest::newRow("one more than a page") << 21 << 21 << QString() << 2;
    QTest::newRow("pages of 100") << 250 << 250 << QStringLiteral("100") << 3;
    QTest::newRow("exact pages of 1") << 3 << 3 << QStringLiteral("1") << 3;
}

void TestStandIn::listingsFollowTheirTokens()
{
    QFETCH(int, accountCount);
    QFETCH(int, roleCount);
    QFETCH(QString, pageSize);
    QFETCH(int, expectedPages);
    const QList<StandInAccount> accounts = generateAccounts(accountCount, roleCount);
    m_standIn->setAccounts(accounts);
    m_standIn->setThrottleRate(0);
    const QString token = m_standIn->issueAccessToken();
    Client client(*m_standIn);

    auto follow = [&](const QString &path, QList<QPair<QString, QString>> query,
                      const QString &listKey, int &pages) {
        QJsonArray all;
        if (!pageSize.isEmpty()) {
            query.append({QStringLiteral("max_result"), pageSize});
        }
        pages = 0;
        std::optional<QString> next;
        do {
            auto pageQuery = query;
            if (next) {
                pageQuery.append({QStringLiteral("next_token"), *next});
            }
            const Reply page = client.get(path, pageQuery, token);
            if (page.status != 200) {
                return QJsonArray{QStringLiteral("HTTP %1").arg(page.status)};
            }
            ++pages;
            for (const QJsonValue &entry : page.json().value(listKey).toArray()) {
                all.append(entry);
            }
            next.reset();
            if (page.json().contains(u"nextToken")) {
                next = page.json().value(u"nextToken").toString();
                // Tokens need percent-encoding; the client above does it.
                if (!next->contains(QLatin1Char('+')) || !next->contains(QLatin1Char('/'))) {
                    return QJsonArray{QStringLiteral("token without + and /")};
                }
            }
        } while (next);
        return all;
    };

    int pages = 0;
    const QJsonArray listed =
        follow(QStringLiteral("/assignment/accounts"), {}, QStringLiteral("accountList"), pages);
    QCOMPARE(listed.size(), accountCount);
    QCOMPARE(pages, expectedPages);
    for (int i = 0; i < accountCount; ++i) {
        QCOMPARE(listed[i].toObject().value(u"accountId").toString(), accounts[i].accountId);
    }
    if (accountCount > 0) {
        const QJsonArray roles = follow(QStringLiteral("/assignment/roles"),
                                        {{QStringLiteral("account_id"), accounts.last().accountId}},
                                        QStringLiteral("roleList"), pages);
        QCOMPARE(pages, expectedPages);
        QStringList names;
        for (const QJsonValue &role : roles) {
            names.append(role.toObject().value(u"roleName").toString());
        }
        QCOMPARE(names, accounts.last().roleNames);
    }
}

void TestStandIn::listingRequestsAreValidated_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("errorType");
    QTest::newRow("page size 0") << "/assignment/accounts" << QByteArray("max_result=0") << 400
                                 << QByteArray("InvalidRequestException");
    QTest::newRow("page size 101") << "/assignment/accounts" << QByteArray("max_result=101") << 400
                                   << QByteArray("InvalidRequestException");
    QTest::newRow("made-up token") << "/assignment/accounts" << QByteArray("next_token=abc") << 400
                                   << QByteArray("InvalidRequestException");
    QTest::newRow("no account") << "/assignment/roles" << QByteArray() << 400
                                << QByteArray("InvalidRequestException");
    QTest::newRow("unknown account") << "/assignment/roles" << QByteArray("account_id=1") << 404
                                     << QByteArray("ResourceNotFoundException");
    QTest::newRow("unknown path") << "/assignment/nothing" << QByteArray() << 404
                                  << QByteArray("UnknownOperationException");
}

void TestStandIn::listingRequestsAreValidated()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, query);
    QFETCH(int, status);
    QFETCH(QByteArray, errorType);
    Client client(*m_standIn);
    QNetworkRequest request = client.requestFor(path, {});
    QUrl url = request.url();
    url.setQuery(QString::fromLatin1(query));
    request.setUrl(url);
    request.setRawHeader("x-amz-sso_bearer_token", m_standIn->issueAccessToken().toUtf8());
    QNetworkAccessManager network;
    const Reply reply = client.wait(network.get(request));
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.errorType, errorType);
    QVERIFY(reply.json().contains(u"message"));
}

void TestStandIn::throttlesEachListingSeparately()
{
    // A bucket of two that practically never refills.
    m_standIn->setThrottleRate(0.0001, 2);
    const QString token = m_standIn->issueAccessToken();
    const QString accountId = m_standIn->options().accounts.first().accountId;
    Client client(*m_standIn);
    QList<int> accounts;
    for (int i = 0; i < 3; ++i) {
        accounts.append(client.get(QStringLiteral("/assignment/accounts"), {}, token).status);
    }
    QCOMPARE(accounts, (QList<int>{200, 200, 429}));
    const Reply roles = client.get(QStringLiteral("/assignment/roles"),
                                   {{QStringLiteral("account_id"), accountId}}, token);
    QCOMPARE(roles.status, 200);
    const Reply throttled = client.get(QStringLiteral("/assignment/accounts"), {}, token);
    QCOMPARE(throttled.errorType, QByteArray("TooManyRequestsException"));
    QVERIFY(m_standIn->requestLog().last().throttled);
    // The OIDC service is not throttled.
    QCOMPARE(client
                 .post(QStringLiteral("/client/register"),
                       {{QStringLiteral("clientName"), QStringLiteral("x")},
                        {QStringLiteral("clientType"), QStringLiteral("public")}})
                 .status,
             200);
}

void TestStandIn::tokenBucketRefills()
{
    TokenBucket bucket(20);
    int taken = 0;
    while (bucket.tryTake(1000)) {
        ++taken;
    }
    QCOMPARE(taken, 20);
    QVERIFY(!bucket.tryTake(1049));
    QVERIFY(bucket.tryTake(1050));
    QVERIFY(!bucket.tryTake(1050));
    // A long pause fills the bucket only up to its size.
    QVERIFY(bucket.tryTake(100000));
    taken = 1;
    while (bucket.tryTake(100000)) {
        ++taken;
    }
    QCOMPARE(taken, 20);

    TokenBucket unlimited(0);
    for (int i = 0; i < 1000; ++i) {
        QVERIFY(unlimited.tryTake(0));
    }
}

void TestStandIn::faultsReplaceAnswersForAWhile()
{
    Client client(*m_standIn);
    const QString token = m_standIn->issueAccessToken();
    const QString path = QStringLiteral("/assignment/accounts");
    m_standIn->addFault(
        StandInFault::error(StandInOperation::listAccounts, QStringLiteral("TooManyRequests"))
            .withRetryAfter(3)
            .times(1));
    m_standIn->addFault(StandInFault::httpStatus(StandInOperation::listAccounts, 503).times(1));
    m_standIn->addFault(StandInFault::malformedJson(StandInOperation::listAccounts).times(1));

    const Reply throttled = client.get(path, {}, token);
    QCOMPARE(throttled.status, 429);
    QCOMPARE(throttled.retryAfter, QByteArray("3"));
    QCOMPARE(throttled.errorType, QByteArray("TooManyRequestsException"));
    const Reply unavailable = client.get(path, {}, token);
    QCOMPARE(unavailable.status, 503);
    QVERIFY(unavailable.errorType.isEmpty());
    QVERIFY(!unavailable.json().contains(u"error"));
    const Reply malformed = client.get(path, {}, token);
    QCOMPARE(malformed.status, 200);
    QVERIFY(QJsonDocument::fromJson(malformed.body).isNull());
    QCOMPARE(client.get(path, {}, token).status, 200);
    for (const StandInFault &fault : m_standIn->faults()) {
        QCOMPARE(fault.remaining, 0);
    }

    // OIDC errors carry the OAuth code and the exception name; a status can be forced.
    m_standIn->addFault(StandInFault::error(StandInOperation::registerClient,
                                            QStringLiteral("SlowDownException"),
                                            QStringLiteral("Easy."))
                            .times(1));
    const Reply slowDown =
        client.post(QStringLiteral("/client/register"), {{QStringLiteral("x"), 1}});
    QCOMPARE(slowDown.status, 400);
    QCOMPARE(slowDown.json(),
             (QJsonObject{{QStringLiteral("error"), QStringLiteral("slow_down")},
                          {QStringLiteral("error_description"), QStringLiteral("Easy.")}}));
    QCOMPARE(slowDown.errorType, QByteArray("SlowDownException"));
}

void TestStandIn::paginationFaults()
{
    m_standIn->setAccounts(generateAccounts(5, 1));
    const QString token = m_standIn->issueAccessToken();
    Client client(*m_standIn);
    const QString path = QStringLiteral("/assignment/accounts");
    const QList<QPair<QString, QString>> pageOfTwo = {
        {QStringLiteral("max_result"), QStringLiteral("2")}};

    m_standIn->addFault(StandInFault::repeatedNextToken(StandInOperation::listAccounts).times(2));
    const QString first = client.get(path, pageOfTwo, token).json().value(u"nextToken").toString();
    QVERIFY(!first.isEmpty());
    const Reply second = client.get(
        path, pageOfTwo + QList<QPair<QString, QString>>{{QStringLiteral("next_token"), first}},
        token);
    QCOMPARE(second.json().value(u"nextToken").toString(), first);
    QCOMPARE(second.json().value(u"accountList").toArray().size(), 2);

    m_standIn->clearFaults();
    m_standIn->addFault(StandInFault::endlessPages(StandInOperation::listAccounts));
    QStringList seen;
    std::optional<QString> next;
    for (int page = 0; page < 6; ++page) {
        auto query = pageOfTwo;
        if (next) {
            query.append({QStringLiteral("next_token"), *next});
        }
        const QJsonObject answer = client.get(path, query, token).json();
        QVERIFY(answer.contains(u"nextToken"));
        next = answer.value(u"nextToken").toString();
        QVERIFY(!seen.contains(*next));
        seen.append(*next);
    }
}

void TestStandIn::faultSpecifications_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("remaining");
    using Kind = StandInFault::Kind;
    QTest::newRow("slow down thrice") << "token:error=slow_down*3" << true << int(Kind::error)
                                      << int(StandInOperation::createToken) << 3;
    QTest::newRow("sdk names") << "ListAccountRoles:error=TooManyRequestsException" << true
                               << int(Kind::error) << int(StandInOperation::listAccountRoles) << -1;
    QTest::newRow("latency") << "accounts:latency=250" << true << int(Kind::latency)
                             << int(StandInOperation::listAccounts) << -1;
    QTest::newRow("status") << "register:status=503*1" << true << int(Kind::status)
                            << int(StandInOperation::registerClient) << 1;
    QTest::newRow("endless") << "roles:endless" << true << int(Kind::endlessPages)
                             << int(StandInOperation::listAccountRoles) << -1;
    QTest::newRow("portal code on oidc")
        << "token:error=UnauthorizedException" << false << 0 << 0 << 0;
    QTest::newRow("oauth code on portal") << "accounts:error=slow_down" << false << 0 << 0 << 0;
    QTest::newRow("pages of a token") << "token:repeated-token" << false << 0 << 0 << 0;
    QTest::newRow("unknown operation") << "logout:malformed" << false << 0 << 0 << 0;
    QTest::newRow("status out of range") << "token:status=99" << false << 0 << 0 << 0;
    QTest::newRow("latency without value") << "token:latency" << false << 0 << 0 << 0;
}

void TestStandIn::faultSpecifications()
{
    QFETCH(QString, faultText);
    QFETCH(bool, valid);
    QString error;
    const std::optional<StandInFault> fault = StandInFault::parse(faultText, &error);
    QCOMPARE(fault.has_value(), valid);
    if (!valid) {
        QVERIFY(error.contains(faultText));
        return;
    }
    QFETCH(int, kind);
    QFETCH(int, operation);
    QFETCH(int, remaining);
    QCOMPARE(int(fault->kind), kind);
    QCOMPARE(int(fault->operation), operation);
    QCOMPARE(fault->remaining, remaining);
}

void TestStandIn::generatedOrganizations()
{
    const QList<StandInAccount> accounts = generateAccounts(1000, 14, 7);
    QCOMPARE(accounts, generateAccounts(1000, 14, 7));
    QVERIFY(accounts != generateAccounts(1000, 14, 8));
    QSet<QString> ids;
    QSet<QString> names;
    for (const StandInAccount &account : accounts) {
        QCOMPARE(account.accountId.size(), 12);
        ids.insert(account.accountId);
        names.insert(account.accountName);
        QCOMPARE(account.roleNames.size(), 14);
        QCOMPARE(QSet<QString>(account.roleNames.begin(), account.roleNames.end()).size(), 14);
    }
    QCOMPARE(ids.size(), 1000);
    QCOMPARE(names.size(), 1000);
}

void TestStandIn::accountFiles()
{
    const QList<StandInAccount> accounts = generateAccounts(3, 2);
    QString error;
    QCOMPARE(parseAccounts(accountsToJson(accounts), &error), accounts);
    const auto bare = parseAccounts(
        R"([{"accountId": "111122223333", "accountName": "Dev", "roles": ["Admin"]}])", &error);
    QVERIFY(bare);
    QCOMPARE(bare->first().roleNames, QStringList{QStringLiteral("Admin")});
    QVERIFY(!bare->first().emailAddress.isEmpty());

    QVERIFY(!parseAccounts("{\"accounts\": [{\"accountName\": \"x\"}]}", &error));
    QVERIFY(error.contains(QStringLiteral("accountId")));
    QVERIFY(!parseAccounts("{\"account\": []}", &error));
    QVERIFY(
        !parseAccounts("[{\"accountId\": \"1\", \"accountName\": \"x\", \"roles\": [1]}]", &error));
    QVERIFY(!parseAccounts("not json", &error));
}

QTEST_GUILESS_MAIN(TestStandIn)
#include "tst_standin.moc"
