#include "awsconfig/awsconfigmanager.h"
#include "awsconfig/blockrendering.h"
#include "awsconfig/configtext.h"
#include "awsconfig/profilenaming.h"
#include "storage/settings.h"

#include <QCollator>
#include <QHash>
#include <QSet>
#include <algorithm>

namespace tessera {

namespace {
using ProfileKey = std::pair<QString, QString>;

ProfileKey keyOf(const AWSConfigSection &section)
{
    return {AWSConfigManager::sectionAccountId(section.values).value_or(QString()),
            AWSConfigManager::sectionRoleName(section.values).value_or(QString())};
}

// Indexes profiles so that each candidate is matched in constant time: a config with many
// thousands of hand-written profiles must not make planning quadratic.
class ProfileIndex
{
public:
    void add(const AWSConfigSection *section)
    {
        const auto key = keyOf(*section);
        if (!key.first.isEmpty() && !key.second.isEmpty() && !m_byTarget.contains(key)) {
            m_byTarget.insert(key, section);
        }
        const QString folded = section->name.toLower();
        if (!m_byName.contains(folded)) {
            m_byName.insert(folded, section);
        }
    }

    const AWSConfigSection *pointingAt(const QString &accountId, const QString &role) const
    {
        return m_byTarget.value({accountId, role}, nullptr);
    }

    const AWSConfigSection *named(const QString &name) const
    {
        return m_byName.value(name.toLower(), nullptr);
    }

private:
    QHash<ProfileKey, const AWSConfigSection *> m_byTarget;
    QHash<QString, const AWSConfigSection *> m_byName;
};

// The sections of one kind the AWS CLI uses: of several sections naming the same profile or
// sso-session, only the last counts.
QList<AWSConfigSection> effectiveSections(const QList<AWSConfigSection> &sections,
                                          AWSConfigSection::Kind kind)
{
    QHash<QString, qsizetype> last;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        if (sections[i].kind == kind) {
            last.insert(sections[i].name, i);
        }
    }
    QList<AWSConfigSection> result;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        if (sections[i].kind == kind && last.value(sections[i].name) == i) {
            result.append(sections[i]);
        }
    }
    return result;
}

QList<AWSAccount> inPlanningOrder(QList<AWSAccount> accounts)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(accounts.begin(), accounts.end(),
                     [&](const AWSAccount &a, const AWSAccount &b) {
                         return collator.compare(a.accountName, b.accountName) < 0;
                     });
    return accounts;
}

QStringList rolesInOrder(QStringList roles)
{
    // Unicode scalar order, which UTF-16 code-unit order is not above the surrogates.
    std::stable_sort(roles.begin(), roles.end(), [](const QString &a, const QString &b) {
        const auto left = a.toUcs4();
        const auto right = b.toUcs4();
        return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
    });
    return roles;
}

// Account ids and role names come from the access portal and are written as values; one
// with a line break would add lines of its own to the file, even a stray ownership marker.
bool isSingleLineValue(const QString &value)
{
    return std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return configtext::isLineBreak(c.unicode()); });
}

AWSConfigProfileStatus statusFor(const QString &name, const QString &accountId, const QString &role,
                                 const QSet<QString> &usedNames, const AWSConfigSection *byName,
                                 bool byNameIsUserOwned, bool hasManagedMatch)
{
    if (usedNames.contains(name.toLower()) || !isSingleLineValue(accountId) ||
        !isSingleLineValue(role)) {
        return AWSConfigProfileStatus::conflict;
    }
    if (byName && (AWSConfigManager::sectionAccountId(byName->values) != accountId ||
                   AWSConfigManager::sectionRoleName(byName->values) != role)) {
        return AWSConfigProfileStatus::conflict;
    }
    // The user's own profile is left as it is, so its name only has to be one the AWS CLI
    // reads, not one Tessera could write.
    if (byName && byNameIsUserOwned) {
        return AWSConfigProfileStatus::existing;
    }
    if (!isValidProfileName(name)) {
        return AWSConfigProfileStatus::conflict;
    }
    return byName || hasManagedMatch ? AWSConfigProfileStatus::update
                                     : AWSConfigProfileStatus::create;
}

bool referencesSession(const QString &sectionText, const QString &sessionName)
{
    for (const QString &line : configtext::splitAtEveryLineBreak(sectionText)) {
        const QString trimmed = line.trimmed();
        const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
        if (equals < 0 ||
            trimmed.first(equals).trimmed().toLower() != QLatin1String("sso_session")) {
            continue;
        }
        const QString token = configtext::valueToken(trimmed.sliced(equals + 1).trimmed());
        if (token.compare(sessionName, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// A kept section is copied as parsed; a line that would read as an ownership marker once
// written (possible only through unusual line breaks) must not break the block.
QString withoutMarkerLines(const QString &raw)
{
    QStringList kept;
    for (const QString &line : raw.split(QLatin1Char('\n'))) {
        const QString content = configtext::trimBlanks(line);
        if (content != QLatin1String(managedBlockStartMarker) &&
            content != QLatin1String(managedBlockEndMarker)) {
            kept.append(line);
        }
    }
    return kept.join(QLatin1Char('\n'));
}
} // namespace

QList<AWSConfigProfileCandidate> AWSConfigPlan::conflicts() const
{
    QList<AWSConfigProfileCandidate> result;
    for (const AWSConfigProfileCandidate &candidate : candidates) {
        if (candidate.status == AWSConfigProfileStatus::conflict) {
            result.append(candidate);
        }
    }
    return result;
}

AWSConfigPlan AWSConfigManager::plan(const QList<AWSAccount> &accounts, const QString &startURL,
                                     const QString &ssoRegion,
                                     const AWSConfigManagementSettings &settings,
                                     const QMap<QString, QString> &mappings, bool keepOrphans,
                                     const QDateTime &now)
{
    AWSConfigPlan result;
    result.targetURL = resolvingSymlinks(configFileURL(settings));
    result.originalContents = readConfig(result.targetURL);
    result.mappings = mappings;
    const AWSConfigDocument document(result.originalContents);

    const QList<AWSConfigSection> unmanagedSections = parseSections(document.unmanaged());
    const QList<AWSConfigSection> userProfiles =
        effectiveSections(unmanagedSections, AWSConfigSection::Kind::profile);
    const QList<AWSConfigSection> userSessions =
        effectiveSections(unmanagedSections, AWSConfigSection::Kind::ssoSession);
    const QList<AWSConfigSection> managedProfiles = effectiveSections(
        parseSections(document.managedBody().value_or(QString())), AWSConfigSection::Kind::profile);

    ProfileIndex userIndex;
    ProfileIndex managedIndex;
    ProfileIndex allIndex;
    for (const AWSConfigSection &section : userProfiles) {
        userIndex.add(&section);
        allIndex.add(&section);
    }
    for (const AWSConfigSection &section : managedProfiles) {
        managedIndex.add(&section);
        allIndex.add(&section);
    }

    const QString normalizedURL = normalizeStartURL(startURL);
    const QString nameTemplate = settings.namingTemplate.isEmpty()
                                     ? QString::fromLatin1(defaultNamingTemplate)
                                     : settings.namingTemplate;
    QSet<QString> usedNames;
    for (const AWSAccount &account : inPlanningOrder(accounts)) {
        for (const QString &role : rolesInOrder(account.roles)) {
            const QString &accountId = account.accountId;
            const QString id =
                normalizedURL + QLatin1Char('|') + accountId + QLatin1Char('|') + role;
            const AWSConfigSection *userMatch = userIndex.pointingAt(accountId, role);
            const QString base =
                renderTemplate(nameTemplate, accountId, account.accountName, role, settings.mode);
            const QString legacyBase =
                renderTemplate(QString::fromLatin1(legacyNamingTemplate), accountId,
                               account.accountName, role, settings.mode);

            QString name;
            const auto stored = mappings.constFind(id);
            if (stored != mappings.constEnd() && !isDerivedName(*stored, base) &&
                !isDerivedName(*stored, legacyBase)) {
                name = *stored;
            } else if (userMatch) {
                name = userMatch->name;
            } else {
                name = applySeparatorAndCase(base, settings.nameSeparator, settings.nameCase);
            }
            result.mappings.insert(id, name);

            const AWSConfigSection *byName = allIndex.named(name);
            const bool byNameIsUserOwned = byName && byName == userIndex.named(name);
            const auto status =
                statusFor(name, accountId, role, usedNames, byName, byNameIsUserOwned,
                          managedIndex.pointingAt(accountId, role) != nullptr);
            usedNames.insert(name.toLower());
            result.candidates.append(
                AWSConfigProfileCandidate{id, accountId, role, settings.mode, name, status});
        }
    }

    QSet<ProfileKey> candidateKeys;
    for (const AWSConfigProfileCandidate &candidate : result.candidates) {
        candidateKeys.insert({candidate.accountId, candidate.role});
    }
    QStringList orphanSections;
    for (const AWSConfigSection &section : managedProfiles) {
        if (!usedNames.contains(section.name.toLower()) &&
            !candidateKeys.contains(keyOf(section))) {
            result.orphanedProfileNames.append(section.name);
            orphanSections.append(withoutMarkerLines(section.raw));
        }
    }

    const QString generatedSessionName = ssoSessionName(startURL);
    const AWSConfigSection *userSession = nullptr;
    for (const AWSConfigSection &section : userSessions) {
        if (section.name.compare(generatedSessionName, Qt::CaseInsensitive) == 0) {
            userSession = &section;
            break;
        }
    }
    // Session references are case-sensitive for the AWS CLI: when the user owns the
    // session under another capitalisation, the profiles must name it as the user wrote it.
    const QString sessionName = userSession ? userSession->name : generatedSessionName;
    if (userSession && settings.mode == AWSConfigManagementMode::native) {
        const bool sameURL =
            normalizeStartURL(userSession->values.value(QStringLiteral("sso_start_url"))) ==
            normalizedURL;
        const auto region = userSession->values.constFind(QStringLiteral("sso_region"));
        const bool sameRegion =
            region != userSession->values.constEnd() && region->toLower() == ssoRegion.toLower();
        if (!sameURL || !sameRegion) {
            result.globalConflicts.append(QStringLiteral("The sso-session name “") + sessionName +
                                          QStringLiteral("” is already user-owned."));
        }
    }

    QStringList sections;
    for (const AWSConfigProfileCandidate &candidate : result.candidates) {
        if (candidate.status == AWSConfigProfileStatus::create ||
            candidate.status == AWSConfigProfileStatus::update) {
            sections.append(renderProfileSection(candidate.name, candidate.accountId,
                                                 candidate.role, settings.mode, sessionName,
                                                 startURL, ssoRegion, settings.cliRegion));
        }
    }
    if (keepOrphans) {
        sections.append(orphanSections);
    }
    if (!userSession && std::any_of(sections.cbegin(), sections.cend(), [&](const QString &text) {
            return referencesSession(text, sessionName);
        })) {
        sections.prepend(renderSessionSection(sessionName, startURL, ssoRegion));
    }

    const QString newline = document.newline();
    const QString body = sections.join(QStringLiteral("\n\n")).replace(QLatin1Char('\n'), newline);
    result.proposedContents =
        document.renderedContents(renderBlockBody(body, document.managedBody(), newline, now));
    return result;
}

} // namespace tessera
