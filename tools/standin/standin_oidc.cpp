#include "standin.h"
#include "standin_p.h"
#include "standinwire.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUrlQuery>

namespace tessera::standin {

namespace {
const QString deviceCodeGrant = QStringLiteral("urn:ietf:params:oauth:grant-type:device_code");
const QString refreshTokenGrant = QStringLiteral("refresh_token");
constexpr qint64 clientSecretLifetimeSeconds = 90LL * 24 * 60 * 60;

HttpServerResponse invalidRequest(const QString &description)
{
    return oidcErrorResponse(QStringLiteral("invalid_request"), description);
}

// Fields the model types as strings must be strings; anything else is a bad request, as
// the service's own deserializer would have it.
std::optional<QString> stringField(const QJsonObject &body, const QString &key)
{
    const QJsonValue value = body.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}
} // namespace

HttpServerResponse StandIn::registerClient(const QJsonObject &body)
{
    const auto name = stringField(body, QStringLiteral("clientName"));
    const auto type = stringField(body, QStringLiteral("clientType"));
    if (!name || name->isEmpty() || !type) {
        return invalidRequest(QStringLiteral("clientName and clientType are required."));
    }
    if (*type != u"public") {
        return oidcErrorResponse(QStringLiteral("invalid_client_metadata"),
                                 QStringLiteral("Only public clients are supported."));
    }
    QStringList scopes;
    if (body.contains(QStringLiteral("scopes"))) {
        if (!body.value(QStringLiteral("scopes")).isArray()) {
            return invalidRequest(QStringLiteral("scopes must be a list."));
        }
        for (const QJsonValue &scope : body.value(QStringLiteral("scopes")).toArray()) {
            if (!scope.isString() || !scope.toString().startsWith(u"sso:")) {
                return oidcErrorResponse(QStringLiteral("invalid_scope"),
                                         QStringLiteral("Invalid scope requested."));
            }
            scopes.append(scope.toString());
        }
    }

    const QString clientId = randomToken(16);
    d->clients.insert(clientId, {randomToken(48), *name, scopes});
    const qint64 issuedAt = QDateTime::currentSecsSinceEpoch();
    return jsonResponse(QJsonObject{
        {QStringLiteral("clientId"), clientId},
        {QStringLiteral("clientSecret"), d->clients.value(clientId).secret},
        {QStringLiteral("clientIdIssuedAt"), issuedAt},
        {QStringLiteral("clientSecretExpiresAt"), issuedAt + clientSecretLifetimeSeconds},
    });
}

HttpServerResponse StandIn::startDeviceAuthorization(const QJsonObject &body)
{
    const auto clientId = stringField(body, QStringLiteral("clientId"));
    const auto clientSecret = stringField(body, QStringLiteral("clientSecret"));
    const auto startUrl = stringField(body, QStringLiteral("startUrl"));
    if (!clientId || !clientSecret || !startUrl || startUrl->isEmpty()) {
        return invalidRequest(QStringLiteral("clientId, clientSecret and startUrl are required."));
    }
    const auto client = d->clients.constFind(*clientId);
    if (client == d->clients.cend() || client->secret != *clientSecret) {
        return oidcErrorResponse(QStringLiteral("invalid_client"),
                                 QStringLiteral("Invalid client credentials."));
    }

    DeviceAuthorization authorization;
    authorization.clientId = *clientId;
    authorization.deviceCode = randomToken(32);
    do {
        authorization.userCode = randomUserCode();
    } while (d->authorizationByUserCode(authorization.userCode));
    authorization.startUrl = *startUrl;
    authorization.expiresAtMs = d->now() + std::chrono::duration_cast<std::chrono::milliseconds>(
                                               d->options.deviceCodeLifetime)
                                               .count();
    if (d->options.approvalMode == ApprovalMode::afterDelay) {
        authorization.approveAtMs = d->now() + d->options.approvalDelay.count();
    }
    d->authorizations.insert(authorization.deviceCode, authorization);

    QUrl verificationUri = baseUrl();
    verificationUri.setPath(QStringLiteral("/device"));
    QUrl complete = verificationUri;
    complete.setQuery(QUrlQuery{{QStringLiteral("user_code"), authorization.userCode}});
    Q_EMIT deviceAuthorizationStarted(authorization.userCode, complete);

    return jsonResponse(QJsonObject{
        {QStringLiteral("deviceCode"), authorization.deviceCode},
        {QStringLiteral("userCode"), authorization.userCode},
        {QStringLiteral("verificationUri"), verificationUri.toString()},
        {QStringLiteral("verificationUriComplete"), complete.toString()},
        {QStringLiteral("expiresIn"), qint64(d->options.deviceCodeLifetime.count())},
        {QStringLiteral("interval"), d->options.pollingIntervalSeconds},
    });
}

HttpServerResponse StandIn::createToken(const QJsonObject &body)
{
    const auto clientId = stringField(body, QStringLiteral("clientId"));
    const auto clientSecret = stringField(body, QStringLiteral("clientSecret"));
    const auto grantType = stringField(body, QStringLiteral("grantType"));
    if (!clientId || !clientSecret || !grantType) {
        return invalidRequest(QStringLiteral("clientId, clientSecret and grantType are required."));
    }
    const auto client = d->clients.constFind(*clientId);
    if (client == d->clients.cend() || client->secret != *clientSecret) {
        return oidcErrorResponse(QStringLiteral("invalid_client"),
                                 QStringLiteral("Invalid client credentials."));
    }

    QStringList scopes;
    if (*grantType == deviceCodeGrant) {
        const auto deviceCode = stringField(body, QStringLiteral("deviceCode"));
        if (!deviceCode) {
            return invalidRequest(QStringLiteral("deviceCode is required."));
        }
        const auto found = d->authorizations.find(*deviceCode);
        if (found == d->authorizations.end() || found->clientId != *clientId ||
            found->state == DeviceAuthorization::State::redeemed) {
            return oidcErrorResponse(QStringLiteral("invalid_grant"),
                                     QStringLiteral("Invalid grant provided."));
        }
        DeviceAuthorization &authorization = *found;
        if (d->now() >= authorization.expiresAtMs) {
            return oidcErrorResponse(QStringLiteral("expired_token"),
                                     QStringLiteral("The device code has expired."));
        }
        if (authorization.state == DeviceAuthorization::State::pending &&
            (d->options.approvalMode == ApprovalMode::onFirstPoll ||
             (authorization.approveAtMs >= 0 && d->now() >= authorization.approveAtMs))) {
            authorization.state = DeviceAuthorization::State::approved;
        }
        switch (authorization.state) {
        case DeviceAuthorization::State::pending:
            return oidcErrorResponse(QStringLiteral("authorization_pending"),
                                     QStringLiteral("Authorization is still pending."));
        case DeviceAuthorization::State::denied:
            return oidcErrorResponse(QStringLiteral("access_denied"),
                                     QStringLiteral("The user denied the request."));
        case DeviceAuthorization::State::approved:
        case DeviceAuthorization::State::redeemed:
            break;
        }
        authorization.state = DeviceAuthorization::State::redeemed;
        scopes = client->scopes;
    } else if (*grantType == refreshTokenGrant) {
        const auto refreshToken = stringField(body, QStringLiteral("refreshToken"));
        if (!refreshToken) {
            return invalidRequest(QStringLiteral("refreshToken is required."));
        }
        const auto found = d->refreshTokens.constFind(*refreshToken);
        if (found == d->refreshTokens.cend() || found->clientId != *clientId) {
            return oidcErrorResponse(QStringLiteral("invalid_grant"),
                                     QStringLiteral("Invalid refresh token provided."));
        }
        scopes = found->scopes;
        d->refreshTokens.erase(found);
    } else {
        return oidcErrorResponse(QStringLiteral("unsupported_grant_type"),
                                 QStringLiteral("Unsupported grant type."));
    }

    const QString accessToken = issueAccessToken();
    d->accessTokens[accessToken].clientId = *clientId;
    QJsonObject answer{
        {QStringLiteral("accessToken"), accessToken},
        {QStringLiteral("tokenType"), QStringLiteral("Bearer")},
        {QStringLiteral("expiresIn"), qint64(d->options.accessTokenLifetime.count())},
    };
    // AWS hands out refresh tokens only to clients registered with scopes.
    if (d->options.issueRefreshTokens && !scopes.isEmpty()) {
        const QString refreshToken = randomToken(48);
        d->refreshTokens.insert(refreshToken, {*clientId, scopes});
        answer.insert(QStringLiteral("refreshToken"), refreshToken);
    }
    return jsonResponse(answer);
}

QString StandIn::issueAccessToken()
{
    const QString token = randomToken(48);
    d->accessTokens.insert(
        token, {QString(), d->now() + std::chrono::duration_cast<std::chrono::milliseconds>(
                                          d->options.accessTokenLifetime)
                                          .count()});
    return token;
}

void StandIn::expireAccessTokens()
{
    for (IssuedAccessToken &token : d->accessTokens) {
        token.expiresAtMs = std::min(token.expiresAtMs, d->now());
    }
}

void StandIn::revokeRefreshTokens()
{
    d->refreshTokens.clear();
}

int StandIn::registeredClientCount() const
{
    return int(d->clients.size());
}

void StandIn::setApprovalMode(ApprovalMode mode, std::chrono::milliseconds delay)
{
    d->options.approvalMode = mode;
    d->options.approvalDelay = delay;
}

bool StandIn::approve(const QString &userCode)
{
    DeviceAuthorization *authorization = d->authorizationByUserCode(userCode);
    if (!authorization || authorization->state != DeviceAuthorization::State::pending ||
        d->now() >= authorization->expiresAtMs) {
        return false;
    }
    authorization->state = DeviceAuthorization::State::approved;
    return true;
}

bool StandIn::deny(const QString &userCode)
{
    DeviceAuthorization *authorization = d->authorizationByUserCode(userCode);
    if (!authorization || authorization->state != DeviceAuthorization::State::pending) {
        return false;
    }
    authorization->state = DeviceAuthorization::State::denied;
    return true;
}

QStringList StandIn::pendingUserCodes() const
{
    QStringList codes;
    for (const DeviceAuthorization &authorization : d->authorizations) {
        if (authorization.state == DeviceAuthorization::State::pending &&
            d->now() < authorization.expiresAtMs) {
            codes.append(authorization.userCode);
        }
    }
    return codes;
}

void StandIn::setAccessTokenLifetime(std::chrono::seconds lifetime)
{
    d->options.accessTokenLifetime = lifetime;
}

void StandIn::setIssueRefreshTokens(bool issue)
{
    d->options.issueRefreshTokens = issue;
}

void StandIn::setDeviceCodeLifetime(std::chrono::seconds lifetime)
{
    d->options.deviceCodeLifetime = lifetime;
}

void StandIn::setPollingInterval(int seconds)
{
    d->options.pollingIntervalSeconds = seconds;
}

} // namespace tessera::standin
