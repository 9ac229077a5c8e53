#pragma once

#include "accounts/accountstore.h"
#include "foundation/clock.h"
#include "foundation/taskhandle.h"
#include "quicksearch/accountsearch.h"
#include "quicksearch/quickswitchertypes.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

// The platform services Quick Search reaches, supplied by whoever shows the panel.
struct QuickSwitcherCallbacks
{
    // Closes the panel.
    std::function<void()> dismiss;
    // Names of the AWS CLI profiles that point at an account (and role). May throw; the
    // failure is logged and shown, and the menu opens without profiles.
    std::function<QStringList(const QString &accountId, const std::optional<QString> &role)>
        awsProfileNames;
    // Puts text on the clipboard; false when that failed.
    std::function<bool(const QString &text)> copyToPasteboard;
};

// The whole state and logic of Quick Search: the search field, which list is shown, the
// selection, the action menu and the pickers, and the two stacks that make Back retrace
// every step. A view reads the properties and lists and calls the operations; nothing here
// depends on widgets. Made fresh for every showing of the panel.
class QuickSwitcherModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(tessera::QuickSwitcherMode mode READ mode NOTIFY modeChanged)
    Q_PROPERTY(int selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool choosingRegion READ choosingRegion NOTIFY choosingRegionChanged)
    Q_PROPERTY(bool choosingAction READ choosingAction NOTIFY choosingActionChanged)
    Q_PROPERTY(bool choosingGroup READ choosingGroup NOTIFY choosingGroupChanged)
    Q_PROPERTY(bool choosingAWSProfile READ choosingAWSProfile NOTIFY choosingAWSProfileChanged)
    Q_PROPERTY(QString flash READ flashOrEmpty NOTIFY flashChanged)

public:
    using Mode = QuickSwitcherMode;
    using ActionTarget = QuickActionTarget;

    // The list on screen, in the order that decides it (a menu over a picker over the
    // base list).
    enum class ListKind
    {
        actions,
        awsProfiles,
        groups,
        regions,
        roles,
        services,
        accounts
    };
    Q_ENUM(ListKind)

    static constexpr std::chrono::milliseconds flashDuration{1500};

    QuickSwitcherModel(AccountStore &store, QuickSwitcherCallbacks callbacks,
                       std::shared_ptr<Clock> clock = {}, QObject *parent = nullptr);
    ~QuickSwitcherModel() override;

    // --- Observable state ---
    const QString &query() const { return m_query; }
    // Also selects the first row, as every edit of the search field does.
    void setQuery(const QString &query);
    const Mode &mode() const { return m_mode; }
    int selection() const { return m_selection; }
    void setSelection(int selection);
    bool choosingRegion() const { return m_choosingRegion; }
    bool choosingAction() const { return m_choosingAction; }
    bool choosingGroup() const { return m_choosingGroup; }
    bool choosingAWSProfile() const { return m_choosingAWSProfile; }
    const std::optional<QString> &flash() const { return m_flash; }
    QString flashOrEmpty() const { return m_flash.value_or(QString()); }

    AccountStore &store() const { return m_store; }

    // Search tables outliving the model: whoever makes a model per showing keeps them, so
    // they are built once per account list rather than at every showing.
    void shareSearchIndex(std::shared_ptr<AccountSearchIndex> index);

    // --- Saved state, readable for views and tests ---
    const std::optional<ActionTarget> &actionTarget() const { return m_actionTarget; }
    const QStringList &actionProfileNames() const { return m_actionProfileNames; }
    const QList<SuspendedActionMenu> &suspendedActionMenus() const
    {
        return m_suspendedActionMenus;
    }
    const QList<ModeHistoryEntry> &modeHistory() const { return m_modeHistory; }
    const std::optional<AWSAccount> &regionAccount() const { return m_regionAccount; }
    const std::optional<AWSAccount> &groupAccount() const { return m_groupAccount; }
    const std::optional<AWSAccount> &awsProfileAccount() const { return m_awsProfileAccount; }
    const QStringList &awsProfilePickerNames() const { return m_awsProfilePickerNames; }
    bool isFlashTimerRunning() const { return m_flashTask && !m_flashTask->isFinished(); }

    // --- Lists ---
    ListKind currentList() const;
    int resultCount() const;
    QString placeholder() const;
    AccountList accountResults() const;
    QStringList roleResults() const;
    QList<ConsoleService> serviceResults() const;
    QList<QuickResultAction> actionResults() const;
    QList<QuickGroupChoice> groupChoices() const;
    QStringList profileChoices() const;
    QList<ConsoleRegion> regionResults() const;
    // The rows of the current list from `first`, at most `count` of them (all with -1).
    QList<QuickSwitcherResultRow> rows(int first = 0, int count = -1) const;
    // The same rows with the length of the whole list, computed in one pass: a view showing
    // a window of a long ranking needs both and should not rank twice.
    QuickSwitcherRowWindow rowWindow(int first, int count) const;

    // The account the screen is about: the menu's or picker's account, the account of the
    // roles or services list, or the selected account.
    std::optional<AWSAccount> currentAccount() const;
    std::optional<ActionTarget> actionTargetForSelection() const;
    bool isCurrentGroupChoice(const QuickGroupChoice &choice) const;
    // A saved selection, fitted to the current list.
    int clampedSelection(int saved) const;

    // --- Operations; a bool result tells the key handler whether the key was used ---
    void moveSelection(int delta);
    void selectLast();
    void activateSelection();
    bool drillIn();
    bool goBack();
    void cancelOrBack();
    bool deleteBackwardOrBack();
    void resetToHome();
    bool copySelectedAccountId();
    bool toggleSelectedPin();
    bool openRegionPickerForSelection();
    // Opens the action menu for the selection, or closes an open one.
    bool openActionMenu();
    void showFlash(const QString &message);

Q_SIGNALS:
    void queryChanged();
    void modeChanged();
    void selectionChanged();
    void choosingRegionChanged();
    void choosingActionChanged();
    void choosingGroupChanged();
    void choosingAWSProfileChanged();
    void flashChanged();
    // The lists may read differently: the state above or the store's data changed.
    void resultsChanged();

private:
    void setMode(Mode mode);
    void setChoosingRegion(bool value);
    void setChoosingAction(bool value);
    void setChoosingGroup(bool value);
    void setChoosingAWSProfile(bool value);
    void setFlash(std::optional<QString> flash);
    bool isSelectionWithin(qsizetype count) const
    {
        return m_selection >= 0 && m_selection < count;
    }
    bool isMenuOrPickerOpen() const;
    QString regionFor(const AWSAccount &account) const;
    QList<QuickResultAction> fullActionList(const ActionTarget &target) const;

    void closeActionMenu();
    void suspendActionMenu();
    bool resumeSuspendedActionMenu();
    void performAction(const QuickResultAction &action, const ActionTarget &target);
    bool browseServicesOfSelectedRole();
    void openRegionPicker(const AWSAccount &account);
    void closeRegionPicker();
    void openGroupPicker(const AWSAccount &account);
    void closeGroupPicker();
    void openProfilePicker(const QStringList &names, const AWSAccount &account);
    void closeProfilePicker();
    void chooseGroup(const AWSAccount &account, const QuickGroupChoice &choice);
    void followAccountBeneathMenu(const AWSAccount &account);
    void openConsoleAndDismiss(const AWSAccount &account, const QString &role,
                               const std::optional<ConsoleService> &service);
    void copyWithFlash(const QString &text, const QString &successMessage);
    bool selectAccountIfListed(const AWSAccount &account);
    AccountList accountResultsFor(const QString &query) const;

    static QCoro::Task<void> clearFlashLater(QPointer<QuickSwitcherModel> model,
                                             std::shared_ptr<Clock> clock, CancellationToken token);

    QString m_query;
    Mode m_mode;
    int m_selection = 0;
    bool m_choosingRegion = false;
    bool m_choosingAction = false;
    bool m_choosingGroup = false;
    bool m_choosingAWSProfile = false;
    std::optional<QString> m_flash;

    AccountStore &m_store;
    QuickSwitcherCallbacks m_callbacks;
    std::shared_ptr<Clock> m_clock;
    std::optional<TaskHandle<void>> m_flashTask;

    std::optional<AWSAccount> m_regionAccount;
    QString m_queryBeforeRegionPicker;
    int m_selectionBeforeRegionPicker = 0;
    std::optional<ActionTarget> m_actionTarget;
    QString m_queryBeforeActionMenu;
    int m_selectionBeforeActionMenu = 0;
    QStringList m_actionProfileNames;
    QList<SuspendedActionMenu> m_suspendedActionMenus;
    QList<ModeHistoryEntry> m_modeHistory;
    std::optional<AWSAccount> m_awsProfileAccount;
    QStringList m_awsProfilePickerNames;
    QString m_queryBeforeAWSProfilePicker;
    int m_selectionBeforeAWSProfilePicker = 0;
    std::optional<AWSAccount> m_groupAccount;
    QString m_queryBeforeGroupPicker;
    int m_selectionBeforeGroupPicker = 0;

    std::shared_ptr<AccountSearchIndex> m_searchIndex;
};

} // namespace tessera
