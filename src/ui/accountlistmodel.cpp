#include "ui/accountlistmodel.h"

#include <algorithm>

namespace tessera {

namespace {
// An index's internal id names its parent: 0 for a top row, the parent's row + 1 for a
// row one level down, and both ancestors' rows + 1 (upper and lower half) for a role row
// under a section's account.
static_assert(sizeof(quintptr) >= 8, "the row path needs 64 bits");
constexpr int lowerBits = 32;
constexpr quintptr lowerMask = (quintptr(1) << lowerBits) - 1;

QString sectionAccountsText(qsizetype count)
{
    return qtTrId("%lld accounts").replace(QLatin1String("%lld"), QString::number(count));
}
} // namespace

AccountListModel::AccountListModel(QObject *parent)
    : QAbstractItemModel(parent)
{}

void AccountListModel::setPinned(const QStringList &pinnedAccountIds)
{
    if (m_pinnedSource.isSharedWith(pinnedAccountIds) && !m_pinnedSource.isEmpty()) {
        return;
    }
    m_pinnedSource = pinnedAccountIds;
    m_pinned = QSet<QString>(pinnedAccountIds.cbegin(), pinnedAccountIds.cend());
}

void AccountListModel::showSections(const QList<AWSAccount> &accounts,
                                    const Organization &organization)
{
    std::vector<AccountSection> sections;
    for (AccountSection &section : accountSections(accounts, organization)) {
        if (!section.accounts.empty() || section.kind == AccountSection::Kind::group) {
            sections.push_back(std::move(section));
        }
    }
    if (!m_showsResults && m_accounts.isSharedWith(accounts)) {
        setPinned(organization.pinnedAccountIds);
        if (tryMove(sections)) {
            return;
        }
    }
    beginResetModel();
    m_showsResults = false;
    m_results = {};
    m_accounts = accounts;
    m_sections = std::move(sections);
    setPinned(organization.pinnedAccountIds);
    endResetModel();
}

bool AccountListModel::tryMove(std::vector<AccountSection> &sections)
{
    if (sections.size() != m_sections.size()) {
        return false;
    }
    std::vector<size_t> changed;
    for (size_t i = 0; i < sections.size(); ++i) {
        const AccountSection &before = m_sections[i];
        const AccountSection &after = sections[i];
        if (before.kind != after.kind || before.key != after.key || before.title != after.title) {
            return false;
        }
        if (before.accounts != after.accounts) {
            changed.push_back(i);
        }
    }
    if (changed.empty()) {
        // Nothing the list shows changed (a console region, a pinned account's group).
        return true;
    }
    if (changed.size() != 2) {
        return false;
    }
    size_t from = changed[0];
    size_t to = changed[1];
    if (sections[from].accounts.size() > m_sections[from].accounts.size()) {
        std::swap(from, to);
    }
    const std::vector<int> &oldFrom = m_sections[from].accounts;
    const std::vector<int> &newFrom = sections[from].accounts;
    const std::vector<int> &oldTo = m_sections[to].accounts;
    const std::vector<int> &newTo = sections[to].accounts;
    // A section that empties or fills changes rows besides the account (a group's hint, a
    // section that appears); those changes reset.
    if (oldFrom.size() != newFrom.size() + 1 || newTo.size() != oldTo.size() + 1 ||
        newFrom.empty() || oldTo.empty()) {
        return false;
    }
    const size_t removed = size_t(
        std::mismatch(newFrom.begin(), newFrom.end(), oldFrom.begin()).first - newFrom.begin());
    const size_t inserted =
        size_t(std::mismatch(oldTo.begin(), oldTo.end(), newTo.begin()).first - oldTo.begin());
    if (oldFrom[removed] != newTo[inserted] ||
        !std::equal(oldFrom.begin() + qsizetype(removed) + 1, oldFrom.end(),
                    newFrom.begin() + qsizetype(removed)) ||
        !std::equal(newTo.begin() + qsizetype(inserted) + 1, newTo.end(),
                    oldTo.begin() + qsizetype(inserted))) {
        return false;
    }

    const QModelIndex source = index(int(from), 0);
    const QModelIndex destination = index(int(to), 0);
    if (!beginMoveRows(source, int(removed), int(removed), destination, int(inserted))) {
        return false;
    }
    m_sections = std::move(sections);
    endMoveRows();
    // The counts in both headers and the pin mark of the moved account.
    Q_EMIT dataChanged(source, source);
    Q_EMIT dataChanged(destination, destination);
    const QModelIndex moved = index(int(inserted), 0, destination);
    Q_EMIT dataChanged(moved, moved);
    return true;
}

void AccountListModel::showResults(const AccountList &results, const Organization &organization)
{
    beginResetModel();
    m_showsResults = true;
    m_results = results;
    m_sections.clear();
    m_accounts = {};
    setPinned(organization.pinnedAccountIds);
    endResetModel();
}

void AccountListModel::clear()
{
    beginResetModel();
    m_showsResults = false;
    m_results = {};
    m_sections.clear();
    m_accounts = {};
    endResetModel();
}

int AccountListModel::depth(const QModelIndex &index) const
{
    const quintptr id = index.internalId();
    if (id == 0) {
        return 0;
    }
    return (id >> lowerBits) == 0 ? 1 : 2;
}

const AccountSection &AccountListModel::sectionAt(const QModelIndex &index) const
{
    // Only called for rows inside the sectioned list.
    const quintptr id = index.internalId();
    switch (depth(index)) {
    case 0:
        return m_sections[size_t(index.row())];
    case 1:
        return m_sections[size_t(id - 1)];
    default:
        return m_sections[size_t((id >> lowerBits) - 1)];
    }
}

AccountListModel::Kind AccountListModel::kind(const QModelIndex &index) const
{
    const int level = depth(index);
    if (m_showsResults) {
        if (level == 0) {
            return Kind::account;
        }
        return account(index)->roles.isEmpty() ? Kind::noRoles : Kind::role;
    }
    switch (level) {
    case 0:
        return Kind::section;
    case 1:
        return sectionAt(index).accounts.empty() ? Kind::emptyGroupHint : Kind::account;
    default:
        return account(index)->roles.isEmpty() ? Kind::noRoles : Kind::role;
    }
}

const AWSAccount *AccountListModel::account(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    const quintptr id = index.internalId();
    const int level = depth(index);
    if (m_showsResults) {
        const qsizetype row = level == 0 ? index.row() : qsizetype(id - 1);
        return row < m_results.size() ? &m_results.at(row) : nullptr;
    }
    if (level == 0) {
        return nullptr;
    }
    const AccountSection &section = sectionAt(index);
    const size_t row = level == 1 ? size_t(index.row()) : size_t((id & lowerMask) - 1);
    return row < section.accounts.size() ? &m_accounts.at(section.accounts[row]) : nullptr;
}

QString AccountListModel::roleName(const QModelIndex &index) const
{
    if (kind(index) != Kind::role) {
        return {};
    }
    return account(index)->roles.value(index.row());
}

QString AccountListModel::sectionKey(const QModelIndex &index) const
{
    return index.isValid() && !m_showsResults && depth(index) == 0 ? sectionAt(index).key
                                                                   : QString();
}

bool AccountListModel::isGroupSection(const QModelIndex &index) const
{
    return index.isValid() && !m_showsResults && depth(index) == 0 &&
           sectionAt(index).kind == AccountSection::Kind::group;
}

QModelIndex AccountListModel::sectionIndex(const QString &key) const
{
    if (m_showsResults) {
        return {};
    }
    for (size_t i = 0; i < m_sections.size(); ++i) {
        if (m_sections[i].key == key) {
            return index(int(i), 0);
        }
    }
    return {};
}

QModelIndex AccountListModel::accountIndex(const QString &accountId) const
{
    if (m_showsResults) {
        for (qsizetype row = 0; row < m_results.size(); ++row) {
            if (m_results.at(row).accountId == accountId) {
                return index(int(row), 0);
            }
        }
        return {};
    }
    for (size_t s = 0; s < m_sections.size(); ++s) {
        const std::vector<int> &positions = m_sections[s].accounts;
        for (size_t row = 0; row < positions.size(); ++row) {
            if (m_accounts.at(positions[row]).accountId == accountId) {
                return createIndex(int(row), 0, quintptr(s + 1));
            }
        }
    }
    return {};
}

QModelIndex AccountListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent)) {
        return {};
    }
    if (!parent.isValid()) {
        return createIndex(row, 0, quintptr(0));
    }
    const quintptr parentRow = quintptr(parent.row()) + 1;
    if (depth(parent) == 0) {
        return createIndex(row, 0, parentRow);
    }
    return createIndex(row, 0, (parent.internalId() << lowerBits) | parentRow);
}

QModelIndex AccountListModel::parent(const QModelIndex &child) const
{
    const quintptr id = child.internalId();
    switch (depth(child)) {
    case 0:
        return {};
    case 1:
        return createIndex(int(id - 1), 0, quintptr(0));
    default:
        return createIndex(int((id & lowerMask) - 1), 0, id >> lowerBits);
    }
}

int AccountListModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid()) {
        return int(m_showsResults ? m_results.size() : qsizetype(m_sections.size()));
    }
    switch (kind(parent)) {
    case Kind::section: {
        const AccountSection &section = sectionAt(parent);
        return section.accounts.empty() ? 1 : int(section.accounts.size());
    }
    case Kind::account:
        return int(std::max<qsizetype>(1, account(parent)->roles.size()));
    default:
        return 0;
    }
}

int AccountListModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool AccountListModel::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid()) {
        return rowCount() > 0;
    }
    const Kind what = kind(parent);
    return what == Kind::section || what == Kind::account;
}

QVariant AccountListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid()) {
        return {};
    }
    const Kind what = kind(index);
    if (role == KindRole) {
        return int(what);
    }
    switch (what) {
    case Kind::section: {
        const AccountSection &section = sectionAt(index);
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return section.title;
        case CountRole:
            return qsizetype(section.accounts.size());
        case EntryNameRole:
            return QString(QStringLiteral("section:") + section.key);
        case Qt::AccessibleDescriptionRole:
            return sectionAccountsText(qsizetype(section.accounts.size()));
        default:
            return {};
        }
    }
    case Kind::account: {
        const AWSAccount &account = *this->account(index);
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return account.accountName;
        case AccountIdRole:
            return account.accountId;
        case PinnedRole:
            return m_pinned.contains(account.accountId);
        case EntryNameRole:
            return QString(QStringLiteral("account:") + account.accountId);
        case Qt::AccessibleDescriptionRole:
            return m_pinned.contains(account.accountId)
                       ? qtTrId("Account %1, pinned").arg(account.accountId)
                       : qtTrId("Account %1").arg(account.accountId);
        default:
            return {};
        }
    }
    case Kind::role: {
        const AWSAccount &account = *this->account(index);
        const QString name = account.roles.value(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return name;
        case AccountIdRole:
            return account.accountId;
        case EntryNameRole:
            return QString(QStringLiteral("role:") + name);
        case Qt::ToolTipRole:
            return qtTrId("Click for console home · right-click for a specific service");
        case Qt::AccessibleDescriptionRole:
            return qtTrId("Role in %1 (%2)").arg(account.accountName, account.accountId);
        default:
            return {};
        }
    }
    case Kind::emptyGroupHint:
    case Kind::noRoles:
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return what == Kind::noRoles ? qtTrId("No roles")
                                         : qtTrId("Right-click an account → Move to Group");
        case EntryNameRole:
            return what == Kind::noRoles ? QStringLiteral("noRoles")
                                         : QStringLiteral("emptyGroupHint");
        default:
            return {};
        }
    }
    return {};
}

} // namespace tessera
