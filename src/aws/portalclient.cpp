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
    const QList<QJsonArray> pages =
        co_await client.fetchAllPages(QStringLiteral("assignment/accounts"), std::move(query),
                                      QStringLiteral("accountList"), std::move(token));
    QList<AccountEntry> accounts;
    for (const QJsonArray &page : pages) {
        for (qsizetype i = 0; i < page.size(); ++i) {
            const QJsonObject entry = wire::arrayObject(page, i, QStringLiteral("accountList"));
            accounts.append(
                AccountEntry{wire::requiredString(entry, QStringLiteral("accountId")),
                             wire::requiredString(entry, QStringLiteral("accountName"))});
        }
    }
    co_return accounts;
}

QCoro::Task<QStringList> PortalClient::listRoles(QString accountId, CancellationToken token) const
{
    const PortalClient client = *this;
    QueryItems query;
    query.append({QStringLiteral("account_id"), accountId});
    query.append({QStringLiteral("max_result"), QStringLiteral("100")});
    const QList<QJsonArray> pages =
        co_await client.fetchAllPages(QStringLiteral("assignment/roles"), std::move(query),
                                      QStringLiteral("roleList"), std::move(token));
    QStringList roles;
    for (const QJsonArray &page : pages) {
        for (qsizetype i = 0; i < page.size(); ++i) {
            roles.append(
                wire::requiredString(wire::arrayObject(page, i, QStringLiteral("roleList")),
                                     QStringLiteral("roleName")));
        }
    }
    co_return roles;
}

// Decodes each page as it arrives, so a malformed page fails the listing before the next
// request; the entries are returned as raw arrays for the caller to read.
QCoro::Task<QList<QJsonArray>> PortalClient::fetchAllPages(QString path, QueryItems query,
                                                           QString listKey,
                                                           CancellationToken token) const
{
    if (m_maximumPageCount < 1) {
        throw PortalError::pageLimitExceeded();
    }
    QList<QJsonArray> pages;
    QSet<QString> seen;
    std::optional<QString> nextToken;
    while (true) {
        QueryItems items = query;
        if (nextToken) {
            items.append({QStringLiteral("next_token"), *nextToken});
        }
        const QByteArray body = co_await fetchPage(path, items, token);
        const QJsonObject object = wire::parseObject(body);
        pages.append(wire::requiredArray(object, listKey));
        for (qsizetype i = 0; i < pages.last().size(); ++i) {
            wire::arrayObject(pages.last(), i, listKey);
        }
        nextToken = wire::optionalString(object, QStringLiteral("nextToken"));
        if (!nextToken) {
            co_return pages;
        }
        if (seen.contains(*nextToken)) {
            throw PortalError::repeatedNextToken();
        }
        seen.insert(*nextToken);
        if (pages.size() == m_maximumPageCount) {
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
