#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/configlines.h"
#include "awsconfig/configtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <pwd.h>

namespace tessera {

namespace {
QString expandTilde(const QString &path)
{
    if (!path.startsWith(QLatin1Char('~'))) {
        return path;
    }
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    const QString rest = slash < 0 ? QString() : path.sliced(slash);
    if (user.isEmpty()) {
        return QDir::homePath() + rest;
    }
    const passwd *entry = ::getpwnam(user.toLocal8Bit().constData());
    if (!entry || !entry->pw_dir) {
        return path;
    }
    return QFile::decodeName(entry->pw_dir) + rest;
}

constexpr int maximumSymlinkHops = 40;

QString resolve(const QString &path, int hops)
{
    const QFileInfo info(path);
    if (info.exists()) {
        return info.canonicalFilePath();
    }
    if (info.isSymLink() && hops < maximumSymlinkHops) {
        // A dangling link: the file will be created where the link points.
        return resolve(info.symLinkTarget(), hops + 1);
    }
    const QString absolute = info.absoluteFilePath();
    const QString parent = QFileInfo(absolute).path();
    if (parent == absolute || hops >= maximumSymlinkHops) {
        return absolute;
    }
    return resolve(parent, hops + 1) + QLatin1Char('/') + info.fileName();
}

std::optional<QString> tokenOf(const QMap<QString, QString> &values, const char *key)
{
    const auto found = values.constFind(QLatin1String(key));
    if (found == values.constEnd()) {
        return std::nullopt;
    }
    return configtext::valueToken(*found);
}

// The first of the three keys present decides, even when its value does not parse.
template<typename FromARN>
std::optional<QString> pointedAt(const QMap<QString, QString> &values, const char *ssoKey,
                                 const char *grantedKey, FromARN fromARN)
{
    if (auto token = tokenOf(values, ssoKey)) {
        return token;
    }
    if (auto token = tokenOf(values, grantedKey)) {
        return token;
    }
    if (auto token = tokenOf(values, "role_arn")) {
        if (const auto arn = AWSConfigManager::parseRoleARN(*token)) {
            return fromARN(*arn);
        }
    }
    return std::nullopt;
}
} // namespace

QString AWSConfigManager::configFileURL(const AWSConfigManagementSettings &settings)
{
    if (!settings.customPath.trimmed().isEmpty()) {
        return expandTilde(settings.customPath);
    }
    const QString fromEnvironment = qEnvironmentVariable("AWS_CONFIG_FILE");
    if (!fromEnvironment.isEmpty()) {
        return expandTilde(fromEnvironment);
    }
    return expandTilde(QStringLiteral("~/.aws/config"));
}

QString AWSConfigManager::resolvingSymlinks(const QString &path)
{
    return resolve(path, 0);
}

QString AWSConfigManager::readConfig(const QString &path)
{
    // A dangling link counts as a missing file, as it does for the AWS CLI.
    const QFileInfo info(path);
    if (!info.exists()) {
        return QString();
    }
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) {
            return QString();
        }
        throw AWSConfigManagerError::unreadableConfig(path);
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw AWSConfigManagerError::unreadableConfig(path);
    }
    // Keep a byte-order mark as text, and refuse anything that would not encode back to
    // the same bytes: the text outside Tessera's block must be written back unchanged.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.toUtf8() != bytes) {
        throw AWSConfigManagerError::unreadableConfig(path);
    }
    return text;
}

QList<AWSConfigSection> AWSConfigManager::parseSections(const QString &text)
{
    using configlines::ConfigLine;
    QList<AWSConfigSection> sections;
    QStringList rawLines;
    QString lastKey;
    const auto finish = [&] {
        if (rawLines.isEmpty()) {
            return;
        }
        AWSConfigSection &section = sections.last();
        for (QString &value : section.values) {
            // A value continued over several lines ends where its last non-blank line does.
            while (!value.isEmpty() && configlines::isPythonSpace(value.back())) {
                value.chop(1);
            }
        }
        section.raw = configtext::trimLineBreaks(rawLines.join(QLatin1Char('\n')));
        rawLines.clear();
    };
    configlines::ConfigLineReader reader(text);
    while (const auto line = reader.next()) {
        if (line->type == ConfigLine::Type::header) {
            finish();
            const auto identity = configlines::identifySection(line->header);
            sections.append(AWSConfigSection{identity.kind, identity.name, {}, {}});
            lastKey.clear();
        }
        if (sections.isEmpty()) {
            continue;
        }
        rawLines.append(line->text.toString());
        QMap<QString, QString> &values = sections.last().values;
        switch (line->type) {
        case ConfigLine::Type::option:
            lastKey = line->key.toString().toLower();
            values.insert(lastKey, line->value.toString());
            break;
        case ConfigLine::Type::continuation:
        case ConfigLine::Type::blank:
            if (!lastKey.isEmpty()) {
                values[lastKey] += QLatin1Char('\n') + line->value.toString();
            }
            break;
        default:
            break;
        }
    }
    finish();
    return sections;
}

QString AWSConfigManager::valueToken(const QString &value)
{
    return configtext::valueToken(value);
}

std::optional<QString> AWSConfigManager::sectionAccountId(const QMap<QString, QString> &values)
{
    return pointedAt(values, "sso_account_id", "granted_sso_account_id",
                     [](const std::pair<QString, QString> &arn) { return arn.first; });
}

std::optional<QString> AWSConfigManager::sectionRoleName(const QMap<QString, QString> &values)
{
    return pointedAt(values, "sso_role_name", "granted_sso_role_name",
                     [](const std::pair<QString, QString> &arn) { return arn.second; });
}

std::optional<std::pair<QString, QString>> AWSConfigManager::parseRoleARN(const QString &text)
{
    QStringList pieces;
    qsizetype start = 0;
    while (pieces.size() < 5) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
        if (colon < 0) {
            break;
        }
        pieces.append(text.sliced(start, colon - start));
        start = colon + 1;
    }
    pieces.append(text.sliced(start));
    if (pieces.size() != 6 || pieces[0] != QLatin1String("arn") || pieces[1].isEmpty() ||
        pieces[2] != QLatin1String("iam") || !pieces[3].isEmpty() ||
        !configtext::isTwelveDigits(pieces[4]) || !pieces[5].startsWith(QLatin1String("role/"))) {
        return std::nullopt;
    }
    const QStringList path = pieces[5].sliced(5).split(QLatin1Char('/'));
    for (const QString &piece : path) {
        if (piece.isEmpty()) {
            return std::nullopt;
        }
    }
    return std::pair{pieces[4], path.last()};
}

} // namespace tessera
