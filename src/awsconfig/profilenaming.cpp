#include "awsconfig/profilenaming.h"

#include "awsconfig/configtext.h"
#include "storage/settings.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace tessera {

namespace {
const QRegularExpression &tokenPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "\\{(accountName|accountId|role|provider)(?:\\|(lower|upper|proper|slug|snake|camel|"
        "pascal))?\\}"));
    return pattern;
}

NameTransform transformNamed(QStringView name)
{
    static const QStringList names{QStringLiteral("lower"),  QStringLiteral("upper"),
                                   QStringLiteral("proper"), QStringLiteral("slug"),
                                   QStringLiteral("snake"),  QStringLiteral("camel"),
                                   QStringLiteral("pascal")};
    return static_cast<NameTransform>(names.indexOf(name));
}

QStringList words(const QString &text)
{
    QStringList result;
    QString current;
    for (const char32_t scalar : text.toUcs4()) {
        if (configtext::isAlphanumeric(scalar)) {
            current.append(QString::fromUcs4(&scalar, 1));
        } else if (!current.isEmpty()) {
            result.append(current);
            current.clear();
        }
    }
    if (!current.isEmpty()) {
        result.append(current);
    }
    return result;
}

// First scalar upper-cased, the rest lower-cased.
QString titleCased(const QString &word)
{
    if (word.isEmpty()) {
        return word;
    }
    const qsizetype firstLength = word.at(0).isHighSurrogate() && word.size() > 1 ? 2 : 1;
    return word.first(firstLength).toUpper() + word.sliced(firstLength).toLower();
}

QString properCased(const QString &text)
{
    QString result;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text.at(i).isSpace()) {
            continue;
        }
        result += titleCased(text.sliced(start, i - start));
        if (i < text.size()) {
            result += text.at(i);
        }
        start = i + 1;
    }
    return result;
}

QString lowerJoined(const QStringList &parts, QChar separator)
{
    QStringList lowered;
    for (const QString &part : parts) {
        lowered.append(part.toLower());
    }
    return lowered.join(separator);
}

QString replaceSeparators(const QString &text, QChar separator)
{
    QString result;
    bool inRun = false;
    for (const char32_t scalar : text.toUcs4()) {
        if (configtext::isAlphanumeric(scalar)) {
            result.append(QString::fromUcs4(&scalar, 1));
            inRun = false;
        } else if (!inRun) {
            result.append(separator);
            inRun = true;
        }
    }
    return configtext::trimCharacters(result, QStringView(&separator, 1));
}
} // namespace

QString applyTransform(const QString &text, NameTransform transform)
{
    switch (transform) {
    case NameTransform::lower:
        return text.toLower();
    case NameTransform::upper:
        return text.toUpper();
    case NameTransform::proper:
        return properCased(text);
    case NameTransform::slug:
        return lowerJoined(words(text), QLatin1Char('-'));
    case NameTransform::snake:
        return lowerJoined(words(text), QLatin1Char('_'));
    case NameTransform::camel:
    case NameTransform::pascal: {
        const QStringList parts = words(text);
        QString result;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const bool lowerFirst = transform == NameTransform::camel && i == 0;
            result += lowerFirst ? parts[i].toLower() : titleCased(parts[i]);
        }
        return result;
    }
    }
    return text;
}

QString renderTemplate(const QString &nameTemplate, const QString &accountId,
                       const QString &accountName, const QString &role,
                       AWSConfigManagementMode mode)
{
    QString result;
    qsizetype copied = 0;
    auto matches = tokenPattern().globalMatch(nameTemplate);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += QStringView(nameTemplate).sliced(copied, match.capturedStart() - copied);
        const QStringView token = match.capturedView(1);
        QString value;
        if (token == QLatin1String("accountName")) {
            value = accountName;
        } else if (token == QLatin1String("accountId")) {
            value = accountId;
        } else if (token == QLatin1String("role")) {
            value = role;
        } else {
            value = rawValue(mode);
        }
        if (match.hasCaptured(2)) {
            value = applyTransform(value, transformNamed(match.capturedView(2)));
        }
        result += value;
        copied = match.capturedEnd();
    }
    result += QStringView(nameTemplate).sliced(copied);

    result = result.trimmed();
    while (result.contains(QLatin1String("--"))) {
        result.replace(QLatin1String("--"), QLatin1String("-"));
    }
    return configtext::trimCharacters(result, u"-._/ ");
}

QString applySeparatorAndCase(const QString &text, AWSProfileNameSeparator separator,
                              AWSProfileNameCase nameCase)
{
    QString result = text;
    if (separator == AWSProfileNameSeparator::hyphens) {
        result = replaceSeparators(text, QLatin1Char('-'));
    } else if (separator == AWSProfileNameSeparator::underscores) {
        result = replaceSeparators(text, QLatin1Char('_'));
    }
    if (nameCase == AWSProfileNameCase::lowercase) {
        return result.toLower();
    }
    if (nameCase == AWSProfileNameCase::uppercase) {
        return result.toUpper();
    }
    return result;
}

QString profileName(const QString &nameTemplate, const QString &accountId,
                    const QString &accountName, const QString &role, AWSConfigManagementMode mode,
                    AWSProfileNameSeparator separator, AWSProfileNameCase nameCase)
{
    return applySeparatorAndCase(renderTemplate(nameTemplate, accountId, accountName, role, mode),
                                 separator, nameCase);
}

bool isDerivedName(const QString &stored, const QString &base)
{
    for (const auto separator :
         {AWSProfileNameSeparator::preserve, AWSProfileNameSeparator::hyphens,
          AWSProfileNameSeparator::underscores}) {
        for (const auto nameCase : {AWSProfileNameCase::preserve, AWSProfileNameCase::lowercase,
                                    AWSProfileNameCase::uppercase}) {
            if (applySeparatorAndCase(base, separator, nameCase) == stored) {
                return true;
            }
        }
    }
    return false;
}

bool isValidProfileName(const QString &name)
{
    if (name.isEmpty() || name.trimmed() != name) {
        return false;
    }
    for (const QChar c : name) {
        // The AWS CLI splits the header like a shell: a single quote opens a quoted string
        // that swallows the profile and a backslash escapes the next character, so such
        // names would be read back under another name or not at all.
        if (c == QLatin1Char('[') || c == QLatin1Char(']') || c == QLatin1Char('"') ||
            c == QLatin1Char('\'') || c == QLatin1Char('\\') ||
            configtext::isLineBreak(c.unicode())) {
            return false;
        }
    }
    return true;
}

QString ssoSessionName(const QString &startURL)
{
    const QUrl url(normalizeStartURL(startURL), QUrl::StrictMode);
    QString host = url.isValid() ? url.host() : QString();
    if (host.isEmpty()) {
        host = QStringLiteral("identity-center");
    }
    return QStringLiteral("tessera-") + renderTemplate(QStringLiteral("{accountName|slug}"),
                                                       QStringLiteral("000000000000"), host,
                                                       QString(), AWSConfigManagementMode::native);
}

} // namespace tessera
