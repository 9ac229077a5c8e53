#pragma once

#include "storage/records.h"

#include <QByteArray>
#include <QJsonObject>

namespace tessera {

// JSON encodings of the records: compact, keys in table order, dates as seconds since
// 2001. Decoders ignore unknown keys and throw DecodingError on a missing required key
// or a value of the wrong type.
QByteArray encodeAWSAccount(const AWSAccount &account);
QByteArray encodeAccountCache(const AccountCache &cache);
QByteArray encodeOrganization(const Organization &organization);
QByteArray encodeSSOToken(const SSOToken &token);
QByteArray encodeClientRegistration(const ClientRegistration &registration);

AWSAccount decodeAWSAccount(const QJsonObject &object);
AccountCache decodeAccountCache(const QByteArray &json);
// Decodes and normalises (Organization::normalized).
Organization decodeOrganization(const QByteArray &json);
SSOToken decodeSSOToken(const QByteArray &json);
ClientRegistration decodeClientRegistration(const QByteArray &json);

// Generic entry points, used by the secure store.
template<typename T> T decodeRecord(const QByteArray &json);
template<> inline SSOToken decodeRecord<SSOToken>(const QByteArray &json)
{
    return decodeSSOToken(json);
}
template<> inline ClientRegistration decodeRecord<ClientRegistration>(const QByteArray &json)
{
    return decodeClientRegistration(json);
}
inline QByteArray encodeRecord(const SSOToken &token)
{
    return encodeSSOToken(token);
}
inline QByteArray encodeRecord(const ClientRegistration &registration)
{
    return encodeClientRegistration(registration);
}

// Helpers for other decoders with the same strictness.
namespace json {
QJsonObject parseObject(const QByteArray &json);
QString requireString(const QJsonObject &object, const QString &key);
std::optional<QString> optionalString(const QJsonObject &object, const QString &key);
double requireNumber(const QJsonObject &object, const QString &key);
// A number of seconds since 2001-01-01 UTC.
QDateTime requireDate(const QJsonObject &object, const QString &key);
QStringList requireStringArray(const QJsonObject &object, const QString &key);
QStringList optionalStringArray(const QJsonObject &object, const QString &key);
QMap<QString, QString> optionalStringMap(const QJsonObject &object, const QString &key);
} // namespace json

} // namespace tessera
