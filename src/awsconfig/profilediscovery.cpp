#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/configlines.h"
#include "awsconfig/configtext.h"

#include <QDir>
#include <QHash>

namespace tessera {

namespace {
class DiscoveryScan
{
public:
    DiscoveryScan(const QString &accountId, const std::optional<QString> &roleName)
        : m_accountId(accountId)
        , m_roleName(roleName)
    {}

    void header(QStringView header)
    {
        close();
        // A profile the AWS CLI knows by an empty name cannot be chosen by name.
        // An empty name therefore also stands for "not in a profile".
        auto identity = configlines::identifySection(header);
        m_profile =
            identity.kind == AWSConfigSection::Kind::profile ? std::move(identity.name) : QString();
        m_matched = inProfile() && configtext::containsNumberRun(m_profile, m_accountId);
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

    bool inProfile() const { return !m_profile.isEmpty(); }

    // A later section of the same name replaces an earlier one, as it does for the AWS CLI.
    void close()
    {
        if (!inProfile()) {
            return;
        }
        const bool hit = m_matched && (!m_roleName || m_role == m_roleName);
        if (!m_hits.contains(m_profile)) {
            m_order.append(m_profile);
        }
        m_hits.insert(m_profile, hit);
    }

    QStringList names() const
    {
        QStringList result;
        for (const QString &name : m_order) {
            if (m_hits.value(name)) {
                result.append(name);
            }
        }
        return result;
    }

private:
    QString m_accountId;
    std::optional<QString> m_roleName;
    QString m_profile;
    bool m_matched = false;
    std::optional<QString> m_role;
    QStringList m_order;
    QHash<QString, bool> m_hits;
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
    configlines::ConfigLineReader reader(text);
    while (const auto line = reader.next()) {
        if (line->type == configlines::ConfigLine::Type::header) {
            scan.header(line->header);
        } else if (line->type == configlines::ConfigLine::Type::option && scan.inProfile()) {
            scan.keyValue(line->key.toString().toLower(), line->value.toString());
        }
    }
    scan.close();
    return scan.names();
}

} // namespace tessera
