#pragma once

#include "storage/records.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <iterator>
#include <optional>
#include <vector>

namespace tessera {

// The words of a query: lower-cased, split at white space, empty pieces dropped. No words
// means there is no search.
QStringList searchTerms(const QString &query);

// The form every text is compared in: full Unicode lower-casing, then canonical
// composition so that a decomposed "é" equals a precomposed one.
QString foldedForSearch(const QString &text);

// Whether every term occurs as a substring of the folded text (true when there are no
// terms). The filter of the action menu, the group and the profile pickers.
bool containsAllTerms(const QString &text, const QStringList &terms);

// Whether the term's characters appear in `folded` in order. Single characters never
// count: they would match nearly everything.
bool isSubsequence(QStringView term, QStringView folded);

// How well a term matches a text: 100 when the text starts with it, 80 when one of its
// words (runs of letters and digits) does, 60 when it occurs anywhere, 20 when its
// characters occur in order; none when it does not match at all.
std::optional<int> fieldScore(const QString &text, const QString &term);

// The names that match every word of the query, best first (ties by name under the user's
// locale, case-insensitive, then input order). Without words, the names unchanged.
QStringList rankNames(const QStringList &names, const QString &query);

// Ranks accounts by name, ID, role names and group against every word of the query, with a
// bonus for pinned accounts. Without words, the accounts unchanged.
QList<AWSAccount> searchAccounts(const QList<AWSAccount> &accounts, const QString &query,
                                 const QSet<QString> &pinnedAccountIds,
                                 const QMap<QString, QString> &accountGroups);

// The score searchAccounts gives one account for a query (pin bonus included), or none when
// some word of the query matches none of its fields.
std::optional<int> accountSearchScore(const AWSAccount &account, const QString &query, bool pinned,
                                      const std::optional<QString> &group);

// Accounts in a chosen order, as positions into one shared account list: handing out a
// ranking of thousands of accounts copies no account.
class AccountList
{
public:
    AccountList() = default;
    AccountList(QList<AWSAccount> accounts, std::vector<int> order)
        : m_accounts(std::move(accounts))
        , m_order(std::move(order))
    {}

    qsizetype size() const { return qsizetype(m_order.size()); }
    bool isEmpty() const { return m_order.empty(); }
    const AWSAccount &at(qsizetype index) const { return m_accounts.at(m_order[size_t(index)]); }
    const AWSAccount &operator[](qsizetype index) const { return at(index); }
    // Position of the first element equal to `account`, or -1.
    qsizetype indexOf(const AWSAccount &account) const;
    QList<AWSAccount> toList() const;

    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = AWSAccount;
        using difference_type = std::ptrdiff_t;
        using pointer = const AWSAccount *;
        using reference = const AWSAccount &;

        const_iterator(const AccountList *list, qsizetype index)
            : m_list(list)
            , m_index(index)
        {}
        reference operator*() const { return m_list->at(m_index); }
        pointer operator->() const { return &m_list->at(m_index); }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }
        bool operator==(const const_iterator &other) const
        {
            return m_list == other.m_list && m_index == other.m_index;
        }

    private:
        const AccountList *m_list;
        qsizetype m_index;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

    // Equal when they list equal accounts in the same order.
    bool operator==(const AccountList &other) const;

private:
    QList<AWSAccount> m_accounts;
    std::vector<int> m_order;
};

// The tables behind searchAccounts, kept between searches. Quick Search ranks the whole
// account list on every keystroke; folding, word splitting and name collation happen once
// per account list instead, and a search then allocates only its result.
class AccountSearchIndex
{
public:
    AccountSearchIndex();
    ~AccountSearchIndex();

    // Rebuilds what changed. Unchanged lists are recognised by their shared data, so
    // calling this before every search costs nothing while the store's lists stay the same.
    void update(const QList<AWSAccount> &accounts, const QMap<QString, QString> &accountGroups);
    void setPinnedAccountIds(const QStringList &pinnedAccountIds);
    void setPinnedAccountIds(const QSet<QString> &pinnedAccountIds);

    const QList<AWSAccount> &accounts() const { return m_accounts; }

    // searchAccounts over the indexed accounts.
    AccountList search(const QString &query) const;
    // The score search gives the account at `index`; none when it does not match or the
    // query has no words.
    std::optional<int> score(qsizetype index, const QString &query) const;
    // Pinned accounts in pin order, then grouped ones by group order, then the rest: the
    // list shown when nothing is typed.
    AccountList browse(const QStringList &pinnedAccountIds, const QStringList &groupNames) const;

private:
    // One text prepared for matching: its code units, where its words start, where its
    // user-perceived characters start (kept only for texts where some character spans
    // several code units), and a bit mask of the code units it holds (a term with one
    // outside the mask cannot match, which rules out most texts before any comparison).
    struct Field
    {
        static constexpr quint32 noCharacterStarts = ~quint32(0);
        quint32 offset = 0;
        quint32 length = 0;
        quint32 wordStarts = 0;
        quint32 wordCount = 0;
        quint32 characterStarts = noCharacterStarts;
        quint64 mask = 0;
    };
    class FieldTable
    {
    public:
        int add(QStringView text, bool withWords);
        void clear();
        const Field &field(int index) const { return m_fields[size_t(index)]; }
        const char16_t *characters(const Field &field) const;
        const quint32 *wordStarts(const Field &field) const;
        // Null when every position of the field starts a character.
        const char *characterStarts(const Field &field) const;

    private:
        QString m_chars;
        std::vector<quint32> m_wordStarts;
        std::vector<char> m_characterStarts;
        std::vector<Field> m_fields;
    };
    struct Term
    {
        QStringView text;
        // In m_termCharacterStarts, or Field::noCharacterStarts.
        quint32 characterStarts = Field::noCharacterStarts;
        quint64 mask = 0;
        bool wordLike = false;
        bool longEnoughForSubsequence = false;
    };
    // Entries are kept in the order of their names (then of the accounts), so that a scan
    // meets equal scores already in their final order.
    struct Entry
    {
        int account = 0; // position in m_accounts
        int name = 0;
        int id = 0;
        int firstRole = 0;
        int roleCount = 0;
        int group = -1; // field in m_groupFields
        quint64 ownMask = 0;
        quint64 mask = 0; // with the group's characters
    };
    struct Hit
    {
        int score;
        int entry;
    };

    void rebuildAccounts();
    void rebuildGroups();
    // Splits the query into m_terms; false when it has no words.
    bool prepareTerms(const QString &folded) const;
    int scoreTerm(const Entry &entry, const Term &term) const;
    // The entry's score for m_terms, or -1 when a term does not match.
    int scoreEntry(size_t entry) const;
    bool narrowsLastSearch() const;

    QList<AWSAccount> m_accounts;
    QMap<QString, QString> m_accountGroups;
    QStringList m_pinnedIds;
    bool m_pinnedStale = true;

    FieldTable m_accountFields;
    FieldTable m_groupFields;
    std::vector<Entry> m_entries;
    std::vector<int> m_entryOfAccount;
    std::vector<char> m_pinned; // by entry
    QStringList m_groupNames;   // indexed like m_groupFields
    QHash<QString, int> m_firstAccountById;

    // Scratch space reused by every search.
    mutable std::vector<Term> m_terms;
    mutable std::vector<char> m_termCharacterStarts;
    mutable std::vector<Hit> m_hits;
    mutable std::vector<int> m_bucketStarts;
    mutable std::vector<char> m_listed;

    // The previous search's words and the entries that matched them. Typing a letter only
    // lengthens a word or adds one, and an account that matches the longer words matches
    // the shorter ones too, so the next search need only look at these.
    mutable QString m_lastQuery;
    mutable std::vector<std::pair<qsizetype, qsizetype>> m_lastTerms; // in m_lastQuery
    mutable std::vector<int> m_lastMatches;
    mutable std::vector<int> m_matches;
    mutable bool m_lastValid = false;
};

} // namespace tessera
