#pragma once

#include "accounts/accountstore.h"
#include "platform/autostart.h"

#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;

namespace tessera {

class LaunchAtLoginToggle;

// Settings › General: the access portal and its region, the sync interval, the Quick
// Search hotkey and launch at login.
class GeneralSettingsPage : public QWidget
{
    Q_OBJECT

public:
    GeneralSettingsPage(AccountStore *store, std::function<void()> applyHotKey,
                        std::shared_ptr<LoginItem> loginItem = makeLoginItem(),
                        QWidget *parent = nullptr);

    // Stores what is typed in the portal fields unless it is refused; Return and leaving a
    // field do this too.
    void submitStartURL();
    void submitRegion();
    // Submits the portal fields the user edited and did not submit yet; a field left alone
    // keeps what may have been stored elsewhere meanwhile.
    void submitPendingEdits();

public Q_SLOTS:
    // What the hotkey service reported for the chosen hotkey; shown in red under the picker.
    void setHotKeyErrorMessage(const std::optional<QString> &message);

Q_SIGNALS:
    // The stored start URL or IAM Identity Center region changed.
    void portalChanged();

private:
    QWidget *buildPortalSection();
    QWidget *buildSyncSection();
    QWidget *buildQuickSearchSection();
    QWidget *buildNotificationsSection();
    void showProblem(QLabel *label, const std::optional<QString> &problem);

    AccountStore *m_store;
    SettingsStore &m_settings;
    std::function<void()> m_applyHotKey;
    QLineEdit *m_startUrl = nullptr;
    QLabel *m_startUrlProblem = nullptr;
    QLineEdit *m_region = nullptr;
    QLabel *m_regionProblem = nullptr;
    QComboBox *m_syncPicker = nullptr;
    QComboBox *m_hotkeyPicker = nullptr;
    QLabel *m_hotKeyError = nullptr;
    LaunchAtLoginToggle *m_launchAtLogin = nullptr;
};

} // namespace tessera
