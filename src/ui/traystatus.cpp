#include "ui/traystatus.h"

#include "ui/relativetime.h"

namespace tessera {

namespace {
QString accountCountText(qsizetype count)
{
    QString text = qtTrId("%n account(s)", int(count));
    if (text.contains(QLatin1String("(s)"))) {
        text.replace(QLatin1String("%n"), QString::number(count));
        text.replace(QLatin1String("(s)"), count == 1 ? QString() : QStringLiteral("s"));
    }
    return text;
}
} // namespace

TrayStatus trayStatus(const TrayFacts &facts, const QDateTime &now)
{
    if (facts.session.isSigningIn()) {
        return {TrayState::signingIn,
                qtTrId("Signing in — enter code %1 in your browser").arg(facts.session.userCode())};
    }
    if (facts.syncing) {
        return {TrayState::syncing, qtTrId("Syncing accounts…")};
    }
    if (!facts.errorMessage.isEmpty()) {
        return {TrayState::error, facts.errorMessage};
    }
    if (facts.session.isSignedOut()) {
        return {TrayState::signedOut, qtTrId("Signed out")};
    }
    if (!facts.hasRefreshToken && facts.tokenExpiresAt.isValid() &&
        now.secsTo(facts.tokenExpiresAt) < sessionEndingWarningSeconds) {
        return {TrayState::sessionEnding,
                qtTrId("Session ends at %1 — sign in again to keep syncing")
                    .arg(facts.tokenExpiresAt.toLocalTime().toString(QStringLiteral("HH:mm")))};
    }
    const QString synced = facts.lastSync.isValid()
                               ? qtTrId("Synced ") + relativeTimeText(facts.lastSync, now)
                               : qtTrId("Never synced");
    return {TrayState::synced,
            synced + QStringLiteral(" · ") + accountCountText(facts.accountCount)};
}

TrayFacts trayFacts(const AccountStore &store)
{
    return {store.session(),
            store.syncing(),
            store.lastSyncOrNull(),
            store.accounts().size(),
            store.errorMessageOrEmpty(),
            store.tokenExpiresAtOrNull(),
            store.hasRefreshToken()};
}

} // namespace tessera
