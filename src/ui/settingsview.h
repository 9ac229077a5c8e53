#pragma once

#include "accounts/accountstore.h"
#include "accounts/clisigninsharing.h"
#include "platform/autostart.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QListWidget;
class QStackedWidget;

namespace tessera {

class AWSProfilesSettingsView;
class GeneralSettingsPage;
class RegionsSettingsPage;
class ServicesSettingsPage;

// The settings window: a sidebar of four sections and the selected section's page. It
// reads everything when it is built, so a window opened again shows settings changed
// elsewhere in the meantime.
class SettingsView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(Section selectedSection READ selectedSection WRITE selectSection NOTIFY
                   selectedSectionChanged)

public:
    enum class Section
    {
        general,
        regions,
        services,
        awsProfiles
    };
    Q_ENUM(Section)

    struct Actions
    {
        // Applies the stored Quick Search hotkey (registers it with the desktop).
        std::function<void()> applyHotKey;
        // What the hotkey service last reported about the stored hotkey, if anything.
        std::function<std::optional<QString>()> hotKeyErrorMessage;
        // What launch at login switches; none: the desktop's own (`makeLoginItem`).
        std::shared_ptr<LoginItem> loginItem;
        // Keeps the AWS CLI's sign-in current; none in tests that do not need it.
        QPointer<CLISignInSharing> cliSignInSharing;
    };

    explicit SettingsView(AccountStore *store, Actions actions = {}, QWidget *parent = nullptr);

    Section selectedSection() const { return m_section; }
    GeneralSettingsPage *generalPage() const { return m_general; }
    RegionsSettingsPage *regionsPage() const { return m_regions; }
    ServicesSettingsPage *servicesPage() const { return m_services; }
    AWSProfilesSettingsView *awsProfilesPage() const { return m_awsProfiles; }

public Q_SLOTS:
    void selectSection(Section section);
    // The hotkey service's report changed; shown on the General page.
    void setHotKeyErrorMessage(const std::optional<QString> &message);

Q_SIGNALS:
    void selectedSectionChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildSidebar();

    AccountStore *m_store;
    Actions m_actions;
    Section m_section = Section::general;
    QListWidget *m_sidebar = nullptr;
    QStackedWidget *m_pages = nullptr;
    GeneralSettingsPage *m_general = nullptr;
    RegionsSettingsPage *m_regions = nullptr;
    ServicesSettingsPage *m_services = nullptr;
    AWSProfilesSettingsView *m_awsProfiles = nullptr;
};

} // namespace tessera
