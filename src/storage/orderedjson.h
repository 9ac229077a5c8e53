#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace tessera {

// Compact JSON with keys in the order they were inserted. QJsonObject sorts its keys;
// our files promise the order of the record tables, so objects are written by hand.
class OrderedJsonObject
{
public:
    OrderedJsonObject &insert(const QString &key, const QJsonValue &value);
    OrderedJsonObject &insertRaw(const QString &key, const QByteArray &json);
    QByteArray toJson() const;

private:
    QList<QPair<QString, QByteArray>> m_members;
};

QByteArray compactJson(const QJsonValue &value);
QByteArray compactJsonArray(const QList<QByteArray> &rawElements);

} // namespace tessera
