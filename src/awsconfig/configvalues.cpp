#include "awsconfig/configvalues.h"

#include "storage/settings.h"

#include <algorithm>

namespace tessera {

namespace {
bool isASCIIAlphanumeric(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

// The characters of a URI without its IP-literal brackets: an access portal is never
// reached by a bare IPv6 address, and a bracket is the one URI character an INI reader
// might take for part of a section header.
bool isURLCharacter(QChar c)
{
    static const QLatin1String punctuation("-._~:/?#@!$&'()*+,;=%");
    return isASCIIAlphanumeric(c) || punctuation.contains(c);
}

bool isRegionCharacter(QChar c)
{
    return isASCIIAlphanumeric(c) || c == QLatin1Char('-');
}
} // namespace

QString writtenAWSConfigValue(AWSConfigValueKind kind, const QString &value)
{
    if (kind == AWSConfigValueKind::startURL) {
        return normalizeStartURL(value);
    }
    return value.trimmed().toLower();
}

void validateAWSConfigValue(AWSConfigValueKind kind, const QString &value)
{
    const QString written = writtenAWSConfigValue(kind, value);
    const bool valid = kind == AWSConfigValueKind::startURL
                           ? std::all_of(written.cbegin(), written.cend(), isURLCharacter)
                           : std::all_of(written.cbegin(), written.cend(), isRegionCharacter);
    if (!valid) {
        throw AWSConfigManagerError::invalidValue(kind);
    }
}

} // namespace tessera
