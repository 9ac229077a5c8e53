// Everything that changes Quick Search's state: keys, the action menu and its actions, the
// pickers, going back, and flash messages.
#include "foundation/error.h"
#include "foundation/logging.h"
#include "quicksearch/localizedtext.h"
#include "quicksearch/quickswitchermodel.h"

namespace tessera {

namespace {
QString clipboardFailureText()
{
    return localizedText("Could not copy to the clipboard.", "Could not copy to the clipboard.");
}

// The role an action runs with: the target's role, or an account's only role.
std::optional<QString> roleOf(const QuickActionTarget &target)
{
    if (target.kind != QuickActionTarget::Kind::account) {
        return target.role;
    }
    if (target.account.roles.size() == 1) {
        return target.account.roles.first();
    }
    return std::nullopt;
}

std::optional<ConsoleService> serviceOf(const QuickActionTarget &target)
{
    if (target.kind == QuickActionTarget::Kind::service) {
        return target.service;
    }
    return std::nullopt;
}
} // namespace

// --- Selection ---

void QuickSwitcherModel::moveSelection(int delta)
{
    const int count = resultCount();
    if (count == 0) {
        return;
    }
    setSelection(((m_selection + delta) % count + count) % count);
}

void QuickSwitcherModel::selectLast()
{
    const int count = resultCount();
    if (count >= 1) {
        setSelection(count - 1);
    }
}

bool QuickSwitcherModel::selectAccountIfListed(const AWSAccount &account)
{
    const qsizetype index = accountResults().indexOf(account);
    if (index >= 0) {
        setSelection(int(index));
    }
    return index >= 0;
}

// --- Flash ---

void QuickSwitcherModel::showFlash(const QString &message)
{
    if (m_flashTask) {
        m_flashTask->cancel();
    }
    setFlash(message);
    m_flashTask =
        startTask<void>([model = QPointer(this), clock = m_clock](CancellationToken token) {
            return clearFlashLater(model, clock, std::move(token));
        });
}

QCoro::Task<void> QuickSwitcherModel::clearFlashLater(QPointer<QuickSwitcherModel> model,
                                                      std::shared_ptr<Clock> clock,
                                                      CancellationToken token)
{
    // A newer message cancels this timer, so an old timer never clears a new message.
    co_await clock->sleep(flashDuration, token);
    if (model && !token.isCancelled()) {
        model->setFlash(std::nullopt);
    }
}

void QuickSwitcherModel::copyWithFlash(const QString &text, const QString &successMessage)
{
    const bool copied = m_callbacks.copyToPasteboard && m_callbacks.copyToPasteboard(text);
    showFlash(copied ? successMessage : clipboardFailureText());
}

// --- Action menu ---

bool QuickSwitcherModel::openActionMenu()
{
    if (m_choosingAction) {
        closeActionMenu();
        return true;
    }
    if (isMenuOrPickerOpen()) {
        return false;
    }
    auto target = actionTargetForSelection();
    if (!target) {
        return false;
    }
    m_actionTarget = target;

    QStringList profileNames;
    if (m_callbacks.awsProfileNames) {
        const std::optional<QString> role = target->kind == ActionTarget::Kind::account
                                                ? std::nullopt
                                                : std::optional(target->role);
        try {
            profileNames = m_callbacks.awsProfileNames(target->account.accountId, role);
        } catch (const std::exception &failure) {
            const auto *error = dynamic_cast<const Error *>(&failure);
            const QString description =
                error ? error->description() : QString::fromUtf8(failure.what());
            qCWarning(lcAWSConfig).noquote()
                << "Quick Search AWS profile discovery failed:" << description;
            showFlash(
                localizedText("Could not read ~/.aws/config.", "Could not read ~/.aws/config."));
        }
    }
    m_actionProfileNames = profileNames;
    m_queryBeforeActionMenu = m_query;
    m_selectionBeforeActionMenu = m_selection;
    setChoosingAction(true);
    setQuery(QString());
    return true;
}

void QuickSwitcherModel::closeActionMenu()
{
    setChoosingAction(false);
    m_actionTarget.reset();
    m_actionProfileNames.clear();
    setQuery(m_queryBeforeActionMenu);
    setSelection(clampedSelection(m_selectionBeforeActionMenu));
}

void QuickSwitcherModel::suspendActionMenu()
{
    if (!m_choosingAction || !m_actionTarget) {
        return;
    }
    m_suspendedActionMenus.append({*m_actionTarget, m_actionProfileNames, m_mode,
                                   m_queryBeforeActionMenu, m_selectionBeforeActionMenu,
                                   m_selection});
    setChoosingAction(false);
    m_actionTarget.reset();
    m_actionProfileNames.clear();
    setQuery(QString());
}

bool QuickSwitcherModel::resumeSuspendedActionMenu()
{
    if (m_suspendedActionMenus.isEmpty()) {
        return false;
    }
    const SuspendedActionMenu menu = m_suspendedActionMenus.takeLast();
    m_actionTarget = menu.target;
    m_actionProfileNames = menu.profileNames;
    setMode(menu.mode);
    m_queryBeforeActionMenu = menu.queryBeforeMenu;
    m_selectionBeforeActionMenu = menu.selectionBeforeMenu;
    setChoosingAction(true);
    setQuery(QString());
    setSelection(clampedSelection(menu.actionSelection));
    return true;
}

void QuickSwitcherModel::openConsoleAndDismiss(const AWSAccount &account, const QString &role,
                                               const std::optional<ConsoleService> &service)
{
    if (m_store.openConsole(account, role, service)) {
        if (m_callbacks.dismiss) {
            m_callbacks.dismiss();
        }
    } else if (const auto &message = m_store.errorMessage()) {
        showFlash(*message);
    }
}

void QuickSwitcherModel::performAction(const QuickResultAction &action, const ActionTarget &target)
{
    using Kind = QuickResultAction::Kind;
    const AWSAccount &account = target.account;
    switch (action.kind) {
    case Kind::open: {
        closeActionMenu();
        if (const auto role = roleOf(target)) {
            openConsoleAndDismiss(account, *role, serviceOf(target));
        }
        break;
    }
    case Kind::browseRoles:
        suspendActionMenu();
        setMode(Mode::roles(account));
        setQuery(QString());
        break;
    case Kind::browseServices: {
        const auto role = roleOf(target);
        if (!role) {
            break;
        }
        suspendActionMenu();
        setMode(Mode::services(account, *role));
        setQuery(QString());
        break;
    }
    case Kind::copyConsoleLink: {
        const auto role = roleOf(target);
        if (!role) {
            break;
        }
        const auto link = m_store.consoleLink(account, *role, serviceOf(target));
        if (!link) {
            showFlash(QStringLiteral("Could not create console link"));
            break;
        }
        closeActionMenu();
        copyWithFlash(
            link->toString(QUrl::FullyEncoded),
            localizedText("quick_switcher.flash.console_link_copied", "Console link copied"));
        break;
    }
    case Kind::copyAccountId:
        closeActionMenu();
        copyWithFlash(account.accountId,
                      localizedText("quick_switcher.flash.account_id_copied", "Account ID copied"));
        break;
    case Kind::browseAWSProfiles: {
        const QStringList names = m_actionProfileNames;
        suspendActionMenu();
        openProfilePicker(names, account);
        break;
    }
    case Kind::changeRegion:
        suspendActionMenu();
        openRegionPicker(account);
        break;
    case Kind::changeGroup:
        suspendActionMenu();
        openGroupPicker(account);
        break;
    case Kind::toggleAccountPin: {
        closeActionMenu();
        m_store.togglePinnedAccount(account.accountId);
        if (m_mode.isAccounts()) {
            selectAccountIfListed(account);
        }
        const bool pinned = m_store.organization().pinnedAccountIds.contains(account.accountId);
        showFlash(pinned ? QStringLiteral("Pinned account") : QStringLiteral("Unpinned account"));
        break;
    }
    case Kind::toggleServicePin: {
        if (target.kind != ActionTarget::Kind::service) {
            break;
        }
        closeActionMenu();
        m_store.togglePinnedService(target.service.name);
        const qsizetype index = serviceResults().indexOf(target.service);
        if (index >= 0) {
            setSelection(int(index));
        }
        const bool pinned = m_store.organization().pinnedServiceNames.contains(target.service.name);
        showFlash(pinned ? QStringLiteral("Pinned service") : QStringLiteral("Unpinned service"));
        break;
    }
    }
}

// --- Return, Right, Back ---

void QuickSwitcherModel::activateSelection()
{
    switch (currentList()) {
    case ListKind::awsProfiles: {
        const QStringList names = profileChoices();
        if (!isSelectionWithin(names.size())) {
            return;
        }
        const QString name = names.at(m_selection);
        closeProfilePicker();
        resumeSuspendedActionMenu();
        copyWithFlash(name,
                      localizedText("quick_switcher.flash.profile_copied", "AWS profile copied"));
        return;
    }
    case ListKind::actions: {
        const QList<QuickResultAction> actions = actionResults();
        if (isSelectionWithin(actions.size()) && m_actionTarget) {
            // Copies: the action may replace the target while it runs.
            const QuickResultAction action = actions.at(m_selection);
            const ActionTarget target = *m_actionTarget;
            performAction(action, target);
        }
        return;
    }
    case ListKind::groups: {
        const QList<QuickGroupChoice> choices = groupChoices();
        if (isSelectionWithin(choices.size()) && m_groupAccount) {
            const AWSAccount account = *m_groupAccount;
            const QuickGroupChoice choice = choices.at(m_selection);
            closeGroupPicker();
            chooseGroup(account, choice);
            if (m_mode.isAccounts()) {
                selectAccountIfListed(account);
                followAccountBeneathMenu(account);
            }
            resumeSuspendedActionMenu();
        }
        return;
    }
    case ListKind::regions: {
        const QList<ConsoleRegion> regions = regionResults();
        if (isSelectionWithin(regions.size()) && m_regionAccount) {
            const ConsoleRegion region = regions.at(m_selection);
            m_store.setConsoleRegion(region.id, m_regionAccount->accountId);
            closeRegionPicker();
            resumeSuspendedActionMenu();
            showFlash(QStringLiteral("Region: ") + region.id);
        }
        return;
    }
    case ListKind::roles:
        browseServicesOfSelectedRole();
        return;
    case ListKind::services: {
        const QList<ConsoleService> services = serviceResults();
        if (isSelectionWithin(services.size())) {
            openConsoleAndDismiss(m_mode.account, m_mode.role, services.at(m_selection));
        }
        return;
    }
    case ListKind::accounts:
        break;
    }

    const AccountList accounts = accountResults();
    if (!isSelectionWithin(accounts.size())) {
        return;
    }
    const AWSAccount account = accounts.at(m_selection);
    if (account.roles.size() == 1) {
        openConsoleAndDismiss(account, account.roles.first(), std::nullopt);
    } else if (account.roles.size() > 1 && openActionMenu()) {
        // Straight into the roles, with the account's menu beneath them for Back.
        const QList<QuickResultAction> actions = actionResults();
        const auto browse = std::find_if(actions.cbegin(), actions.cend(), [](const auto &a) {
            return a.kind == QuickResultAction::Kind::browseRoles;
        });
        if (browse != actions.cend()) {
            setSelection(int(browse - actions.cbegin()));
            drillIn();
        }
    }
}

void QuickSwitcherModel::chooseGroup(const AWSAccount &account, const QuickGroupChoice &choice)
{
    switch (choice.kind) {
    case QuickGroupChoice::Kind::existing: {
        const QString name = choice.groupName.trimmed();
        if (!name.isEmpty()) {
            m_store.setGroup(account.accountId, name);
        }
        showFlash(QStringLiteral("Moved to ") + choice.groupName);
        break;
    }
    case QuickGroupChoice::Kind::create: {
        // setGroup adds a missing group itself, so the new group and the membership are
        // written in one change: a failed save never leaves an empty new group behind.
        const QString name = choice.groupName.trimmed();
        if (!name.isEmpty()) {
            m_store.setGroup(account.accountId, name);
        }
        showFlash(QStringLiteral("Created ") + choice.groupName);
        break;
    }
    case QuickGroupChoice::Kind::noGroup:
        m_store.setGroup(account.accountId, std::nullopt);
        showFlash(QStringLiteral("Removed from group"));
        break;
    }
}

void QuickSwitcherModel::followAccountBeneathMenu(const AWSAccount &account)
{
    // A group change moves the account within the accounts list. The menu about to come
    // back restores the selection it saved when it opened, which would now point at
    // another account; point it at the moved one, in the list the menu returns to.
    if (m_suspendedActionMenus.isEmpty() || !m_suspendedActionMenus.last().mode.isAccounts()) {
        return;
    }
    SuspendedActionMenu &menu = m_suspendedActionMenus.last();
    const qsizetype index = accountResultsFor(menu.queryBeforeMenu).indexOf(account);
    if (index >= 0) {
        menu.selectionBeforeMenu = int(index);
    }
}

bool QuickSwitcherModel::browseServicesOfSelectedRole()
{
    const QStringList roles = roleResults();
    if (!isSelectionWithin(roles.size())) {
        return false;
    }
    const QString role = roles.at(m_selection);
    m_modeHistory.append({m_mode, m_query, m_selection});
    setMode(Mode::services(m_mode.account, role));
    setQuery(QString());
    return true;
}

bool QuickSwitcherModel::drillIn()
{
    if (m_choosingAction) {
        const QList<QuickResultAction> actions = actionResults();
        if (!isSelectionWithin(actions.size()) || !actions.at(m_selection).leadsFurther() ||
            !m_actionTarget) {
            return false;
        }
        const QuickResultAction action = actions.at(m_selection);
        const ActionTarget target = *m_actionTarget;
        performAction(action, target);
        return true;
    }
    if (isMenuOrPickerOpen()) {
        return false;
    }
    if (m_mode.isRoles()) {
        return browseServicesOfSelectedRole();
    }
    return openActionMenu();
}

bool QuickSwitcherModel::goBack()
{
    if (m_choosingAction) {
        closeActionMenu();
        return true;
    }
    if (m_choosingAWSProfile) {
        closeProfilePicker();
        resumeSuspendedActionMenu();
        return true;
    }
    if (m_choosingGroup) {
        closeGroupPicker();
        resumeSuspendedActionMenu();
        return true;
    }
    if (m_choosingRegion) {
        closeRegionPicker();
        resumeSuspendedActionMenu();
        return true;
    }
    switch (m_mode.kind) {
    case Mode::Kind::roles: {
        if (resumeSuspendedActionMenu()) {
            return true;
        }
        const AWSAccount account = m_mode.account;
        setMode(Mode::accounts());
        setQuery(QString());
        selectAccountIfListed(account);
        return true;
    }
    case Mode::Kind::services: {
        if (!m_modeHistory.isEmpty()) {
            const ModeHistoryEntry entry = m_modeHistory.takeLast();
            setMode(entry.mode);
            setQuery(entry.query);
            setSelection(clampedSelection(entry.selection));
            return true;
        }
        if (resumeSuspendedActionMenu()) {
            return true;
        }
        setMode(Mode::roles(m_mode.account));
        setQuery(QString());
        return true;
    }
    case Mode::Kind::accounts:
        break;
    }
    return false;
}

void QuickSwitcherModel::cancelOrBack()
{
    if (!m_query.isEmpty()) {
        setQuery(QString());
        return;
    }
    if (!goBack() && m_callbacks.dismiss) {
        m_callbacks.dismiss();
    }
}

bool QuickSwitcherModel::deleteBackwardOrBack()
{
    if (!m_query.isEmpty()) {
        return false;
    }
    return goBack();
}

void QuickSwitcherModel::resetToHome()
{
    setChoosingAction(false);
    setChoosingAWSProfile(false);
    setChoosingGroup(false);
    setChoosingRegion(false);
    m_actionTarget.reset();
    m_actionProfileNames.clear();
    m_suspendedActionMenus.clear();
    m_modeHistory.clear();
    m_awsProfileAccount.reset();
    m_groupAccount.reset();
    m_regionAccount.reset();
    m_awsProfilePickerNames.clear();
    setMode(Mode::accounts());
    setQuery(QString());
}

// --- Shortcuts ---

bool QuickSwitcherModel::copySelectedAccountId()
{
    const auto account = currentAccount();
    if (!account) {
        return false;
    }
    copyWithFlash(account->accountId,
                  localizedText("quick_switcher.flash.account_id_copied", "Account ID copied"));
    return true;
}

bool QuickSwitcherModel::toggleSelectedPin()
{
    if (isMenuOrPickerOpen()) {
        return false;
    }
    switch (m_mode.kind) {
    case Mode::Kind::roles:
        return false;
    case Mode::Kind::services: {
        const QList<ConsoleService> services = serviceResults();
        if (!isSelectionWithin(services.size())) {
            return false;
        }
        const ConsoleService service = services.at(m_selection);
        if (service == consoleHome()) {
            return false;
        }
        m_store.togglePinnedService(service.name);
        const qsizetype index = serviceResults().indexOf(service);
        if (index >= 0) {
            setSelection(int(index));
        }
        return true;
    }
    case Mode::Kind::accounts:
        break;
    }
    const AccountList accounts = accountResults();
    if (!isSelectionWithin(accounts.size())) {
        return false;
    }
    const AWSAccount account = accounts.at(m_selection);
    m_store.togglePinnedAccount(account.accountId);
    selectAccountIfListed(account);
    return true;
}

bool QuickSwitcherModel::openRegionPickerForSelection()
{
    if (isMenuOrPickerOpen()) {
        return false;
    }
    const auto account = currentAccount();
    if (!account) {
        return false;
    }
    openRegionPicker(*account);
    return true;
}

// --- Pickers ---

void QuickSwitcherModel::openRegionPicker(const AWSAccount &account)
{
    m_regionAccount = account;
    m_queryBeforeRegionPicker = m_query;
    m_selectionBeforeRegionPicker = m_selection;
    setChoosingRegion(true);
    setQuery(QString());
    const QString current = regionFor(account);
    const QList<ConsoleRegion> regions = regionResults();
    const auto found = std::find_if(regions.cbegin(), regions.cend(),
                                    [&](const ConsoleRegion &r) { return r.id == current; });
    if (found != regions.cend()) {
        setSelection(int(found - regions.cbegin()));
    }
}

void QuickSwitcherModel::closeRegionPicker()
{
    setChoosingRegion(false);
    m_regionAccount.reset();
    setQuery(m_queryBeforeRegionPicker);
    setSelection(clampedSelection(m_selectionBeforeRegionPicker));
}

void QuickSwitcherModel::openGroupPicker(const AWSAccount &account)
{
    m_groupAccount = account;
    m_queryBeforeGroupPicker = m_query;
    m_selectionBeforeGroupPicker = m_selection;
    setChoosingGroup(true);
    setQuery(QString());
    const auto &groups = m_store.organization().accountGroups;
    const auto group = groups.constFind(account.accountId);
    if (group == groups.cend()) {
        return;
    }
    const QList<QuickGroupChoice> choices = groupChoices();
    const auto found = std::find_if(choices.cbegin(), choices.cend(), [&](const auto &choice) {
        return choice.kind == QuickGroupChoice::Kind::existing && choice.groupName == group.value();
    });
    if (found != choices.cend()) {
        setSelection(int(found - choices.cbegin()));
    }
}

void QuickSwitcherModel::closeGroupPicker()
{
    setChoosingGroup(false);
    m_groupAccount.reset();
    setQuery(m_queryBeforeGroupPicker);
    setSelection(clampedSelection(m_selectionBeforeGroupPicker));
}

void QuickSwitcherModel::openProfilePicker(const QStringList &names, const AWSAccount &account)
{
    if (names.isEmpty()) {
        return;
    }
    m_awsProfileAccount = account;
    m_awsProfilePickerNames = names;
    m_queryBeforeAWSProfilePicker = m_query;
    m_selectionBeforeAWSProfilePicker = m_selection;
    setChoosingAWSProfile(true);
    setQuery(QString());
}

void QuickSwitcherModel::closeProfilePicker()
{
    setChoosingAWSProfile(false);
    m_awsProfileAccount.reset();
    m_awsProfilePickerNames.clear();
    setQuery(m_queryBeforeAWSProfilePicker);
    setSelection(clampedSelection(m_selectionBeforeAWSProfilePicker));
}

} // namespace tessera
