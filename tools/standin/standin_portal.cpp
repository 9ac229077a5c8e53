#include "standin.h"
#include "standin_p.h"
#include "standinwire.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace tessera::standin {

namespace {

// Pagination tokens carry the listing they belong to and where it continues. The fixed
// prefix and the padding put "+", "/" and "=" into every token.
const QByteArray tokenPrefix = QByteArray::fromHex("fbefbeffffff");

struct PagePosition
{
    QString scope; // "accounts" or "roles:<account id>"
    qsizetype offset = 0;
};

QString encodePageToken(const PagePosition &position, quint64 serial)
{
    QByteArray payload = QJsonDocument(QJsonObject{{QStringLiteral("s"), position.scope},
                                                   {QStringLiteral("o"), position.offset},
                                                   {QStringLiteral("n"), qint64(serial)}})
                             .toJson(QJsonDocument::Compact);
    payload.prepend(tokenPrefix);
    while (payload.size() % 3 != 1) {
        payload.append(' ');
    }
    return QString::fromLatin1(payload.toBase64());
}

std::optional<PagePosition> decodePageToken(const QString &token)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(token.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || !decoded.decoded.startsWith(tokenPrefix)) {
        return std::nullopt;
    }
    const QJsonObject object =
        QJsonDocument::fromJson(decoded.decoded.mid(tokenPrefix.size())).object();
    if (!object.value(u"s").isString() || !object.value(u"o").isDouble()) {
        return std::nullopt;
    }
    return PagePosition{object.value(u"s").toString(), qsizetype(object.value(u"o").toInteger())};
}

HttpServerResponse invalidRequest(const QString &message)
{
    return portalErrorResponse(QStringLiteral("InvalidRequestException"), message);
}

// Where a listing request starts and how many entries it wants, or the error answer.
struct PageRequest
{
    qsizetype offset = 0;
    qsizetype size = 0;
    std::optional<QString> token;
};

std::variant<PageRequest, HttpServerResponse>
readPageRequest(const HttpServerRequest &request, const QString &scope, int defaultPageSize)
{
    PageRequest page;
    page.size = defaultPageSize;
    if (const auto maxResult = request.queryValue(QStringLiteral("max_result"))) {
        bool ok = false;
        page.size = maxResult->toInt(&ok);
        if (!ok || page.size < 1 || page.size > 100) {
            return invalidRequest(QStringLiteral("max_result must be between 1 and 100."));
        }
    }
    page.token = request.queryValue(QStringLiteral("next_token"));
    if (page.token) {
        const std::optional<PagePosition> position = decodePageToken(*page.token);
        if (!position || position->scope != scope || position->offset < 0) {
            return invalidRequest(QStringLiteral("Invalid next token."));
        }
        page.offset = position->offset;
    }
    return page;
}

// The token for the page after this one: none at the end, unless a fault says otherwise.
std::optional<QString> followingToken(const PageRequest &page, qsizetype total,
                                      const QString &scope, const StandInFault *fault,
                                      quint64 &serial)
{
    const qsizetype next = page.offset + page.size;
    if (fault && fault->kind == StandInFault::Kind::repeatedNextToken && page.token) {
        return page.token;
    }
    const bool forced = fault && (fault->kind == StandInFault::Kind::repeatedNextToken ||
                                  fault->kind == StandInFault::Kind::endlessPages);
    if (next >= total && !forced) {
        return std::nullopt;
    }
    return encodePageToken({scope, next}, ++serial);
}

} // namespace

std::optional<HttpServerResponse> StandIn::checkAccessToken(const HttpServerRequest &request)
{
    if (d->options.acceptAnyAccessToken) {
        return std::nullopt;
    }
    const QString token = QString::fromUtf8(request.header("x-amz-sso_bearer_token"));
    const auto found = d->accessTokens.constFind(token);
    if (token.isEmpty() || found == d->accessTokens.cend() || d->now() >= found->expiresAtMs) {
        return portalErrorResponse(QStringLiteral("UnauthorizedException"),
                                   QStringLiteral("Session token not found or invalid"));
    }
    return std::nullopt;
}

HttpServerResponse StandIn::listAccounts(const HttpServerRequest &request,
                                         const StandInFault *fault)
{
    const QString scope = QStringLiteral("accounts");
    const auto parsed = readPageRequest(request, scope, d->options.defaultPageSize);
    if (const auto *error = std::get_if<HttpServerResponse>(&parsed)) {
        return *error;
    }
    const PageRequest &page = std::get<PageRequest>(parsed);
    const QList<StandInAccount> &accounts = d->options.accounts;

    QJsonArray list;
    for (qsizetype i = page.offset; i < std::min(accounts.size(), page.offset + page.size); ++i) {
        list.append(QJsonObject{{QStringLiteral("accountId"), accounts[i].accountId},
                                {QStringLiteral("accountName"), accounts[i].accountName},
                                {QStringLiteral("emailAddress"), accounts[i].emailAddress}});
    }
    QJsonObject body{{QStringLiteral("accountList"), list}};
    if (const auto next = followingToken(page, accounts.size(), scope, fault, d->pageTokenSerial)) {
        body.insert(QStringLiteral("nextToken"), *next);
    }
    return jsonResponse(body);
}

HttpServerResponse StandIn::listAccountRoles(const HttpServerRequest &request,
                                             const StandInFault *fault)
{
    const std::optional<QString> accountId = request.queryValue(QStringLiteral("account_id"));
    if (!accountId || accountId->isEmpty()) {
        return invalidRequest(QStringLiteral("account_id is required."));
    }
    const StandInAccount *account = nullptr;
    for (const StandInAccount &candidate : d->options.accounts) {
        if (candidate.accountId == *accountId) {
            account = &candidate;
            break;
        }
    }
    if (!account) {
        return portalErrorResponse(QStringLiteral("ResourceNotFoundException"),
                                   QStringLiteral("No access to account %1").arg(*accountId));
    }
    const QString scope = QStringLiteral("roles:") + *accountId;
    const auto parsed = readPageRequest(request, scope, d->options.defaultPageSize);
    if (const auto *error = std::get_if<HttpServerResponse>(&parsed)) {
        return *error;
    }
    const PageRequest &page = std::get<PageRequest>(parsed);
    const QStringList &roles = account->roleNames;

    QJsonArray list;
    for (qsizetype i = page.offset; i < std::min(roles.size(), page.offset + page.size); ++i) {
        list.append(QJsonObject{{QStringLiteral("roleName"), roles[i]},
                                {QStringLiteral("accountId"), *accountId}});
    }
    QJsonObject body{{QStringLiteral("roleList"), list}};
    if (const auto next = followingToken(page, roles.size(), scope, fault, d->pageTokenSerial)) {
        body.insert(QStringLiteral("nextToken"), *next);
    }
    return jsonResponse(body);
}

HttpServerResponse StandIn::portalAnswer(const HttpServerRequest &request,
                                         StandInOperation operation, const StandInFault *fault)
{
    if (const auto refused = checkAccessToken(request)) {
        return *refused;
    }
    switch (operation) {
    case StandInOperation::listAccounts:
        return listAccounts(request, fault);
    case StandInOperation::listAccountRoles:
        return listAccountRoles(request, fault);
    default:
        return getRoleCredentials(request);
    }
}

// Credentials that say whose they are, so a caller can tell which account and role it got.
HttpServerResponse StandIn::getRoleCredentials(const HttpServerRequest &request)
{
    const QString accountId = request.queryValue(QStringLiteral("account_id")).value_or(QString());
    const QString roleName = request.queryValue(QStringLiteral("role_name")).value_or(QString());
    if (accountId.isEmpty() || roleName.isEmpty()) {
        return invalidRequest(QStringLiteral("account_id and role_name are required."));
    }
    const auto account = std::find_if(
        d->options.accounts.cbegin(), d->options.accounts.cend(),
        [&](const StandInAccount &candidate) { return candidate.accountId == accountId; });
    if (account == d->options.accounts.cend() || !account->roleNames.contains(roleName)) {
        return portalErrorResponse(QStringLiteral("ResourceNotFoundException"),
                                   QStringLiteral("No access"));
    }
    const qint64 expirationMs = QDateTime::currentMSecsSinceEpoch() + 3600 * 1000;
    const QString accessKeyId = QStringLiteral("ASIASTANDIN") + accountId;
    const QString sessionToken = QStringLiteral("standin:") + accountId + QLatin1Char(':') +
                                 roleName + QLatin1Char(':') + randomToken(16);
    QJsonObject credentials;
    credentials.insert(QStringLiteral("accessKeyId"), accessKeyId);
    credentials.insert(QStringLiteral("secretAccessKey"), randomToken(30));
    credentials.insert(QStringLiteral("sessionToken"), sessionToken);
    credentials.insert(QStringLiteral("expiration"), expirationMs);
    return jsonResponse(QJsonObject{{QStringLiteral("roleCredentials"), credentials}});
}

} // namespace tessera::standin
