#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tessera::standin {

// One AWS account the signed-in user is assigned to, with the roles they may assume.
struct StandInAccount
{
    QString accountId; // twelve digits
    QString accountName;
    QString emailAddress;
    QStringList roleNames;

    bool operator==(const StandInAccount &) const = default;
};

// A realistic organization: a landing zone's core accounts first ("Management",
// "Log Archive", "Audit", ...), then workload accounts named team-environment
// ("payments-prod"), each with `rolesPerAccount` permission sets from the common
// AWS-managed ones ("AdministratorAccess", "ReadOnlyAccess", ...). The same seed always
// gives the same organization; account ids are unique, names are unique.
QList<StandInAccount> generateAccounts(int accountCount, int rolesPerAccount, quint32 seed = 1);

// Reads an organization from JSON, either {"accounts": [...]} or a bare array, each
// entry {"accountId": "...", "accountName": "...", "emailAddress": "..." (optional),
// "roles": ["...", ...]}. Order is kept. Returns nothing and sets `error` when the
// document does not have that shape.
std::optional<QList<StandInAccount>> parseAccounts(const QByteArray &json, QString *error);
std::optional<QList<StandInAccount>> loadAccounts(const QString &path, QString *error);

// The inverse of parseAccounts, so a generated organization can be saved and edited.
QByteArray accountsToJson(const QList<StandInAccount> &accounts);

} // namespace tessera::standin
