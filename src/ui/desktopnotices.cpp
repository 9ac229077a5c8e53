#include "ui/desktopnotices.h"

#include "platform/desktopnotifier.h"
#include "storage/settings.h"

namespace tessera {

DesktopNotices::DesktopNotices(AccountStore *store, DesktopNotifier *notifier,
                               std::function<bool()> panelIsOpen, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_notifier(notifier)
    , m_panelIsOpen(std::move(panelIsOpen))
    , m_wasSignedIn(store->session().isSignedIn())
    , m_lastSyncSucceeded(store->lastSync().has_value())
{
    connect(store, &AccountStore::sessionChanged, this, &DesktopNotices::sessionChanged);
    connect(store, &AccountStore::syncingChanged, this, &DesktopNotices::syncingChanged);
    connect(store, &AccountStore::errorMessageChanged, this, &DesktopNotices::errorMessageChanged);
}

void DesktopNotices::sessionChanged()
{
    const AccountStoreSession &session = m_store->session();
    m_sessionJustEnded = m_wasSignedIn && session.isSignedOut();
    m_wasSignedIn = session.isSignedIn();
}

void DesktopNotices::syncingChanged()
{
    if (m_store->syncing()) {
        m_lastSyncAtStart = m_store->lastSync();
        return;
    }
    // A sync that lost its session is told as the session's end.
    if (!m_store->session().isSignedIn()) {
        return;
    }
    const bool listed = m_store->lastSync() != m_lastSyncAtStart;
    const std::optional<QString> &message = m_store->errorMessage();
    if (listed && message) {
        notify(qtTrId("AWS profiles not updated"), *message);
    } else if (!listed && message && m_lastSyncSucceeded) {
        notify(qtTrId("Sync failed"), *message);
    }
    if (listed || message) {
        m_lastSyncSucceeded = listed;
    }
}

void DesktopNotices::errorMessageChanged()
{
    const std::optional<QString> &message = m_store->errorMessage();
    if (!m_sessionJustEnded || !message || !m_store->session().isSignedOut()) {
        return;
    }
    m_sessionJustEnded = false;
    notify(qtTrId("Sign in to Tessera again"), *message);
}

void DesktopNotices::notify(const QString &title, const QString &body)
{
    if (!m_notifier || (m_panelIsOpen && m_panelIsOpen()) ||
        !m_store->defaults().boolean(key(settingskey::desktopNotifications))) {
        return;
    }
    m_notifier->notify(title, body);
}

} // namespace tessera
