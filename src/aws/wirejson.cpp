#include "aws/wirejson.h"

#include "foundation/error.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

namespace tessera::wire {

namespace {
[[noreturn]] void missing(const QString &key)
{
    throw DecodingError(QStringLiteral("No value associated with key “%1”.").arg(key));
}

[[noreturn]] void mistyped(const QString &key, const char *expected)
{
    throw DecodingError(
        QStringLiteral("Expected %1 for key “%2”.").arg(QLatin1String(expected), key));
}

std::optional<QJsonValue> present(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it->isNull()) {
        return std::nullopt;
    }
    return *it;
}

qint64 integerValue(const QJsonValue &value, const QString &key)
{
    if (!value.isDouble()) {
        mistyped(key, "an integer");
    }
    const double number = value.toDouble();
    // Only whole numbers a 64-bit integer can hold; 2^63 itself already overflows.
    if (std::trunc(number) != number || number < -9.2233720368547758e18 ||
        number >= 9.2233720368547758e18) {
        mistyped(key, "an integer");
    }
    return static_cast<qint64>(number);
}
} // namespace

QJsonObject parseObject(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        throw DecodingError(
            QStringLiteral("The given data was not valid JSON: %1.").arg(error.errorString()));
    }
    if (!document.isObject()) {
        throw DecodingError(QStringLiteral("Expected a JSON object."));
    }
    return document.object();
}

QString requiredString(const QJsonObject &object, const QString &key)
{
    if (auto value = optionalString(object, key)) {
        return *value;
    }
    missing(key);
}

std::optional<QString> optionalString(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->isString()) {
        mistyped(key, "a string");
    }
    return value->toString();
}

qint64 requiredInteger(const QJsonObject &object, const QString &key)
{
    if (auto value = optionalInteger(object, key)) {
        return *value;
    }
    missing(key);
}

std::optional<qint64> optionalInteger(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value) {
        return std::nullopt;
    }
    return integerValue(*value, key);
}

double requiredNumber(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value) {
        missing(key);
    }
    if (!value->isDouble()) {
        mistyped(key, "a number");
    }
    return value->toDouble();
}

QJsonArray requiredArray(const QJsonObject &object, const QString &key)
{
    const auto value = present(object, key);
    if (!value) {
        missing(key);
    }
    if (!value->isArray()) {
        mistyped(key, "an array");
    }
    return value->toArray();
}

QJsonObject arrayObject(const QJsonArray &array, qsizetype index, const QString &key)
{
    const QJsonValue element = array.at(index);
    if (!element.isObject()) {
        throw DecodingError(
            QStringLiteral("Expected an object at index %1 of “%2”.").arg(index).arg(key));
    }
    return element.toObject();
}

} // namespace tessera::wire
