#include "storage/recordcoding.h"

#include "foundation/error.h"
#include "storage/dates.h"
#include "storage/orderedjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

namespace tessera {

namespace json {

QJsonObject parseObject(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        throw DecodingError(error.errorString());
    }
    if (!document.isObject()) {
        throw DecodingError(QStringLiteral("expected a JSON object"));
    }
    return document.object();
}

namespace {
[[noreturn]] void missing(const QString &key)
{
    throw DecodingError(QStringLiteral("missing key “") + key + QStringLiteral("”"));
}
[[noreturn]] void wrongType(const QString &key)
{
    throw DecodingError(QStringLiteral("wrong type for key “") + key + QStringLiteral("”"));
}

QStringList stringArray(const QJsonValue &value, const QString &key)
{
    if (!value.isArray()) {
        wrongType(key);
    }
    QStringList result;
    const QJsonArray array = value.toArray();
    result.reserve(array.size());
    for (const auto &element : array) {
        if (!element.isString()) {
            wrongType(key);
        }
        result.append(element.toString());
    }
    return result;
}
} // namespace

QString requireString(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        missing(key);
    }
    if (!it->isString()) {
        wrongType(key);
    }
    return it->toString();
}

std::optional<QString> optionalString(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it->isNull()) {
        return std::nullopt;
    }
    if (!it->isString()) {
        wrongType(key);
    }
    return it->toString();
}

double requireNumber(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        missing(key);
    }
    if (!it->isDouble()) {
        wrongType(key);
    }
    return it->toDouble();
}

QDateTime requireDate(const QJsonObject &object, const QString &key)
{
    const double seconds = requireNumber(object, key);
    // Far beyond any real expiry or sync time; a corrupt value must not overflow the
    // millisecond arithmetic of the conversion.
    constexpr double latestPlausibleSeconds = 1e13;
    if (!std::isfinite(seconds) || std::fabs(seconds) > latestPlausibleSeconds) {
        throw DecodingError(QStringLiteral("date out of range for key “") + key +
                            QStringLiteral("”"));
    }
    return dateFromReferenceSeconds(seconds);
}

QStringList requireStringArray(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        missing(key);
    }
    return stringArray(*it, key);
}

QStringList optionalStringArray(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        return {};
    }
    return stringArray(*it, key);
}

QMap<QString, QString> optionalStringMap(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        return {};
    }
    if (!it->isObject()) {
        wrongType(key);
    }
    QMap<QString, QString> result;
    const QJsonObject map = it->toObject();
    for (auto entry = map.constBegin(); entry != map.constEnd(); ++entry) {
        if (!entry->isString()) {
            wrongType(key);
        }
        result.insert(entry.key(), entry->toString());
    }
    return result;
}

} // namespace json

namespace {
QJsonValue stringArrayValue(const QStringList &values)
{
    return QJsonArray::fromStringList(values);
}

QByteArray stringMapJson(const QMap<QString, QString> &map)
{
    OrderedJsonObject object;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        object.insert(it.key(), it.value());
    }
    return object.toJson();
}
} // namespace

QByteArray encodeAWSAccount(const AWSAccount &account)
{
    return OrderedJsonObject()
        .insert(QStringLiteral("accountId"), account.accountId)
        .insert(QStringLiteral("accountName"), account.accountName)
        .insert(QStringLiteral("roles"), stringArrayValue(account.roles))
        .toJson();
}

QByteArray encodeAccountCache(const AccountCache &cache)
{
    QList<QByteArray> accounts;
    accounts.reserve(cache.accounts.size());
    for (const auto &account : cache.accounts) {
        accounts.append(encodeAWSAccount(account));
    }
    return OrderedJsonObject()
        .insertRaw(QStringLiteral("accounts"), compactJsonArray(accounts))
        .insert(QStringLiteral("lastSync"), secondsSinceReferenceDate(cache.lastSync))
        .toJson();
}

QByteArray encodeOrganization(const Organization &organization)
{
    return OrderedJsonObject()
        .insert(QStringLiteral("pinnedAccountIds"), stringArrayValue(organization.pinnedAccountIds))
        .insert(QStringLiteral("groupNames"), stringArrayValue(organization.groupNames))
        .insertRaw(QStringLiteral("accountGroups"), stringMapJson(organization.accountGroups))
        .insert(QStringLiteral("pinnedServiceNames"),
                stringArrayValue(organization.pinnedServiceNames))
        .insert(QStringLiteral("disabledServiceNames"),
                stringArrayValue(organization.disabledServiceNames))
        .insertRaw(QStringLiteral("accountConsoleRegions"),
                   stringMapJson(organization.accountConsoleRegions))
        .insert(QStringLiteral("disabledConsoleRegionIds"),
                stringArrayValue(organization.disabledConsoleRegionIds))
        .toJson();
}

QByteArray encodeSSOToken(const SSOToken &token)
{
    OrderedJsonObject object;
    object.insert(QStringLiteral("accessToken"), token.accessToken);
    if (token.refreshToken) {
        object.insert(QStringLiteral("refreshToken"), *token.refreshToken);
    }
    object.insert(QStringLiteral("expiresAt"), secondsSinceReferenceDate(token.expiresAt))
        .insert(QStringLiteral("region"), token.region)
        .insert(QStringLiteral("startUrl"), token.startUrl);
    return object.toJson();
}

QByteArray encodeClientRegistration(const ClientRegistration &registration)
{
    return OrderedJsonObject()
        .insert(QStringLiteral("clientId"), registration.clientId)
        .insert(QStringLiteral("clientSecret"), registration.clientSecret)
        .insert(QStringLiteral("expiresAt"), secondsSinceReferenceDate(registration.expiresAt))
        .insert(QStringLiteral("region"), registration.region)
        .toJson();
}

AWSAccount decodeAWSAccount(const QJsonObject &object)
{
    return AWSAccount{json::requireString(object, QStringLiteral("accountId")),
                      json::requireString(object, QStringLiteral("accountName")),
                      json::requireStringArray(object, QStringLiteral("roles"))};
}

AccountCache decodeAccountCache(const QByteArray &bytes)
{
    const QJsonObject object = json::parseObject(bytes);
    const auto accounts = object.constFind(QStringLiteral("accounts"));
    if (accounts == object.constEnd()) {
        throw DecodingError(QStringLiteral("missing key “accounts”"));
    }
    if (!accounts->isArray()) {
        throw DecodingError(QStringLiteral("wrong type for key “accounts”"));
    }
    AccountCache cache;
    for (const auto &element : accounts->toArray()) {
        if (!element.isObject()) {
            throw DecodingError(QStringLiteral("wrong type for key “accounts”"));
        }
        cache.accounts.append(decodeAWSAccount(element.toObject()));
    }
    cache.lastSync = json::requireDate(object, QStringLiteral("lastSync"));
    return cache;
}

Organization decodeOrganization(const QByteArray &bytes)
{
    const QJsonObject object = json::parseObject(bytes);
    Organization organization;
    organization.pinnedAccountIds =
        json::optionalStringArray(object, QStringLiteral("pinnedAccountIds"));
    organization.groupNames = json::optionalStringArray(object, QStringLiteral("groupNames"));
    organization.accountGroups = json::optionalStringMap(object, QStringLiteral("accountGroups"));
    organization.pinnedServiceNames =
        json::optionalStringArray(object, QStringLiteral("pinnedServiceNames"));
    organization.disabledServiceNames =
        json::optionalStringArray(object, QStringLiteral("disabledServiceNames"));
    organization.accountConsoleRegions =
        json::optionalStringMap(object, QStringLiteral("accountConsoleRegions"));
    organization.disabledConsoleRegionIds =
        json::optionalStringArray(object, QStringLiteral("disabledConsoleRegionIds"));
    return organization.normalized();
}

SSOToken decodeSSOToken(const QByteArray &bytes)
{
    const QJsonObject object = json::parseObject(bytes);
    return SSOToken{json::requireString(object, QStringLiteral("accessToken")),
                    json::optionalString(object, QStringLiteral("refreshToken")),
                    json::requireDate(object, QStringLiteral("expiresAt")),
                    json::requireString(object, QStringLiteral("region")),
                    json::requireString(object, QStringLiteral("startUrl"))};
}

ClientRegistration decodeClientRegistration(const QByteArray &bytes)
{
    const QJsonObject object = json::parseObject(bytes);
    return ClientRegistration{json::requireString(object, QStringLiteral("clientId")),
                              json::requireString(object, QStringLiteral("clientSecret")),
                              json::requireDate(object, QStringLiteral("expiresAt")),
                              json::requireString(object, QStringLiteral("region"))};
}

} // namespace tessera
