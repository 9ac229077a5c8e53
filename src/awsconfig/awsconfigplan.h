#pragma once

#include "awsconfig/awsconfigtypes.h"

#include <QList>
#include <QMap>
#include <QString>

namespace tessera {

enum class AWSConfigProfileStatus
{
    create,
    update,
    existing,
    conflict
};

// One generated profile: an account and role with the name chosen for it and what applying
// would do with it.
struct AWSConfigProfileCandidate
{
    QString id;
    QString accountId;
    QString role;
    AWSConfigManagementMode provider = AWSConfigManagementMode::off;
    QString name;
    AWSConfigProfileStatus status = AWSConfigProfileStatus::create;

    bool operator==(const AWSConfigProfileCandidate &) const = default;
};

// What the config file would become if Tessera's block were regenerated now. Nothing is
// written until the plan is applied, and applying re-checks `originalContents`.
struct AWSConfigPlan
{
    QString targetURL;
    QString originalContents;
    QString proposedContents;
    QList<AWSConfigProfileCandidate> candidates;
    QStringList orphanedProfileNames;
    QMap<QString, QString> mappings;
    QStringList globalConflicts;

    QList<AWSConfigProfileCandidate> conflicts() const;
    bool hasConflicts() const { return !globalConflicts.isEmpty() || !conflicts().isEmpty(); }
};

} // namespace tessera
