#include "standindirectory.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>

namespace tessera::standin {

namespace {

const QStringList coreAccounts = {
    QStringLiteral("Management"), QStringLiteral("Log Archive"),
    QStringLiteral("Audit"),      QStringLiteral("Security Tooling"),
    QStringLiteral("Network"),    QStringLiteral("Shared Services"),
    QStringLiteral("Backup"),     QStringLiteral("Identity"),
};

const QStringList teams = {
    QStringLiteral("payments"),  QStringLiteral("checkout"),    QStringLiteral("search"),
    QStringLiteral("analytics"), QStringLiteral("identity"),    QStringLiteral("platform"),
    QStringLiteral("mobile"),    QStringLiteral("web"),         QStringLiteral("data-lake"),
    QStringLiteral("ml"),        QStringLiteral("billing"),     QStringLiteral("catalog"),
    QStringLiteral("inventory"), QStringLiteral("shipping"),    QStringLiteral("support"),
    QStringLiteral("marketing"), QStringLiteral("risk"),        QStringLiteral("ledger"),
    QStringLiteral("messaging"), QStringLiteral("media"),       QStringLiteral("observability"),
    QStringLiteral("edge"),      QStringLiteral("partner-api"), QStringLiteral("reporting"),
};

const QStringList environments = {
    QStringLiteral("prod"),    QStringLiteral("staging"), QStringLiteral("dev"),
    QStringLiteral("sandbox"), QStringLiteral("qa"),
};

// The AWS-managed permission sets most organizations hand out, most common first.
const QStringList permissionSets = {
    QStringLiteral("AdministratorAccess"),
    QStringLiteral("ReadOnlyAccess"),
    QStringLiteral("PowerUserAccess"),
    QStringLiteral("ViewOnlyAccess"),
    QStringLiteral("Billing"),
    QStringLiteral("SecurityAudit"),
    QStringLiteral("DatabaseAdministrator"),
    QStringLiteral("NetworkAdministrator"),
    QStringLiteral("SystemAdministrator"),
    QStringLiteral("DataScientist"),
    QStringLiteral("SupportUser"),
    QStringLiteral("DeveloperAccess"),
};

QString workloadName(int index)
{
    const int combinations = int(teams.size() * environments.size());
    const int combination = index % combinations;
    QString name = teams[combination / environments.size()] + QLatin1Char('-') +
                   environments[combination % environments.size()];
    if (index >= combinations) {
        name += QLatin1Char('-') + QString::number(index / combinations + 1);
    }
    return name;
}

QString emailFor(const QString &accountName)
{
    QString local = accountName.toLower();
    local.replace(QLatin1Char(' '), QLatin1Char('-'));
    return QStringLiteral("aws+") + local + QStringLiteral("@example.com");
}

} // namespace

QList<StandInAccount> generateAccounts(int accountCount, int rolesPerAccount, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<StandInAccount> accounts;
    QSet<QString> usedIds;
    accounts.reserve(std::max(accountCount, 0));
    for (int index = 0; index < accountCount; ++index) {
        StandInAccount account;
        do {
            account.accountId =
                QString::number(100000000000ULL + random.bounded(quint64(900000000000ULL)));
        } while (usedIds.contains(account.accountId));
        usedIds.insert(account.accountId);
        account.accountName = index < coreAccounts.size()
                                  ? coreAccounts[index]
                                  : workloadName(int(index - coreAccounts.size()));
        account.emailAddress = emailFor(account.accountName);
        for (int role = 0; role < rolesPerAccount; ++role) {
            account.roleNames.append(role < permissionSets.size()
                                         ? permissionSets[role]
                                         : QStringLiteral("CustomRole%1").arg(role + 1));
        }
        accounts.append(account);
    }
    return accounts;
}

std::optional<QList<StandInAccount>> parseAccounts(const QByteArray &json, QString *error)
{
    auto fail = [error](const QString &message) -> std::optional<QList<StandInAccount>> {
        if (error) {
            *error = message;
        }
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        return fail(parseError.errorString());
    }
    const QJsonArray entries =
        document.isArray() ? document.array() : document.object().value(u"accounts").toArray();
    if (!document.isArray() && !document.object().value(u"accounts").isArray()) {
        return fail(QStringLiteral("expected an array of accounts or {\"accounts\": [...]}"));
    }
    QList<StandInAccount> accounts;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries[i].toObject();
        StandInAccount account;
        account.accountId = entry.value(u"accountId").toString();
        account.accountName = entry.value(u"accountName").toString();
        account.emailAddress = entry.value(u"emailAddress").toString();
        if (account.accountId.isEmpty() || !entry.value(u"accountName").isString()) {
            return fail(
                QStringLiteral("account %1 needs \"accountId\" and \"accountName\"").arg(i));
        }
        if (account.emailAddress.isEmpty()) {
            account.emailAddress = emailFor(account.accountName);
        }
        for (const QJsonValue &role : entry.value(u"roles").toArray()) {
            if (!role.isString()) {
                return fail(QStringLiteral("account %1 has a role that is not a string").arg(i));
            }
            account.roleNames.append(role.toString());
        }
        accounts.append(account);
    }
    return accounts;
}

std::optional<QList<StandInAccount>> loadAccounts(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = file.errorString();
        }
        return std::nullopt;
    }
    return parseAccounts(file.readAll(), error);
}

QByteArray accountsToJson(const QList<StandInAccount> &accounts)
{
    QJsonArray entries;
    for (const StandInAccount &account : accounts) {
        entries.append(QJsonObject{
            {QStringLiteral("accountId"), account.accountId},
            {QStringLiteral("accountName"), account.accountName},
            {QStringLiteral("emailAddress"), account.emailAddress},
            {QStringLiteral("roles"), QJsonArray::fromStringList(account.roleNames)},
        });
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("accounts"), entries}}).toJson();
}

} // namespace tessera::standin
