#pragma once

#include "accounts/accountstore.h"

#include <QDateTime>
#include <QString>

namespace tessera {

// What the tray icon shows, worst news first.
enum class TrayState
{
    signedOut,
    signingIn,
    syncing,
    error,
    sessionEnding,
    synced,
};

// The part of the store's state the tray speaks about.
struct TrayFacts
{
    AccountStoreSession session;
    bool syncing = false;
    QDateTime lastSync;
    qsizetype accountCount = 0;
    QString errorMessage;
    QDateTime tokenExpiresAt;
    bool hasRefreshToken = false;
};

struct TrayStatus
{
    TrayState state;
    // One line for the tray menu's first entry; the tooltip is "Tessera" and this line.
    QString line;
};

// A session that cannot renew itself is called ending this long before it does.
inline constexpr qint64 sessionEndingWarningSeconds = 30 * 60;

TrayStatus trayStatus(const TrayFacts &facts, const QDateTime &now);
TrayFacts trayFacts(const AccountStore &store);

} // namespace tessera
