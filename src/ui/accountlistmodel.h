#pragma once

#include "quicksearch/accountsearch.h"
#include "ui/accountsections.h"

#include <QAbstractItemModel>
#include <QSet>
#include <vector>

namespace tessera {

// The panel's account list as a tree: section headers with their accounts, or the search
// result's accounts at the top; under each account its roles. Rows are computed from a
// position in these lists, so the model holds no per-row objects and a view lays out
// only what it shows.
class AccountListModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum class Kind
    {
        section,
        account,
        role,
        // The line under an unfolded group without accounts.
        emptyGroupHint,
        // The line under an unfolded account without roles.
        noRoles,
    };
    enum DataRole
    {
        KindRole = Qt::UserRole + 1,
        // "section:<key>", "account:<id>", "role:<name>", "emptyGroupHint", "noRoles".
        EntryNameRole,
        AccountIdRole,
        // Accounts in a section.
        CountRole,
        PinnedRole,
    };

    explicit AccountListModel(QObject *parent = nullptr);

    // Pinned, groups, other. When the change moves one account from one section to
    // another (a pin, a move to a group) one row moves; any other change resets the model.
    void showSections(const QList<AWSAccount> &accounts, const Organization &organization);
    void showResults(const AccountList &results, const Organization &organization);
    void clear();

    bool showsResults() const { return m_showsResults; }
    // For a valid index of this model.
    Kind kind(const QModelIndex &index) const;
    // The account of an account row or of one of its role rows; null for other rows.
    const AWSAccount *account(const QModelIndex &index) const;
    QString roleName(const QModelIndex &index) const;
    // The folding key of a section row; empty for other rows.
    QString sectionKey(const QModelIndex &index) const;
    bool isGroupSection(const QModelIndex &index) const;
    QModelIndex sectionIndex(const QString &key) const;
    QModelIndex accountIndex(const QString &accountId) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    int depth(const QModelIndex &index) const;
    bool tryMove(std::vector<AccountSection> &sections);
    void setPinned(const QStringList &pinnedAccountIds);
    const AccountSection &sectionAt(const QModelIndex &index) const;

    bool m_showsResults = false;
    QList<AWSAccount> m_accounts;
    // The sections shown: empty Pinned and Other sections are left out, empty groups kept
    // so that they can be filled or deleted.
    std::vector<AccountSection> m_sections;
    AccountList m_results;
    QStringList m_pinnedSource;
    QSet<QString> m_pinned;
};

} // namespace tessera
