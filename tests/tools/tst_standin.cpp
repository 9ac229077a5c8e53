// What the other tests rely on in the stand-in beyond its wire format (which
// tst_standin_awscli checks against the real AWS CLI): its TLS identity, the count of
// requests in flight, the service's rules for device codes, refresh tokens, page sizes
// and throttling.

#include "standin.h"
#include "support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslSocket>
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
        reply->deleteLater();
        return result;
    }

private:
    QUrl m_base;
    QSslConfiguration m_tls;
    QNetworkAccessManager m_network;
};

// A raw TLS connection that sends one request and never reads the answer.
class RawConnection
{
public:
    RawConnection(const StandIn &standIn, const QByteArray &request)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromData(standIn.caCertificatePem()));
        m_socket.setSslConfiguration(tls);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), standIn.port());
        m_socket.setPeerVerifyName(QStringLiteral("127.0.0.1"));
        m_socket.write(request);
    }

private:
    QSslSocket m_socket;
};

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
    void countsRequestsInFlight();

    void deviceFlowWaitsForApproval();
    void refreshTokensNeedScopes();

    void listingsFollowTheirTokens_data();
    void listingsFollowTheirTokens();
    void listingRequestsAreValidated_data();
    void listingRequestsAreValidated();

    void throttlesEachListingSeparately();

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

void TestStandIn::countsRequestsInFlight()
{
    m_standIn->addFault(
        StandInFault::delay(StandInOperation::listAccounts, std::chrono::minutes(10)));
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < 3; ++i) {
        connections.push_back(std::make_unique<RawConnection>(
            *m_standIn, "GET /assignment/accounts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
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
    const QJsonObject authorization = signIn.start();
    const QString userCode = authorization.value(u"userCode").toString();
    QCOMPARE(m_standIn->pendingUserCodes(), QStringList{userCode});
    QCOMPARE(signIn.poll(authorization).oauthError(), QStringLiteral("authorization_pending"));

    QVERIFY(m_standIn->approve(userCode.toLower()));
    const Reply granted = signIn.poll(authorization);
    QCOMPARE(granted.status, 200);
    QCOMPARE(granted.json().value(u"expiresIn").toInt(), 3600);
    QVERIFY(m_standIn->pendingUserCodes().isEmpty());

    // A device code is good for one token, and only for the client it was issued to.
    QCOMPARE(signIn.poll(authorization).oauthError(), QStringLiteral("invalid_grant"));
    QCOMPARE(SignIn(client).poll(authorization).oauthError(), QStringLiteral("invalid_grant"));
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

QTEST_GUILESS_MAIN(TestStandIn)
#include "tst_standin.moc"
