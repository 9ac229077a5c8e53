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
    // The stored names are a convenience: without them every profile takes the name its
    // template gives, so a file that cannot be used is logged and left out.
    std::optional<QByteArray> bytes;
    try {
        bytes = readFileIfPresent(mappingsFileURL());
    } catch (const Error &error) {
        qCWarning(lcAWSConfig).noquote()
            << "Could not read the profile names:" << error.description();
        return {};
    }
    if (!bytes) {
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (!document.isObject()) {
        qCWarning(lcAWSConfig) << "Ignored the profile names: the file is not a JSON object";
        return {};
    }
    QMap<QString, QString> mappings;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it->isString()) {
            qCWarning(lcAWSConfig) << "Ignored the profile names: a name is not a string";
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
