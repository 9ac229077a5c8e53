#pragma once

#include <QMap>
#include <QString>

namespace tessera {

// One INI section of the AWS config as the AWS CLI understands it.
struct AWSConfigSection
{
    enum class Kind
    {
        profile,
        ssoSession,
        other
    };

    Kind kind = Kind::other;
    QString name;
    // Keys lower-cased; values trimmed but with any inline comment still attached.
    QMap<QString, QString> values;
    QString raw;

    bool operator==(const AWSConfigSection &) const = default;
};

} // namespace tessera
