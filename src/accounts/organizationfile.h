#pragma once

#include "storage/records.h"

#include <QObject>
#include <QSet>
#include <functional>
#include <optional>

namespace tessera {

// The user's arrangement of accounts (pins, groups, console regions, hidden services) and
// the file it lives in. Every change is written atomically before it is taken; a file
// that could not be read is never overwritten.
class OrganizationFile : public QObject
{
    Q_OBJECT

public:
    // `path`: the file; none for the usual one among the support files.
    explicit OrganizationFile(std::optional<QString> path = std::nullopt,
                              QObject *parent = nullptr);

    // Reads the file. One that cannot be read blocks every later change.
    void load();

    const Organization &organization() const { return m_organization; }
    bool isBlocked() const { return m_blocked; }
    // Why the last load or write failed; empty once a write succeeds.
    const std::optional<QString> &failureMessage() const { return m_failureMessage; }

    // Writes the changed organization and takes it, or keeps the old one on failure.
    void update(const std::function<void(Organization &)> &change);

    void togglePinnedAccount(const QString &accountId);
    void togglePinnedService(const QString &serviceName);
    void setServiceEnabled(const QString &serviceName, bool enabled);
    void createGroup(const QString &name);
    void setGroup(const QString &accountId, const std::optional<QString> &groupName);
    void deleteGroup(const QString &groupName);
    void setConsoleRegion(const QString &regionText, const QString &accountId);
    void setConsoleRegionEnabled(const QString &regionId, bool enabled);
    void setEnabledConsoleRegions(const QSet<QString> &regionIds);

Q_SIGNALS:
    void organizationChanged();
    // The message to show for a failed load or write.
    void failed(const QString &message);
    // A write succeeded after `message` was shown for an earlier failure.
    void recovered(const QString &message);

private:
    void reportFailure(const QString &message, const QString &failureDescription);

    std::optional<QString> m_path;
    Organization m_organization;
    bool m_blocked = false;
    std::optional<QString> m_failureMessage;
};

} // namespace tessera
