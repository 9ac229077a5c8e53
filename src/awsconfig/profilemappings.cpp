#include "awsconfig/awsconfigmanager.h"
#include "foundation/logging.h"
#include "storage/supportfiles.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tessera {

namespace {
constexpr auto mappingsFileName = "aws-profile-mappings.json";
}

QString AWSConfigManager::mappingsFileURL()
{
    return namedSupportFileURL(QLatin1String(mappingsFileName));
}

QMap<QString, QString> AWSConfigManager::loadMappings()
{
    std::optional<QByteArray> bytes;
    try {
        bytes = readFileIfPresent(mappingsFileURL());
    } catch (const Error &) {
        return {};
    }
    if (!bytes) {
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (!document.isObject()) {
        return {};
    }
    QMap<QString, QString> mappings;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it->isString()) {
            return {};
        }
        mappings.insert(it.key(), it->toString());
    }
    return mappings;
}

void AWSConfigManager::saveMappings(const QMap<QString, QString> &mappings)
{
    QJsonObject object;
    for (auto it = mappings.begin(); it != mappings.end(); ++it) {
        object.insert(it.key(), *it);
    }
    try {
        writeFileAtomically(mappingsFileURL(),
                            QJsonDocument(object).toJson(QJsonDocument::Compact));
    } catch (const Error &error) {
        // The stored names are a convenience; the config itself was already written.
        qCWarning(lcAWSConfig) << "Could not save the profile names:" << error.description();
    }
}

} // namespace tessera
