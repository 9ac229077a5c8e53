#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace tessera::wire {

// Reading the services' JSON answers with the default rules of a strict decoder: a
// required key that is missing, null or of the wrong type is a DecodingError; an optional
// key may be absent or null; other keys are ignored.
QJsonObject parseObject(const QByteArray &body);
QString requiredString(const QJsonObject &object, const QString &key);
std::optional<QString> optionalString(const QJsonObject &object, const QString &key);
qint64 requiredInteger(const QJsonObject &object, const QString &key);
std::optional<qint64> optionalInteger(const QJsonObject &object, const QString &key);
double requiredNumber(const QJsonObject &object, const QString &key);
QJsonArray requiredArray(const QJsonObject &object, const QString &key);
QJsonObject arrayObject(const QJsonArray &array, qsizetype index, const QString &key);

} // namespace tessera::wire
