#include "storage/orderedjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tessera {

QByteArray compactJson(const QJsonValue &value)
{
    if (value.isObject()) {
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    }
    if (value.isArray()) {
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    }
    // Scalars: serialise inside an array and take the element back out.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray compactJsonArray(const QList<QByteArray> &rawElements)
{
    QByteArray out("[");
    for (qsizetype i = 0; i < rawElements.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += rawElements[i];
    }
    out += ']';
    return out;
}

OrderedJsonObject &OrderedJsonObject::insert(const QString &key, const QJsonValue &value)
{
    return insertRaw(key, compactJson(value));
}

OrderedJsonObject &OrderedJsonObject::insertRaw(const QString &key, const QByteArray &json)
{
    m_members.append({key, json});
    return *this;
}

QByteArray OrderedJsonObject::toJson() const
{
    QByteArray out("{");
    for (qsizetype i = 0; i < m_members.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += compactJson(QJsonValue(m_members[i].first));
        out += ':';
        out += m_members[i].second;
    }
    out += '}';
    return out;
}

} // namespace tessera
