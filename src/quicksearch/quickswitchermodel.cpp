// The model's state and every list it shows.
#include "quicksearch/quickswitchermodel.h"

#include <algorithm>

namespace tessera {

namespace {
const QString middleDot = QStringLiteral(" \u00B7 ");
const QString currentMarker = QStringLiteral("Current");

QString roleCountText(qsizetype count)
{
    return QString::number(count) + QStringLiteral(" roles");
}
} // namespace

QuickSwitcherModel::QuickSwitcherModel(AccountStore &store, QuickSwitcherCallbacks callbacks,
                                       std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_callbacks(std::move(callbacks))
    , m_clock(clock ? std::move(clock) : SystemClock::shared())
    , m_searchIndex(std::make_shared<AccountSearchIndex>())
{
    connect(&store, &AccountStore::accountsChanged, this, &QuickSwitcherModel::resultsChanged);
    connect(&store, &AccountStore::organizationChanged, this, &QuickSwitcherModel::resultsChanged);
    for (auto signal :
         {&QuickSwitcherModel::queryChanged, &QuickSwitcherModel::modeChanged,
          &QuickSwitcherModel::selectionChanged, &QuickSwitcherModel::choosingRegionChanged,
          &QuickSwitcherModel::choosingActionChanged, &QuickSwitcherModel::choosingGroupChanged,
          &QuickSwitcherModel::choosingAWSProfileChanged}) {
        connect(this, signal, this, &QuickSwitcherModel::resultsChanged);
    }
}

QuickSwitcherModel::~QuickSwitcherModel()
{
    if (m_flashTask) {
        m_flashTask->cancel();
    }
}

void QuickSwitcherModel::shareSearchIndex(std::shared_ptr<AccountSearchIndex> index)
{
    if (index) {
        m_searchIndex = std::move(index);
    }
}

// --- Observable state ---

void QuickSwitcherModel::setQuery(const QString &query)
{
    if (m_query != query) {
        m_query = query;
        Q_EMIT queryChanged();
    }
    setSelection(0);
}

void QuickSwitcherModel::setSelection(int selection)
{
    if (m_selection == selection) {
        return;
    }
    m_selection = selection;
    Q_EMIT selectionChanged();
}

void QuickSwitcherModel::setMode(Mode mode)
{
    if (m_mode == mode) {
        return;
    }
    m_mode = std::move(mode);
    Q_EMIT modeChanged();
}

void QuickSwitcherModel::setChoosingRegion(bool value)
{
    if (m_choosingRegion != value) {
        m_choosingRegion = value;
        Q_EMIT choosingRegionChanged();
    }
}

void QuickSwitcherModel::setChoosingAction(bool value)
{
    if (m_choosingAction != value) {
        m_choosingAction = value;
        Q_EMIT choosingActionChanged();
    }
}

void QuickSwitcherModel::setChoosingGroup(bool value)
{
    if (m_choosingGroup != value) {
        m_choosingGroup = value;
        Q_EMIT choosingGroupChanged();
    }
}

void QuickSwitcherModel::setChoosingAWSProfile(bool value)
{
    if (m_choosingAWSProfile != value) {
        m_choosingAWSProfile = value;
        Q_EMIT choosingAWSProfileChanged();
    }
}

void QuickSwitcherModel::setFlash(std::optional<QString> flash)
{
    if (m_flash != flash) {
        m_flash = std::move(flash);
        Q_EMIT flashChanged();
    }
}

bool QuickSwitcherModel::isMenuOrPickerOpen() const
{
    return m_choosingAction || m_choosingAWSProfile || m_choosingGroup || m_choosingRegion;
}

// --- Lists ---

QuickSwitcherModel::ListKind QuickSwitcherModel::currentList() const
{
    if (m_choosingAction) {
        return ListKind::actions;
    }
    if (m_choosingAWSProfile) {
        return ListKind::awsProfiles;
    }
    if (m_choosingGroup) {
        return ListKind::groups;
    }
    if (m_choosingRegion) {
        return ListKind::regions;
    }
    switch (m_mode.kind) {
    case Mode::Kind::roles:
        return ListKind::roles;
    case Mode::Kind::services:
        return ListKind::services;
    case Mode::Kind::accounts:
        break;
    }
    return ListKind::accounts;
}

int QuickSwitcherModel::resultCount() const
{
    switch (currentList()) {
    case ListKind::actions:
        return int(actionResults().size());
    case ListKind::awsProfiles:
        return int(profileChoices().size());
    case ListKind::groups:
        return int(groupChoices().size());
    case ListKind::regions:
        return int(regionResults().size());
    case ListKind::roles:
        return int(roleResults().size());
    case ListKind::services:
        return int(serviceResults().size());
    case ListKind::accounts:
        break;
    }
    return int(accountResults().size());
}

QString QuickSwitcherModel::placeholder() const
{
    switch (currentList()) {
    case ListKind::actions:
        return QStringLiteral("Search actions\u2026");
    case ListKind::awsProfiles:
        return QStringLiteral("Search AWS profiles\u2026");
    case ListKind::groups:
        return QStringLiteral("Search or create a group\u2026");
    case ListKind::regions:
        return QStringLiteral("Search AWS regions\u2026");
    case ListKind::roles:
        return QStringLiteral("Search roles\u2026");
    case ListKind::services:
        return QStringLiteral("Search services\u2026");
    case ListKind::accounts:
        break;
    }
    return QStringLiteral("Search AWS accounts\u2026");
}

AccountList QuickSwitcherModel::accountResults() const
{
    return accountResultsFor(m_query);
}

AccountList QuickSwitcherModel::accountResultsFor(const QString &query) const
{
    const Organization &organization = m_store.organization();
    m_searchIndex->update(m_store.accounts(), organization.accountGroups);
    if (query.trimmed().isEmpty()) {
        return m_searchIndex->browse(organization.pinnedAccountIds, organization.groupNames);
    }
    m_searchIndex->setPinnedAccountIds(organization.pinnedAccountIds);
    return m_searchIndex->search(query);
}

QStringList QuickSwitcherModel::roleResults() const
{
    if (!m_mode.isRoles()) {
        return {};
    }
    return rankNames(m_mode.account.roles, m_query);
}

QList<ConsoleService> QuickSwitcherModel::serviceResults() const
{
    if (!m_mode.isServices()) {
        return {};
    }
    const Organization &organization = m_store.organization();
    const QStringList &pinned = organization.pinnedServiceNames;
    QList<ConsoleService> services =
        orderedConsoleServices(pinned, organization.disabledServiceNames);
    const auto firstUnpinned = std::find_if(
        services.begin(), services.end(), [&](const auto &s) { return !pinned.contains(s.name); });
    services.insert(firstUnpinned, consoleHome());
    if (m_query.trimmed().isEmpty()) {
        return services;
    }

    QStringList names;
    names.reserve(services.size());
    for (const ConsoleService &service : std::as_const(services)) {
        names.append(service.name);
    }
    QList<ConsoleService> ranked;
    for (const QString &name : rankNames(names, m_query)) {
        ranked.append(services.at(names.indexOf(name)));
    }
    std::stable_partition(ranked.begin(), ranked.end(),
                          [&](const ConsoleService &s) { return pinned.contains(s.name); });
    return ranked;
}

QString QuickSwitcherModel::regionFor(const AWSAccount &account) const
{
    return m_store.consoleRegionForAccount(account.accountId);
}

QList<QuickResultAction> QuickSwitcherModel::fullActionList(const ActionTarget &target) const
{
    using Kind = QuickResultAction::Kind;
    const AWSAccount &account = target.account;
    const Organization &organization = m_store.organization();
    const QString region = regionFor(account);
    QList<QuickResultAction> actions;

    const auto addRoleActions = [&](const QString &role) {
        actions.append({QStringLiteral("open"), QStringLiteral("Open Console"),
                        role + middleDot + region, Kind::open});
        actions.append({QStringLiteral("services"), QStringLiteral("Browse Services"), role,
                        Kind::browseServices});
        actions.append({QStringLiteral("copy-link"), QStringLiteral("Copy Console Link"), role,
                        Kind::copyConsoleLink});
    };
    switch (target.kind) {
    case ActionTarget::Kind::account:
        if (account.roles.size() == 1) {
            addRoleActions(account.roles.first());
        } else if (account.roles.size() > 1) {
            actions.append({QStringLiteral("roles"), QStringLiteral("Browse Roles"),
                            roleCountText(account.roles.size()), Kind::browseRoles});
        }
        break;
    case ActionTarget::Kind::role:
        addRoleActions(target.role);
        break;
    case ActionTarget::Kind::service:
        actions.append({QStringLiteral("open"), QStringLiteral("Open ") + target.service.name,
                        target.role + middleDot + region, Kind::open});
        actions.append({QStringLiteral("copy-link"), QStringLiteral("Copy Console Link"),
                        target.service.name, Kind::copyConsoleLink});
        break;
    }

    actions.append(
        {QStringLiteral("region"), QStringLiteral("Change Region"), region, Kind::changeRegion});
    const auto group = organization.accountGroups.constFind(account.accountId);
    if (group != organization.accountGroups.cend()) {
        actions.append({QStringLiteral("group"), QStringLiteral("Change Group"), group.value(),
                        Kind::changeGroup});
    } else {
        actions.append({QStringLiteral("group"), QStringLiteral("Assign to Group"),
                        QStringLiteral("No group"), Kind::changeGroup});
    }
    actions.append({QStringLiteral("copy-id"), QStringLiteral("Copy Account ID"), account.accountId,
                    Kind::copyAccountId});
    if (!m_actionProfileNames.isEmpty()) {
        const QString subtitle = m_actionProfileNames.size() == 1
                                     ? m_actionProfileNames.first()
                                     : QString::number(m_actionProfileNames.size()) +
                                           QStringLiteral(" matching profiles");
        actions.append({QStringLiteral("copy-profile"), QStringLiteral("Copy AWS Profile"),
                        subtitle, Kind::browseAWSProfiles});
    }
    if (target.kind == ActionTarget::Kind::service && target.service != consoleHome()) {
        const bool pinned = organization.pinnedServiceNames.contains(target.service.name);
        actions.append({QStringLiteral("pin-service"),
                        pinned ? QStringLiteral("Unpin Service") : QStringLiteral("Pin Service"),
                        target.service.name, Kind::toggleServicePin});
    } else {
        const bool pinned = organization.pinnedAccountIds.contains(account.accountId);
        actions.append({QStringLiteral("pin-account"),
                        pinned ? QStringLiteral("Unpin Account") : QStringLiteral("Pin Account"),
                        account.accountName, Kind::toggleAccountPin});
    }
    return actions;
}

QList<QuickResultAction> QuickSwitcherModel::actionResults() const
{
    if (!m_choosingAction || !m_actionTarget) {
        return {};
    }
    QList<QuickResultAction> actions = fullActionList(*m_actionTarget);
    const QStringList terms = searchTerms(m_query);
    if (!terms.isEmpty()) {
        actions.removeIf([&](const QuickResultAction &action) {
            return !containsAllTerms(action.title + u' ' + action.subtitle.value_or(QString()),
                                     terms);
        });
    }
    return actions;
}

QList<QuickGroupChoice> QuickSwitcherModel::groupChoices() const
{
    using Kind = QuickGroupChoice::Kind;
    const QStringList &groupNames = m_store.organization().groupNames;
    QList<QuickGroupChoice> choices;
    choices.append({QStringLiteral("no-group"),
                    QStringLiteral("No Group"),
                    QStringLiteral("Remove this account from its group"),
                    Kind::noGroup,
                    {}});
    for (const QString &name : groupNames) {
        choices.append({QStringLiteral("group:") + name, name, std::nullopt, Kind::existing, name});
    }

    const QString typed = m_query.trimmed();
    if (typed.isEmpty()) {
        return choices;
    }
    const QStringList terms = searchTerms(typed);
    choices.removeIf([&](const QuickGroupChoice &choice) {
        return !containsAllTerms(choice.title + u' ' + choice.subtitle.value_or(QString()), terms);
    });
    const bool exists = std::any_of(groupNames.cbegin(), groupNames.cend(), [&](const QString &n) {
        return n.compare(typed, Qt::CaseInsensitive) == 0;
    });
    if (!exists) {
        choices.append({QStringLiteral("create:") + typed.toLower(),
                        QStringLiteral("Create \u201C") + typed + QStringLiteral("\u201D"),
                        QStringLiteral("New group"), Kind::create, typed});
    }
    return choices;
}

QStringList QuickSwitcherModel::profileChoices() const
{
    const QStringList terms = searchTerms(m_query);
    if (terms.isEmpty()) {
        return m_awsProfilePickerNames;
    }
    QStringList names;
    for (const QString &name : m_awsProfilePickerNames) {
        if (containsAllTerms(name, terms)) {
            names.append(name);
        }
    }
    return names;
}

QList<ConsoleRegion> QuickSwitcherModel::regionResults() const
{
    return filterConsoleRegions(
        m_query, enabledConsoleRegions(m_store.organization().disabledConsoleRegionIds));
}

// --- What the screen is about ---

std::optional<AWSAccount> QuickSwitcherModel::currentAccount() const
{
    if (m_choosingAction) {
        return m_actionTarget ? std::optional(m_actionTarget->account) : std::nullopt;
    }
    if (m_choosingAWSProfile) {
        return m_awsProfileAccount;
    }
    if (m_choosingGroup) {
        return m_groupAccount;
    }
    if (m_choosingRegion) {
        return m_regionAccount;
    }
    if (!m_mode.isAccounts()) {
        return m_mode.account;
    }
    const AccountList accounts = accountResults();
    if (!isSelectionWithin(accounts.size())) {
        return std::nullopt;
    }
    return accounts.at(m_selection);
}

std::optional<QuickActionTarget> QuickSwitcherModel::actionTargetForSelection() const
{
    switch (m_mode.kind) {
    case Mode::Kind::roles: {
        const QStringList roles = roleResults();
        if (!isSelectionWithin(roles.size())) {
            return std::nullopt;
        }
        return ActionTarget::forRole(m_mode.account, roles.at(m_selection));
    }
    case Mode::Kind::services: {
        const QList<ConsoleService> services = serviceResults();
        if (!isSelectionWithin(services.size())) {
            return std::nullopt;
        }
        return ActionTarget::forService(m_mode.account, m_mode.role, services.at(m_selection));
    }
    case Mode::Kind::accounts:
        break;
    }
    const AccountList accounts = accountResults();
    if (!isSelectionWithin(accounts.size())) {
        return std::nullopt;
    }
    return ActionTarget::forAccount(accounts.at(m_selection));
}

bool QuickSwitcherModel::isCurrentGroupChoice(const QuickGroupChoice &choice) const
{
    const auto account = currentAccount();
    const auto &groups = m_store.organization().accountGroups;
    const auto group = account ? groups.constFind(account->accountId) : groups.cend();
    switch (choice.kind) {
    case QuickGroupChoice::Kind::existing:
        return group != groups.cend() && group.value() == choice.groupName;
    case QuickGroupChoice::Kind::create:
        return false;
    case QuickGroupChoice::Kind::noGroup:
        break;
    }
    return group == groups.cend();
}

int QuickSwitcherModel::clampedSelection(int saved) const
{
    return std::min(std::max(resultCount() - 1, 0), saved);
}

// --- Rows ---

QList<QuickSwitcherResultRow> QuickSwitcherModel::rows(int first, int count) const
{
    return rowWindow(first, count).rows;
}

QuickSwitcherRowWindow QuickSwitcherModel::rowWindow(int first, int count) const
{
    QuickSwitcherRowWindow result;
    QList<QuickSwitcherResultRow> &rows = result.rows;
    // Each list is computed once for the whole window of rows.
    int end = 0;
    const auto window = [&](qsizetype total) {
        result.total = int(total);
        first = std::clamp(first, 0, int(total));
        end = count < 0 ? int(total) : std::min(int(total), first + count);
        rows.reserve(end - first);
    };
    const auto activateAt = [model = QPointer(const_cast<QuickSwitcherModel *>(this))](int i) {
        return [model, i] {
            if (model) {
                model->setSelection(i);
                model->activateSelection();
            }
        };
    };
    const auto addRow = [&](int i, QuickSwitcherResultRow row) {
        row.selected = i == m_selection;
        row.activate = activateAt(i);
        rows.append(std::move(row));
    };
    const Organization &organization = m_store.organization();

    switch (currentList()) {
    case ListKind::accounts: {
        const AccountList accounts = accountResults();
        window(accounts.size());
        const QSet<QString> pinned(organization.pinnedAccountIds.cbegin(),
                                   organization.pinnedAccountIds.cend());
        for (int i = first; i < end; ++i) {
            const AWSAccount &account = accounts.at(i);
            QuickSwitcherResultRow row;
            row.title = account.accountName;
            row.subtitle = account.accountId;
            row.trailing = account.roles.size() == 1 ? account.roles.first()
                                                     : roleCountText(account.roles.size());
            const auto group = organization.accountGroups.constFind(account.accountId);
            if (group != organization.accountGroups.cend()) {
                row.tag = group.value();
            }
            row.pinned = pinned.contains(account.accountId);
            row.showChevron = !account.roles.isEmpty();
            addRow(i, std::move(row));
        }
        break;
    }
    case ListKind::roles: {
        const QStringList roles = roleResults();
        window(roles.size());
        for (int i = first; i < end; ++i) {
            QuickSwitcherResultRow row;
            row.title = roles.at(i);
            row.showChevron = true;
            addRow(i, std::move(row));
        }
        break;
    }
    case ListKind::services: {
        const QList<ConsoleService> services = serviceResults();
        window(services.size());
        for (int i = first; i < end; ++i) {
            QuickSwitcherResultRow row;
            row.title = services.at(i).name;
            row.pinned = organization.pinnedServiceNames.contains(services.at(i).name);
            addRow(i, std::move(row));
        }
        break;
    }
    case ListKind::actions: {
        const QList<QuickResultAction> actions = actionResults();
        window(actions.size());
        for (int i = first; i < end; ++i) {
            QuickSwitcherResultRow row;
            row.title = actions.at(i).title;
            row.subtitle = actions.at(i).subtitle;
            row.showChevron = actions.at(i).leadsFurther();
            addRow(i, std::move(row));
        }
        break;
    }
    case ListKind::groups: {
        const QList<QuickGroupChoice> choices = groupChoices();
        window(choices.size());
        for (int i = first; i < end; ++i) {
            QuickSwitcherResultRow row;
            row.title = choices.at(i).title;
            row.subtitle = choices.at(i).subtitle;
            if (isCurrentGroupChoice(choices.at(i))) {
                row.trailing = currentMarker;
            }
            addRow(i, std::move(row));
        }
        break;
    }
    case ListKind::regions: {
        const QList<ConsoleRegion> regions = regionResults();
        window(regions.size());
        const auto account = currentAccount();
        const std::optional<QString> current =
            account ? std::optional(regionFor(*account)) : std::nullopt;
        for (int i = first; i < end; ++i) {
            QuickSwitcherResultRow row;
            row.title = regions.at(i).name;
            row.subtitle = regions.at(i).id;
            if (current == regions.at(i).id) {
                row.trailing = currentMarker;
            }
            addRow(i, std::move(row));
        }
        break;
    }
    case ListKind::awsProfiles: {
        const QStringList names = profileChoices();
        window(names.size());
        for (int i = first; i < end; ++i) {
            QuickSwitcherResultRow row;
            row.title = names.at(i);
            addRow(i, std::move(row));
        }
        break;
    }
    }
    return result;
}

} // namespace tessera
