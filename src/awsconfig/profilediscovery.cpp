#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/configtext.h"

#include <QDir>
#include <QSet>

namespace tessera {

namespace {
// Lines split at any line break, a "\r\n" pair counting once, empty lines dropped.
QStringList nonEmptyLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !configtext::isLineBreak(text.at(i).unicode())) {
            continue;
        }
        if (i > start) {
            lines.append(text.sliced(start, i - start));
        }
        if (i + 1 < text.size() && text.at(i) == QLatin1Char('\r') &&
            text.at(i + 1) == QLatin1Char('\n')) {
            ++i;
        }
        start = i + 1;
    }
    return lines;
}

std::optional<QString> headerProfileName(const QString &inner)
{
    if (inner.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0) {
        return QStringLiteral("default");
    }
    qsizetype split = 0;
    while (split < inner.size() && !inner.at(split).isSpace()) {
        ++split;
    }
    if (split == 0 || split >= inner.size() ||
        inner.first(split).compare(QLatin1String("profile"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    QString name = inner.sliced(split + 1).trimmed();
    if (name.size() > 1 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"'))) {
        name = name.sliced(1, name.size() - 2);
    }
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

class DiscoveryScan
{
public:
    DiscoveryScan(const QString &accountId, const std::optional<QString> &roleName)
        : m_accountId(accountId)
        , m_roleName(roleName)
    {}

    void header(const QString &inner)
    {
        close();
        m_profile = headerProfileName(inner);
        m_matched = m_profile && configtext::containsNumberRun(*m_profile, m_accountId);
        m_role.reset();
    }

    void keyValue(const QString &key, const QString &value)
    {
        const QString token = configtext::valueToken(value);
        if (key == QLatin1String("sso_account_id") ||
            key == QLatin1String("granted_sso_account_id")) {
            m_matched = m_matched || token == m_accountId;
        } else if (key == QLatin1String("sso_role_name") ||
                   key == QLatin1String("granted_sso_role_name")) {
            m_role = token;
        } else if (key == QLatin1String("role_arn")) {
            const auto arn = AWSConfigManager::parseRoleARN(token);
            m_role = arn ? std::optional<QString>(arn->second) : std::nullopt;
            m_matched = m_matched || (arn && arn->first == m_accountId);
        } else if (key == QLatin1String("credential_process")) {
            m_matched = m_matched || configtext::containsNumberRun(value, m_accountId);
        }
    }

    bool inProfile() const { return m_profile.has_value(); }

    void close()
    {
        if (!m_profile || !m_matched) {
            return;
        }
        if (m_roleName && m_role != m_roleName) {
            return;
        }
        if (!m_seen.contains(*m_profile)) {
            m_seen.insert(*m_profile);
            m_names.append(*m_profile);
        }
    }

    QStringList names() const { return m_names; }

private:
    QString m_accountId;
    std::optional<QString> m_roleName;
    std::optional<QString> m_profile;
    bool m_matched = false;
    std::optional<QString> m_role;
    QStringList m_names;
    QSet<QString> m_seen;
};
} // namespace

QStringList AWSConfigManager::awsProfileNames(const QString &accountId,
                                              const std::optional<QString> &roleName,
                                              const std::optional<QString> &path)
{
    // Quick Search looks only at the default location, whatever the profile settings say.
    const QString location = path ? *path : QDir::homePath() + QStringLiteral("/.aws/config");
    const QString text = readConfig(location);
    if (!configtext::isTwelveDigits(accountId)) {
        return {};
    }
    DiscoveryScan scan(accountId, roleName);
    for (const QString &rawLine : nonEmptyLines(text)) {
        const QString line = rawLine.trimmed();
        if (line.size() >= 2 && line.startsWith(QLatin1Char('[')) &&
            line.endsWith(QLatin1Char(']'))) {
            scan.header(line.sliced(1, line.size() - 2).trimmed());
            continue;
        }
        if (!scan.inProfile() || line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';'))) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            scan.keyValue(line.first(equals).trimmed().toLower(),
                          line.sliced(equals + 1).trimmed());
        }
    }
    scan.close();
    return scan.names();
}

} // namespace tessera
