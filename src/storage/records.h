#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace tessera {

struct AWSAccount
{
    QString accountId;
    QString accountName;
    QStringList roles;

    bool operator==(const AWSAccount &) const = default;
};

size_t qHash(const AWSAccount &account, size_t seed = 0);

struct AccountCache
{
    QList<AWSAccount> accounts;
    QDateTime lastSync;

    bool operator==(const AccountCache &) const = default;
};

struct Organization
{
    QStringList pinnedAccountIds;
    QStringList groupNames;
    QMap<QString, QString> accountGroups;
    QStringList pinnedServiceNames;
    QStringList disabledServiceNames;
    QMap<QString, QString> accountConsoleRegions;
    QStringList disabledConsoleRegionIds;

    bool operator==(const Organization &) const = default;

    // The clean-up applied to every organization read from disk: duplicates removed,
    // memberships of unknown groups dropped, unknown services and regions dropped, and
    // never every region switched off.
    Organization normalized() const;
};

struct SSOToken
{
    QString accessToken;
    std::optional<QString> refreshToken;
    QDateTime expiresAt;
    QString region;
    QString startUrl;

    bool operator==(const SSOToken &) const = default;
};

struct ClientRegistration
{
    QString clientId;
    QString clientSecret;
    QDateTime expiresAt;
    QString region;

    bool operator==(const ClientRegistration &) const = default;
};

// Order-preserving removal of duplicates: the first occurrence of each string stays.
QStringList uniqued(const QStringList &values);

} // namespace tessera
