#include "aws/ssooidc.h"

#include "aws/endpoints.h"
#include "aws/wirejson.h"
#include "foundation/logging.h"
#include "storage/orderedjson.h"

#include <QJsonArray>

namespace tessera {

namespace {

constexpr qint64 longestExpiry = 86400;
constexpr qint64 defaultPollingInterval = 5;
constexpr qint64 longestPollingInterval = 300;
constexpr qint64 slowDownStep = 5;
// Seconds since 1970. Saved dates beyond 1e13 seconds from 2001 are refused when read back,
// and much larger values overflow the conversion to milliseconds.
constexpr double latestClientSecretExpiry = 1e13;

const QString sessionExpiredMessage = QStringLiteral("Sign-in timed out — try again.");

bool isWithin(qint64 value, qint64 lowest, qint64 highest)
{
    return value >= lowest && value <= highest;
}

// The error the service answered with, mapped to an OIDCError; a body that is not an
// error object yields only the status.
OIDCError errorFromResponse(const HttpResponse &response)
{
    const QString statusCode = QStringLiteral("http_") + QString::number(response.status);
    try {
        const QJsonObject body = wire::parseObject(response.body);
        const auto error = wire::optionalString(body, QStringLiteral("error"));
        const auto description = wire::optionalString(body, QStringLiteral("error_description"));
        const auto message = wire::optionalString(body, QStringLiteral("message"));
        const auto chosenMessage = description ? description : message;
        return OIDCError(error ? *error : statusCode, chosenMessage);
    } catch (const DecodingError &error) {
        // The user sees the status alone; what the body held instead goes to the log.
        qCDebug(lcNetwork, "OIDC service answered HTTP %d without a readable error: %s",
                response.status, qUtf8Printable(error.description()));
        return OIDCError(statusCode, std::nullopt);
    }
}

RegisterResponse decodeRegisterResponse(const QByteArray &body)
{
    const QJsonObject object = wire::parseObject(body);
    RegisterResponse response;
    response.clientId = wire::requiredString(object, QStringLiteral("clientId"));
    response.clientSecret = wire::requiredString(object, QStringLiteral("clientSecret"));
    response.clientSecretExpiresAt =
        wire::requiredNumber(object, QStringLiteral("clientSecretExpiresAt"));
    return response;
}

DeviceAuthResponse decodeDeviceAuthResponse(const QByteArray &body)
{
    const QJsonObject object = wire::parseObject(body);
    DeviceAuthResponse response;
    response.deviceCode = wire::requiredString(object, QStringLiteral("deviceCode"));
    response.userCode = wire::requiredString(object, QStringLiteral("userCode"));
    response.verificationUriComplete =
        wire::requiredString(object, QStringLiteral("verificationUriComplete"));
    response.expiresIn = wire::requiredInteger(object, QStringLiteral("expiresIn"));
    response.interval = wire::optionalInteger(object, QStringLiteral("interval"));
    return response;
}

TokenResponse decodeTokenResponse(const QByteArray &body)
{
    const QJsonObject object = wire::parseObject(body);
    TokenResponse response;
    response.accessToken = wire::requiredString(object, QStringLiteral("accessToken"));
    response.expiresIn = wire::requiredInteger(object, QStringLiteral("expiresIn"));
    response.refreshToken = wire::optionalString(object, QStringLiteral("refreshToken"));
    return response;
}

QByteArray deviceTokenRequest(const QString &clientId, const QString &clientSecret,
                              const QString &deviceCode)
{
    return OrderedJsonObject()
        .insert(QStringLiteral("clientId"), clientId)
        .insert(QStringLiteral("clientSecret"), clientSecret)
        .insert(QStringLiteral("grantType"),
                QStringLiteral("urn:ietf:params:oauth:grant-type:device_code"))
        .insert(QStringLiteral("deviceCode"), deviceCode)
        .toJson();
}

bool isPending(const QString &code)
{
    return code == QLatin1String("authorization_pending") ||
           code == QLatin1String("AuthorizationPendingException");
}

bool isSlowDown(const QString &code)
{
    return code == QLatin1String("slow_down") || code == QLatin1String("SlowDownException");
}

} // namespace

OIDCError::OIDCError(QString code, std::optional<QString> message)
    : Error(message && !message->isEmpty() ? *message : code)
    , m_code(std::move(code))
    , m_message(std::move(message))
{}

OIDCError OIDCError::invalidRegion(const QString &region)
{
    return OIDCError(QStringLiteral("invalid_region"),
                     QStringLiteral("“") + region +
                         QStringLiteral("” is not a valid AWS region — check Settings."));
}

OIDCError OIDCError::expiredToken()
{
    return OIDCError(QStringLiteral("expired_token"), sessionExpiredMessage);
}

OIDCError OIDCError::invalidResponse()
{
    return OIDCError(QStringLiteral("invalid_response"),
                     QStringLiteral("AWS returned an invalid sign-in duration. Try signing in "
                                    "again."));
}

OIDCPollingClock OIDCPollingClock::fromClock(std::shared_ptr<Clock> clock)
{
    OIDCPollingClock polling;
    polling.now = [clock] { return clock->now(); };
    polling.sleep = [clock](std::chrono::milliseconds duration, CancellationToken token) {
        return clock->sleep(duration, std::move(token));
    };
    return polling;
}

OIDCPollingClock OIDCPollingClock::system()
{
    return fromClock(SystemClock::shared());
}

SSOOIDC::SSOOIDC(QString region, std::shared_ptr<HttpTransport> session,
                 OIDCPollingClock pollingClock)
    : m_region(std::move(region))
    , m_session(std::move(session))
    , m_pollingClock(std::move(pollingClock))
{}

QCoro::Task<QByteArray> SSOOIDC::request(QString path, QByteArray body,
                                         CancellationToken token) const
{
    const auto base = serviceEndpoint(IdentityService::oidc, m_region);
    if (!base) {
        throw OIDCError::invalidRegion(m_region);
    }
    HttpRequest request;
    request.method = "POST";
    request.url = endpointUrl(*base, path);
    request.headers = {{"Content-Type", "application/json"}};
    request.body = std::move(body);
    request.timeout = std::chrono::seconds(60);

    // The session may be shared; keep it alive for the whole exchange.
    const auto session = m_session;
    const HttpResponse response = co_await session->send(std::move(request), token);
    if (response.status >= 200 && response.status <= 299) {
        co_return response.body;
    }
    throw errorFromResponse(response);
}

QCoro::Task<RegisterResponse> SSOOIDC::registerClient(CancellationToken token) const
{
    const QByteArray body =
        OrderedJsonObject()
            .insert(QStringLiteral("clientName"), QStringLiteral("Tessera"))
            .insert(QStringLiteral("clientType"), QStringLiteral("public"))
            .insert(QStringLiteral("scopes"), QJsonArray{QStringLiteral("sso:account:access")})
            .toJson();
    co_return decodeRegisterResponse(
        co_await request(QStringLiteral("client/register"), body, std::move(token)));
}

QCoro::Task<DeviceAuthResponse> SSOOIDC::startDeviceAuthorization(QString clientId,
                                                                  QString clientSecret,
                                                                  QString startUrl,
                                                                  CancellationToken token) const
{
    const QByteArray body = OrderedJsonObject()
                                .insert(QStringLiteral("clientId"), clientId)
                                .insert(QStringLiteral("clientSecret"), clientSecret)
                                .insert(QStringLiteral("startUrl"), startUrl)
                                .toJson();
    co_return decodeDeviceAuthResponse(
        co_await request(QStringLiteral("device_authorization"), body, std::move(token)));
}

QCoro::Task<TokenResponse> SSOOIDC::redeemRefreshToken(QString clientId, QString clientSecret,
                                                       QString refreshToken,
                                                       CancellationToken token) const
{
    const QByteArray body =
        OrderedJsonObject()
            .insert(QStringLiteral("clientId"), clientId)
            .insert(QStringLiteral("clientSecret"), clientSecret)
            .insert(QStringLiteral("grantType"), QStringLiteral("refresh_token"))
            .insert(QStringLiteral("refreshToken"), refreshToken)
            .toJson();
    co_return decodeTokenResponse(
        co_await request(QStringLiteral("token"), body, std::move(token)));
}

QCoro::Task<TokenResponse> SSOOIDC::pollForToken(DeviceAuthResponse authorization, QString clientId,
                                                 QString clientSecret,
                                                 CancellationToken token) const
{
    qint64 interval = validatedPollingInterval(authorization);
    // Copies, so that the loop does not depend on this client value outliving it.
    const OIDCPollingClock clock = m_pollingClock;
    const SSOOIDC client = *this;
    const QByteArray body = deviceTokenRequest(clientId, clientSecret, authorization.deviceCode);

    const Clock::time_point deadline = clock.now() + std::chrono::seconds(authorization.expiresIn);
    Clock::time_point t = clock.now();
    while (true) {
        if (t >= deadline) {
            throw OIDCError::expiredToken();
        }
        // Rounded up, so a shortened last sleep ends at or after the deadline.
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - t);
        co_await clock.sleep(
            std::min<std::chrono::milliseconds>(std::chrono::seconds(interval), remaining), token);
        if (clock.now() >= deadline) {
            throw OIDCError::expiredToken();
        }
        try {
            const QByteArray answer = co_await client.request(QStringLiteral("token"), body, token);
            co_return validatedToken(decodeTokenResponse(answer));
        } catch (const OIDCError &error) {
            if (isSlowDown(error.code())) {
                interval = std::min(interval + slowDownStep, longestPollingInterval);
            } else if (!isPending(error.code())) {
                throw;
            }
        }
        t = clock.now();
    }
}

qint64 SSOOIDC::validatedPollingInterval(const DeviceAuthResponse &authorization)
{
    const qint64 interval = authorization.interval.value_or(defaultPollingInterval);
    if (!isWithin(authorization.expiresIn, 1, longestExpiry) ||
        !isWithin(interval, 1, longestPollingInterval)) {
        throw OIDCError::invalidResponse();
    }
    return interval;
}

RegisterResponse SSOOIDC::validatedRegistration(const RegisterResponse &registration)
{
    // Written so that NaN fails too.
    if (!(registration.clientSecretExpiresAt >= 0 &&
          registration.clientSecretExpiresAt <= latestClientSecretExpiry)) {
        throw OIDCError::invalidResponse();
    }
    return registration;
}

TokenResponse SSOOIDC::validatedToken(const TokenResponse &token)
{
    if (!isWithin(token.expiresIn, 1, longestExpiry)) {
        throw OIDCError::invalidResponse();
    }
    return token;
}

} // namespace tessera
