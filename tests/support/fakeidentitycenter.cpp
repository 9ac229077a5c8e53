#include "support/fakeidentitycenter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QUrlQuery>

namespace tessera::test {

namespace {
HttpResponse json(int status, const QJsonObject &object)
{
    return HttpResponse{status,
                        {{"Content-Type", "application/json"}},
                        QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

} // namespace

FakeIdentityCenter::FakeIdentityCenter(std::shared_ptr<ManualClock> clock)
    : m_clock(std::move(clock))
{}

QCoro::Task<HttpResponse> FakeIdentityCenter::send(HttpRequest request, CancellationToken token)
{
    const QString path = request.url.path();
    if (path.endsWith(QLatin1String("/assignment/accounts"))) {
        ++accountListings;
        const QString bearer = QString::fromUtf8(request.header("x-amz-sso_bearer_token"));
        bearerTokens << bearer;
        if (portalLatency.count() > 0) {
            co_await m_clock->sleep(portalLatency, token);
        }
        if (rejectedBearerTokens.contains(bearer)) {
            co_return HttpResponse{401, {}, {}};
        }
        QJsonArray list;
        for (const AccountEntry &entry : accounts) {
            list.append(QJsonObject{{QStringLiteral("accountId"), entry.accountId},
                                    {QStringLiteral("accountName"), entry.accountName}});
        }
        co_return json(200, QJsonObject{{QStringLiteral("accountList"), list}});
    }
    if (path.endsWith(QLatin1String("/assignment/roles"))) {
        ++roleRequests;
        const QString accountId =
            QUrlQuery(request.url).queryItemValue(QStringLiteral("account_id"));
        ++rolesInFlight;
        highestRolesInFlight = std::max(highestRolesInFlight, rolesInFlight);
        const auto landed = qScopeGuard([this] { --rolesInFlight; });
        if (portalLatency.count() > 0) {
            co_await m_clock->sleep(portalLatency, token);
        }
        if (roleFailureStatus.contains(accountId)) {
            co_return HttpResponse{roleFailureStatus.value(accountId), {}, {}};
        }
        QJsonArray list;
        for (const QString &role : roles.value(accountId)) {
            list.append(QJsonObject{{QStringLiteral("roleName"), role}});
        }
        co_return json(200, QJsonObject{{QStringLiteral("roleList"), list}});
    }

    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const bool isRefresh =
        body.value(QStringLiteral("grantType")) == QLatin1String("refresh_token");
    if (isRefresh && refreshLatency.count() > 0) {
        const CancellationToken wait = refreshHonoursCancellation ? token : CancellationToken{};
        co_await m_clock->sleep(refreshLatency, wait);
    }
    co_return answerOIDC(path, isRefresh);
}

HttpResponse FakeIdentityCenter::answerOIDC(const QString &path, bool isRefresh)
{
    if (path.endsWith(QLatin1String("/client/register"))) {
        ++registrations;
        return json(200,
                    QJsonObject{{QStringLiteral("clientId"),
                                 QStringLiteral("client-%1").arg(registrations)},
                                {QStringLiteral("clientSecret"), QStringLiteral("secret")},
                                {QStringLiteral("clientSecretExpiresAt"), clientSecretExpiresAt}});
    }
    if (path.endsWith(QLatin1String("/device_authorization"))) {
        ++deviceAuthorizations;
        return json(200, QJsonObject{{QStringLiteral("deviceCode"), QStringLiteral("device")},
                                     {QStringLiteral("userCode"), userCode},
                                     {QStringLiteral("verificationUriComplete"), verificationUri},
                                     {QStringLiteral("expiresIn"), 600},
                                     {QStringLiteral("interval"), 5}});
    }
    if (!path.endsWith(QLatin1String("/token"))) {
        return HttpResponse{404, {}, {}};
    }
    ++(isRefresh ? refreshes : tokenPolls);
    if (isRefresh && refreshFailureStatus) {
        return json(*refreshFailureStatus,
                    {{QStringLiteral("error"), QStringLiteral("invalid_grant")}});
    }
    if (!isRefresh && !approved) {
        return json(400, {{QStringLiteral("error"), QStringLiteral("authorization_pending")}});
    }
    const QString access = QStringLiteral("access-%1").arg(issuedAccessTokens.size() + 1);
    issuedAccessTokens << access;
    QJsonObject answer{{QStringLiteral("accessToken"), access},
                       {QStringLiteral("expiresIn"), accessTokenLifetime}};
    if (issueRefreshToken) {
        answer.insert(QStringLiteral("refreshToken"),
                      QStringLiteral("refresh-%1").arg(issuedAccessTokens.size()));
    }
    return json(200, answer);
}

} // namespace tessera::test
