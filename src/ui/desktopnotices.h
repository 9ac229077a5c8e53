#pragma once

#include "accounts/accountstore.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

namespace tessera {

class DesktopNotifier;

// Tells the user through desktop notifications what went wrong while the panel was
// closed: the session ended and needs a sign-in, a sync failed after the last one had
// succeeded, or the AWS CLI profiles could not be updated. Routine success stays quiet,
// and the "desktopNotifications" setting silences all of it.
class DesktopNotices : public QObject
{
    Q_OBJECT

public:
    DesktopNotices(AccountStore *store, DesktopNotifier *notifier,
                   std::function<bool()> panelIsOpen, QObject *parent = nullptr);

private:
    void sessionChanged();
    void syncingChanged();
    void errorMessageChanged();
    void notify(const QString &title, const QString &body);

    QPointer<AccountStore> m_store;
    DesktopNotifier *m_notifier;
    std::function<bool()> m_panelIsOpen;
    bool m_wasSignedIn = false;
    // A signed-in session just went away; the store's next message says why, unless the
    // user signed out, which leaves no message.
    bool m_sessionJustEnded = false;
    // Whether the last sync succeeded; a failure is news only after a success.
    bool m_lastSyncSucceeded = false;
    std::optional<QDateTime> m_lastSyncAtStart;
};

} // namespace tessera
