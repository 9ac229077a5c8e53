#pragma once

// A local stand-in for AWS IAM Identity Center: the OIDC service (RegisterClient,
// StartDeviceAuthorization, CreateToken) and the access portal (ListAccounts,
// ListAccountRoles, GetRoleCredentials), served over HTTPS on 127.0.0.1 with a certificate made at
// start. Requests and answers are shaped as botocore's sso-oidc and sso models describe them: the
// same paths, keys, status codes, x-amzn-ErrorType header and error bodies.
//
// Typical use in a test (everything runs on the calling thread's event loop):
//
//     using namespace tessera::standin;
//     StandIn standIn({.accounts = generateAccounts(1000, 3)});
//     QVERIFY(standIn.start());
//     for (const auto &[name, value] : standIn.clientEnvironment())
//         qputenv(name, value);            // AWS_ENDPOINT_URL_SSO_OIDC, _SSO, AWS_CA_BUNDLE
//     standIn.setApprovalMode(ApprovalMode::onFirstPoll);
//     standIn.addFault(StandInFault::error(StandInOperation::createToken,
//                                          QStringLiteral("slow_down")).times(1));
//     ... drive the client ...
//     QCOMPARE(standIn.requests(StandInOperation::listAccountRoles).size(), 1000);
//     QVERIFY(standIn.maxRequestsInFlight() <= 6);
//
// Both services share one port; the endpoints are baseUrl(). The access-portal start URL
// is startUrl() (baseUrl + "/start"), which also serves a page that shows what a console
// deep link (startUrl + "/#/console?account_id=…&role_name=…&destination=…") asked for.
//
// Sign-in: RegisterClient issues a client whose secret expires in 90 days. A device
// authorization's verificationUriComplete is baseUrl + "/device?user_code=XXXX-XXXX", a
// page with Approve and Deny buttons; approve()/deny() do the same from code, and
// ApprovalMode approves on its own after a delay or at the first token poll. Until then
// CreateToken answers authorization_pending; after expiry, expired_token; after denial,
// access_denied; a device code is redeemed once. Refresh tokens are issued when the
// client registered with scopes (as AWS does) and issueRefreshTokens is set; redeeming
// one issues a new access and refresh token and retires the old refresh token.
//
// Portal: every request needs a live access token in x-amz-sso_bearer_token (else 401
// UnauthorizedException) unless acceptAnyAccessToken. "max_result" (1…100, default
// defaultPageSize) sets the page size; "next_token" continues a listing. Tokens are
// opaque base64 with "+", "/" and "=" in them, and "+" in a query is read as a space, so
// a client that does not percent-encode query values fails here as it would in
// production. An unknown account_id answers 404 ResourceNotFoundException.
//
// Throttling: each portal operation has a token bucket (throttleRate per second, burst
// throttleBurst or one second's worth); a request that finds it empty gets 429
// TooManyRequestsException at once. The OIDC operations are not throttled.
//
// Faults: see StandInFault. Latency faults delay the answer (the request counts as in
// flight meanwhile); other faults replace it. Throttling is decided before faults.
//
// Observation: requestLog() holds every request in arrival order with the status it was
// answered with; maxRequestsInFlight() is the most requests received and not yet
// answered at any moment since start or resetMaxRequestsInFlight().

#include "standindirectory.h"
#include "standinfault.h"
#include "standinhttpserver.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <memory>

namespace tessera::standin {

enum class ApprovalMode
{
    manual,      // approve() or the verification page
    afterDelay,  // approved approvalDelay after the authorization started
    onFirstPoll, // approved when the first token request for it arrives
};

struct StandInOptions
{
    quint16 port = 0;             // 0: any free port
    QString certificateDirectory; // empty: a fresh identity in a private temporary folder
    QList<StandInAccount> accounts = generateAccounts(12, 3);

    std::chrono::seconds accessTokenLifetime{3600};
    bool issueRefreshTokens = true;
    std::chrono::seconds deviceCodeLifetime{600};
    int pollingIntervalSeconds = 1;
    ApprovalMode approvalMode = ApprovalMode::manual;
    std::chrono::milliseconds approvalDelay{0};

    double throttleRate = 20; // requests per second per portal operation; 0: no limit
    double throttleBurst = 0; // 0: one second's worth
    int defaultPageSize = 20;
    bool acceptAnyAccessToken = false;
};

// One request as received, with how it was answered.
struct StandInRequest
{
    quint64 sequence = 0;
    StandInOperation operation = StandInOperation::unknown;
    QByteArray method;
    QString path;
    QList<QPair<QString, QString>> queryItems;
    HeaderList headers;
    QByteArray body;
    qint64 receivedMs = 0; // since the stand-in was made

    int status = 0; // 0 while unanswered
    QByteArray errorType;
    QByteArray responseBody;
    bool throttled = false;

    QByteArray header(const QByteArray &name) const { return headerValue(headers, name); }
    std::optional<QString> queryValue(const QString &key) const;
    QJsonObject jsonBody() const;
};

class StandIn : public QObject
{
    Q_OBJECT
public:
    explicit StandIn(StandInOptions options = {}, QObject *parent = nullptr);
    ~StandIn() override;

    // Makes or loads the certificate and listens on 127.0.0.1.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const;

    quint16 port() const;
    QUrl baseUrl() const;  // https://127.0.0.1:<port>, both services' endpoint
    QUrl startUrl() const; // baseUrl + "/start"
    QString caBundlePath() const;
    QByteArray caCertificatePem() const;
    // AWS_ENDPOINT_URL_SSO_OIDC, AWS_ENDPOINT_URL_SSO and AWS_CA_BUNDLE for a client.
    QList<QPair<QByteArray, QByteArray>> clientEnvironment() const;

    const StandInOptions &options() const;
    void setAccounts(QList<StandInAccount> accounts);

    // Sign-in.
    void setApprovalMode(ApprovalMode mode,
                         std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    bool approve(const QString &userCode); // false: no pending authorization with that code
    bool deny(const QString &userCode);
    QStringList pendingUserCodes() const;
    void setAccessTokenLifetime(std::chrono::seconds lifetime);
    void setIssueRefreshTokens(bool issue);
    void setDeviceCodeLifetime(std::chrono::seconds lifetime);
    void setPollingInterval(int seconds);
    // A live access token, as if a sign-in had just completed.
    QString issueAccessToken();
    // Every access token issued so far is expired from now on (the portal answers 401).
    void expireAccessTokens();
    // Every refresh token issued so far is refused from now on (invalid_grant).
    void revokeRefreshTokens();
    int registeredClientCount() const;

    // Throttling and faults.
    void setThrottleRate(double requestsPerSecond, double burst = 0);
    void addFault(const StandInFault &fault);
    void clearFaults();
    QList<StandInFault> faults() const; // with what remains of each

    // Observation.
    QList<StandInRequest> requestLog() const;
    QList<StandInRequest> requests(StandInOperation operation) const;
    void clearRequestLog();
    int requestsInFlight() const;
    int maxRequestsInFlight() const;
    void resetMaxRequestsInFlight();

Q_SIGNALS:
    void deviceAuthorizationStarted(const QString &userCode, const QUrl &verificationUriComplete);
    void requestAnswered(const tessera::standin::StandInRequest &request);

private:
    struct State;
    struct Outcome;

    void handle(HttpServerRequest request, HttpResponder responder);
    Outcome answer(const HttpServerRequest &request, StandInOperation operation);
    void finish(const StandInRequest &entry);

    // The services.
    HttpServerResponse registerClient(const QJsonObject &body);
    HttpServerResponse startDeviceAuthorization(const QJsonObject &body);
    HttpServerResponse createToken(const QJsonObject &body);
    HttpServerResponse listAccounts(const HttpServerRequest &request, const StandInFault *fault);
    HttpServerResponse portalAnswer(const HttpServerRequest &request, StandInOperation operation,
                                    const StandInFault *fault);
    HttpServerResponse getRoleCredentials(const HttpServerRequest &request);
    HttpServerResponse listAccountRoles(const HttpServerRequest &request,
                                        const StandInFault *fault);
    std::optional<HttpServerResponse> checkAccessToken(const HttpServerRequest &request);

    // The browser pages.
    HttpServerResponse startPage() const;
    HttpServerResponse verificationPage(const HttpServerRequest &request) const;
    HttpServerResponse decide(const HttpServerRequest &request);

    std::unique_ptr<State> d;
};

} // namespace tessera::standin
