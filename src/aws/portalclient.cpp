#include "aws/portalclient.h"

#include "aws/endpoints.h"
#include "aws/wirejson.h"

#include <QSet>
#include <QUrlQuery>

namespace tessera {

namespace {

using QueryItems = QList<QPair<QString, QString>>;

// Every character outside the unreserved set is percent-encoded: pagination tokens are
// base64 and a bare "+" would reach the service as a space.
QString encodedQuery(const QueryItems &items)
{
    QStringList pairs;
    for (const auto &[key, value] : items) {
        pairs << QString::fromLatin1(QUrl::toPercentEncoding(key) + '=' +
                                     QUrl::toPercentEncoding(value));
    }
    return pairs.join(QLatin1Char('&'));
}

} // namespace

PortalError::PortalError(Case errorCase, QString description, int status, QString region)
    : Error(std::move(description))
    , m_case(errorCase)
    , m_status(status)
    , m_region(std::move(region))
{}

PortalError PortalError::http(int status)
{
    return PortalError(Case::http,
                       QStringLiteral("AWS access portal returned HTTP ") +
                           QString::number(status) + QLatin1Char('.'),
                       status);
}

PortalError PortalError::invalidRegion(const QString &region)
{
    return PortalError(Case::invalidRegion,
                       QStringLiteral("“") + region +
                           QStringLiteral("” is not a valid AWS region — check Settings."),
                       0, region);
}

PortalError PortalError::unauthorized()
{
    return PortalError(Case::unauthorized, QStringLiteral("Session expired — sign in again."));
}

PortalError PortalError::invalidResponse()
{
    return PortalError(Case::invalidResponse,
                       QStringLiteral("AWS access portal returned an invalid response."));
}

PortalError PortalError::repeatedNextToken()
{
    return PortalError(Case::repeatedNextToken,
                       QStringLiteral("AWS access portal repeated a pagination token."));
}

PortalError PortalError::pageLimitExceeded()
{
    return PortalError(Case::pageLimitExceeded,
                       QStringLiteral("AWS access portal returned too many pages."));
}

PortalError PortalError::entryLimitExceeded(const QString &what)
{
    return PortalError(Case::entryLimitExceeded,
                       QStringLiteral("AWS access portal listed too many ") + what +
                           QLatin1Char('.'));
}

bool PortalError::operator==(const PortalError &other) const
{
    return m_case == other.m_case && m_status == other.m_status && m_region == other.m_region;
}

PortalClient::PortalClient(QString region, QString accessToken,
                           std::shared_ptr<HttpTransport> session, int maximumPageCount,
                           PortalRetryOptions retry)
    : m_region(std::move(region))
    , m_accessToken(std::move(accessToken))
    , m_session(std::move(session))
    , m_maximumPageCount(maximumPageCount)
    , m_throttle(std::make_shared<PortalThrottle>(std::move(retry)))
{}

QCoro::Task<QList<AccountEntry>> PortalClient::listAccounts(CancellationToken token) const
{
    const PortalClient client = *this;
    QueryItems query;
    query.append({QStringLiteral("max_result"), QStringLiteral("100")});
    QList<AccountEntry> accounts;
    co_await client.fetchAllPages(
        QStringLiteral("assignment/accounts"), std::move(query),
        [&accounts](const QJsonObject &page) {
            const QString key = QStringLiteral("accountList");
            const QJsonArray list = wire::requiredArray(page, key);
            if (list.size() > maximumAccountCount - accounts.size()) {
                throw PortalError::entryLimitExceeded(QStringLiteral("accounts"));
            }
            for (qsizetype i = 0; i < list.size(); ++i) {
                const QJsonObject entry = wire::arrayObject(list, i, key);
                accounts.append(
                    AccountEntry{wire::requiredString(entry, QStringLiteral("accountId")),
                                 wire::requiredString(entry, QStringLiteral("accountName"))});
            }
        },
        std::move(token));
    co_return accounts;
}

QCoro::Task<QStringList> PortalClient::listRoles(QString accountId, CancellationToken token) const
{
    const PortalClient client = *this;
    QueryItems query;
    query.append({QStringLiteral("account_id"), accountId});
    query.append({QStringLiteral("max_result"), QStringLiteral("100")});
    QStringList roles;
    co_await client.fetchAllPages(
        QStringLiteral("assignment/roles"), std::move(query),
        [&roles, &accountId](const QJsonObject &page) {
            const QString key = QStringLiteral("roleList");
            const QJsonArray list = wire::requiredArray(page, key);
            if (list.size() > maximumRoleCount - roles.size()) {
                throw PortalError::entryLimitExceeded(QStringLiteral("roles for account ") +
                                                      accountId);
            }
            for (qsizetype i = 0; i < list.size(); ++i) {
                roles.append(wire::requiredString(wire::arrayObject(list, i, key),
                                                  QStringLiteral("roleName")));
            }
        },
        std::move(token));
    co_return roles;
}

// Each page is read as soon as it arrives, so a malformed page ends the listing before
// the next request.
QCoro::Task<void> PortalClient::fetchAllPages(QString path, QueryItems query, PageReader readPage,
                                              CancellationToken token) const
{
    if (m_maximumPageCount < 1) {
        throw PortalError::pageLimitExceeded();
    }
    QSet<QString> seen;
    int pages = 0;
    std::optional<QString> nextToken;
    while (true) {
        QueryItems items = query;
        if (nextToken) {
            items.append({QStringLiteral("next_token"), *nextToken});
        }
        const QJsonObject page = wire::parseObject(co_await fetchPage(path, items, token));
        readPage(page);
        ++pages;
        nextToken = wire::optionalString(page, QStringLiteral("nextToken"));
        if (!nextToken) {
            co_return;
        }
        if (seen.contains(*nextToken)) {
            throw PortalError::repeatedNextToken();
        }
        seen.insert(*nextToken);
        if (pages == m_maximumPageCount) {
            throw PortalError::pageLimitExceeded();
        }
    }
}

QCoro::Task<QByteArray> PortalClient::fetchPage(QString path, QueryItems query,
                                                CancellationToken token) const
{
    const auto base = serviceEndpoint(IdentityService::portal, m_region);
    if (!base) {
        throw PortalError::invalidRegion(m_region);
    }
    HttpRequest request;
    request.method = "GET";
    request.url = endpointUrl(*base, path);
    request.url.setQuery(encodedQuery(query), QUrl::StrictMode);
    if (!request.url.isValid()) {
        throw PortalError::invalidRegion(m_region);
    }
    request.headers = {{"x-amz-sso_bearer_token", m_accessToken.toUtf8()}};
    request.timeout = std::chrono::seconds(60);

    const auto throttle = m_throttle;
    const HttpResponse response = co_await throttle->send(m_session, std::move(request), token);
    if (response.status < 100) {
        throw PortalError::invalidResponse();
    }
    if (response.status == 401 || response.status == 403) {
        throw PortalError::unauthorized();
    }
    if (response.status < 200 || response.status > 299) {
        throw PortalError::http(response.status);
    }
    co_return response.body;
}

} // namespace tessera
