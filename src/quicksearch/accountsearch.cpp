#include "quicksearch/accountsearch.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <limits>

namespace tessera {

namespace {

enum class Match
{
    none,
    subsequence,
    substring,
    wordPrefix,
    prefix
};

// Scores by kind of match, indexed by Match.
constexpr int nameScores[] = {0, 20, 60, 80, 100};
constexpr int roleScores[] = {0, 10, 40, 60, 80};
constexpr int groupPenalty = 10;
constexpr int idPrefixScore = 70;
constexpr int idSubstringScore = 50;
constexpr int pinnedBonus = 15;

int nameScore(Match match)
{
    return nameScores[int(match)];
}
int roleScore(Match match)
{
    return roleScores[int(match)];
}
int groupScore(Match match)
{
    return match == Match::none ? 0 : nameScore(match) - groupPenalty;
}

// One bit per letter and digit; other characters share the remaining bits, which can only
// make the filter let more through, never less.
inline quint64 characterBit(char16_t c)
{
    if (c >= u'a' && c <= u'z') {
        return quint64(1) << (c - u'a');
    }
    if (c >= u'0' && c <= u'9') {
        return quint64(1) << (26 + (c - u'0'));
    }
    return quint64(1) << (36 + c % 28);
}

quint64 characterMask(QStringView text)
{
    quint64 mask = 0;
    for (QChar c : text) {
        mask |= characterBit(c.unicode());
    }
    return mask;
}

// Calls `visit(position, codePoint)` for every code point of `text`.
template<typename Visit> void forEachCodePoint(QStringView text, Visit visit)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            visit(i, QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
        } else {
            visit(i, char32_t(c.unicode()));
        }
    }
}

bool isWordCharacter(char32_t codePoint)
{
    return QChar::isLetterOrNumber(codePoint);
}

qsizetype characterCount(QStringView text)
{
    qsizetype count = 0;
    forEachCodePoint(text, [&](qsizetype, char32_t) { ++count; });
    return count;
}

bool isWordLike(QStringView term)
{
    bool wordLike = true;
    forEachCodePoint(term,
                     [&](qsizetype, char32_t c) { wordLike = wordLike && isWordCharacter(c); });
    return wordLike;
}

// Where the words of `text` start: a letter or digit that follows anything else.
template<typename Append> void collectWordStarts(QStringView text, Append append)
{
    bool previousIsWord = false;
    forEachCodePoint(text, [&](qsizetype position, char32_t c) {
        const bool isWord = isWordCharacter(c);
        if (isWord && !previousIsWord) {
            append(quint32(position));
        }
        previousIsWord = isWord;
    });
}

// The match kind of `term` in the folded `text` whose words start at `wordStarts`.
Match matchFolded(QStringView text, const quint32 *wordStarts, quint32 wordCount, QStringView term,
                  bool termIsWordLike, bool subsequenceAllowed)
{
    if (term.size() > text.size()) {
        return Match::none;
    }
    if (text.startsWith(term)) {
        return Match::prefix;
    }
    const qsizetype at = text.indexOf(term);
    if (at < 0) {
        return subsequenceAllowed && isSubsequence(term, text) ? Match::subsequence : Match::none;
    }
    // A term with a separator in it can never be the start of a word.
    if (termIsWordLike) {
        const QChar first = term.front();
        for (quint32 k = 0; k < wordCount; ++k) {
            const qsizetype start = wordStarts[k];
            if (start < at) {
                continue;
            }
            if (start + term.size() > text.size()) {
                break;
            }
            if (text[start] == first && text.sliced(start, term.size()) == term) {
                return Match::wordPrefix;
            }
        }
    }
    return Match::substring;
}

Match matchText(const QString &text, const QString &term)
{
    const QString folded = foldedForSearch(text);
    std::vector<quint32> starts;
    collectWordStarts(folded, [&](quint32 start) { starts.push_back(start); });
    return matchFolded(folded, starts.data(), quint32(starts.size()), term, isWordLike(term),
                       characterCount(term) >= 2);
}

QCollator localizedNameCollator()
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Splits at white space into views of `text`.
template<typename Append> void splitAtWhiteSpace(QStringView text, Append append)
{
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool space = i == text.size() || text[i].isSpace();
        if (space) {
            if (start >= 0) {
                append(text.sliced(start, i - start));
                start = -1;
            }
        } else if (start < 0) {
            start = i;
        }
    }
}

} // namespace

QString foldedForSearch(const QString &text)
{
    return text.toLower().normalized(QString::NormalizationForm_C);
}

QStringList searchTerms(const QString &query)
{
    QStringList terms;
    const QString folded = foldedForSearch(query);
    splitAtWhiteSpace(folded, [&](QStringView term) { terms.append(term.toString()); });
    return terms;
}

bool containsAllTerms(const QString &text, const QStringList &terms)
{
    if (terms.isEmpty()) {
        return true;
    }
    const QString folded = foldedForSearch(text);
    return std::all_of(terms.cbegin(), terms.cend(),
                       [&](const QString &term) { return folded.contains(term); });
}

bool isSubsequence(QStringView term, QStringView folded)
{
    if (characterCount(term) < 2) {
        return false;
    }
    qsizetype position = 0;
    for (QChar c : term) {
        const qsizetype found = folded.indexOf(c, position);
        if (found < 0) {
            return false;
        }
        position = found + 1;
    }
    return true;
}

std::optional<int> fieldScore(const QString &text, const QString &term)
{
    const Match match = matchText(text, term);
    if (match == Match::none) {
        return std::nullopt;
    }
    return nameScore(match);
}

QStringList rankNames(const QStringList &names, const QString &query)
{
    const QStringList terms = searchTerms(query);
    if (terms.isEmpty()) {
        return names;
    }
    struct Ranked
    {
        int score;
        QString name;
    };
    std::vector<Ranked> ranked;
    for (const QString &name : names) {
        int total = 0;
        bool matchesEvery = true;
        for (const QString &term : terms) {
            const auto score = fieldScore(name, term);
            if (!score) {
                matchesEvery = false;
                break;
            }
            total += *score;
        }
        if (matchesEvery) {
            ranked.push_back({total, name});
        }
    }
    const QCollator collator = localizedNameCollator();
    std::stable_sort(ranked.begin(), ranked.end(), [&](const Ranked &a, const Ranked &b) {
        if (a.score != b.score) {
            return a.score > b.score;
        }
        return collator.compare(a.name, b.name) < 0;
    });
    QStringList result;
    result.reserve(qsizetype(ranked.size()));
    for (const Ranked &entry : ranked) {
        result.append(entry.name);
    }
    return result;
}

QList<AWSAccount> searchAccounts(const QList<AWSAccount> &accounts, const QString &query,
                                 const QSet<QString> &pinnedAccountIds,
                                 const QMap<QString, QString> &accountGroups)
{
    if (searchTerms(query).isEmpty()) {
        return accounts;
    }
    AccountSearchIndex index;
    index.update(accounts, accountGroups);
    index.setPinnedAccountIds(pinnedAccountIds);
    return index.search(query);
}

std::optional<int> accountSearchScore(const AWSAccount &account, const QString &query, bool pinned,
                                      const std::optional<QString> &group)
{
    QMap<QString, QString> groups;
    if (group) {
        groups.insert(account.accountId, *group);
    }
    AccountSearchIndex index;
    index.update({account}, groups);
    index.setPinnedAccountIds(pinned ? QSet<QString>{account.accountId} : QSet<QString>{});
    return index.score(0, query);
}

// --- AccountSearchIndex ---

int AccountSearchIndex::FieldTable::add(QStringView text, bool withWords)
{
    Field field;
    field.offset = quint32(m_chars.size());
    field.length = quint32(text.size());
    field.mask = characterMask(text);
    field.wordStarts = quint32(m_wordStarts.size());
    if (withWords) {
        collectWordStarts(text, [&](quint32 start) { m_wordStarts.push_back(start); });
    }
    field.wordCount = quint32(m_wordStarts.size()) - field.wordStarts;
    m_chars.append(text);
    m_fields.push_back(field);
    return int(m_fields.size()) - 1;
}

void AccountSearchIndex::FieldTable::clear()
{
    m_chars.clear();
    m_wordStarts.clear();
    m_fields.clear();
}

QStringView AccountSearchIndex::FieldTable::text(const Field &field) const
{
    return QStringView(m_chars).sliced(field.offset, field.length);
}

const quint32 *AccountSearchIndex::FieldTable::wordStarts(const Field &field) const
{
    return m_wordStarts.data() + field.wordStarts;
}

AccountSearchIndex::AccountSearchIndex() = default;
AccountSearchIndex::~AccountSearchIndex() = default;

void AccountSearchIndex::update(const QList<AWSAccount> &accounts,
                                const QMap<QString, QString> &accountGroups)
{
    const bool accountsChanged =
        !m_accounts.isSharedWith(accounts) || m_entries.size() != size_t(accounts.size());
    if (accountsChanged) {
        m_accounts = accounts;
        m_accountGroups = accountGroups;
        rebuildAccounts();
        rebuildGroups();
    } else if (!m_accountGroups.isSharedWith(accountGroups)) {
        m_accountGroups = accountGroups;
        rebuildGroups();
    }
}

void AccountSearchIndex::rebuildAccounts()
{
    m_accountFields.clear();
    m_entries.clear();
    m_entries.reserve(size_t(m_accounts.size()));
    m_firstEntryById.clear();
    m_firstEntryById.reserve(m_accounts.size());
    m_pinnedStale = true;

    for (qsizetype i = 0; i < m_accounts.size(); ++i) {
        const AWSAccount &account = m_accounts.at(i);
        Entry entry;
        entry.name = m_accountFields.add(foldedForSearch(account.accountName), true);
        entry.id = m_accountFields.add(account.accountId, false);
        entry.firstRole = entry.id + 1;
        for (const QString &role : account.roles) {
            m_accountFields.add(foldedForSearch(role), true);
        }
        entry.roleCount = int(account.roles.size());
        for (int f = entry.name; f < entry.firstRole + entry.roleCount; ++f) {
            entry.ownMask |= m_accountFields.field(f).mask;
        }
        entry.mask = entry.ownMask;
        m_entries.push_back(entry);
        if (!m_firstEntryById.contains(account.accountId)) {
            m_firstEntryById.insert(account.accountId, int(i));
        }
    }

    // Ties in score are ordered by name; ranking every name once turns each later
    // comparison into an integer one.
    const QCollator collator = localizedNameCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(m_entries.size());
    for (const AWSAccount &account : std::as_const(m_accounts)) {
        // Folded first: sort keys of the C locale ignore the collator's case setting.
        keys.push_back(collator.sortKey(account.accountName.toCaseFolded()));
    }
    std::vector<int> order(m_entries.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = int(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    int rank = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && keys[size_t(order[k - 1])].compare(keys[size_t(order[k])]) != 0) {
            ++rank;
        }
        m_entries[size_t(order[k])].nameRank = rank;
    }
}

void AccountSearchIndex::rebuildGroups()
{
    m_groupFields.clear();
    m_groupNames.clear();
    QHash<QString, int> fieldOfGroup;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        Entry &entry = m_entries[i];
        entry.group = -1;
        entry.mask = entry.ownMask;
        const auto found = m_accountGroups.constFind(m_accounts.at(qsizetype(i)).accountId);
        if (found == m_accountGroups.cend()) {
            continue;
        }
        auto field = fieldOfGroup.constFind(found.value());
        if (field == fieldOfGroup.cend()) {
            field = fieldOfGroup.insert(found.value(),
                                        m_groupFields.add(foldedForSearch(found.value()), true));
            m_groupNames.append(found.value());
        }
        entry.group = field.value();
        entry.mask |= m_groupFields.field(entry.group).mask;
    }
}

void AccountSearchIndex::setPinnedAccountIds(const QStringList &pinnedAccountIds)
{
    if (!m_pinnedStale && m_pinnedIds.isSharedWith(pinnedAccountIds)) {
        return;
    }
    m_pinnedIds = pinnedAccountIds;
    setPinnedAccountIds(QSet<QString>(pinnedAccountIds.cbegin(), pinnedAccountIds.cend()));
}

void AccountSearchIndex::setPinnedAccountIds(const QSet<QString> &pinnedAccountIds)
{
    m_pinned.assign(m_entries.size(), 0);
    for (qsizetype i = 0; i < m_accounts.size(); ++i) {
        m_pinned[size_t(i)] = pinnedAccountIds.contains(m_accounts.at(i).accountId) ? 1 : 0;
    }
    m_pinnedStale = false;
}

int AccountSearchIndex::scoreTerm(const Entry &entry, const Term &term) const
{
    if (term.mask & ~entry.mask) {
        return 0;
    }
    const auto match = [&](const FieldTable &table, int index) {
        const Field &field = table.field(index);
        if (term.mask & ~field.mask) {
            return Match::none;
        }
        return matchFolded(table.text(field), table.wordStarts(field), field.wordCount, term.text,
                           term.wordLike, term.longEnoughForSubsequence);
    };

    // Fields in order of their best possible score, so that a perfect match ends the search.
    int best = nameScore(match(m_accountFields, entry.name));
    if (best >= nameScores[int(Match::prefix)]) {
        return best;
    }
    if (entry.group >= 0) {
        best = std::max(best, groupScore(match(m_groupFields, entry.group)));
    }
    for (int r = 0; r < entry.roleCount && best < roleScores[int(Match::prefix)]; ++r) {
        best = std::max(best, roleScore(match(m_accountFields, entry.firstRole + r)));
    }
    if (best < idPrefixScore) {
        const Field &id = m_accountFields.field(entry.id);
        if (!(term.mask & ~id.mask)) {
            const QStringView text = m_accountFields.text(id);
            if (text.startsWith(term.text)) {
                best = idPrefixScore;
            } else if (text.contains(term.text)) {
                best = std::max(best, idSubstringScore);
            }
        }
    }
    return best;
}

bool AccountSearchIndex::prepareTerms(const QString &folded) const
{
    m_terms.clear();
    splitAtWhiteSpace(folded, [&](QStringView text) {
        m_terms.push_back({text, characterMask(text), isWordLike(text), characterCount(text) >= 2});
    });
    return !m_terms.empty();
}

int AccountSearchIndex::scoreEntry(size_t index) const
{
    const Entry &entry = m_entries[index];
    int total = 0;
    for (const Term &term : m_terms) {
        const int score = scoreTerm(entry, term);
        if (score == 0) {
            return -1;
        }
        total += score;
    }
    if (index < m_pinned.size() && m_pinned[index]) {
        total += pinnedBonus;
    }
    return total;
}

std::optional<int> AccountSearchIndex::score(qsizetype index, const QString &query) const
{
    const QString folded = foldedForSearch(query);
    if (index < 0 || size_t(index) >= m_entries.size() || !prepareTerms(folded)) {
        return std::nullopt;
    }
    const int score = scoreEntry(size_t(index));
    return score >= 0 ? std::optional(score) : std::nullopt;
}

QList<AWSAccount> AccountSearchIndex::search(const QString &query) const
{
    // The terms are views into `folded`, which outlives every use of them below.
    const QString folded = foldedForSearch(query);
    if (!prepareTerms(folded)) {
        return m_accounts;
    }
    m_hits.clear();
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const int score = scoreEntry(i);
        if (score >= 0) {
            m_hits.push_back({score, m_entries[i].nameRank, int(i)});
        }
    }
    std::sort(m_hits.begin(), m_hits.end(), [](const Hit &a, const Hit &b) {
        if (a.score != b.score) {
            return a.score > b.score;
        }
        if (a.nameRank != b.nameRank) {
            return a.nameRank < b.nameRank;
        }
        return a.index < b.index;
    });

    QList<AWSAccount> result;
    result.reserve(qsizetype(m_hits.size()));
    for (const Hit &hit : m_hits) {
        result.append(m_accounts.at(hit.index));
    }
    return result;
}

QList<AWSAccount> AccountSearchIndex::browse(const QStringList &pinnedAccountIds,
                                             const QStringList &groupNames) const
{
    QList<AWSAccount> result;
    result.reserve(m_accounts.size());
    std::vector<char> listed(size_t(m_accounts.size()), 0);
    const auto list = [&](int index) {
        listed[size_t(index)] = 1;
        result.append(m_accounts.at(index));
    };

    for (const QString &id : pinnedAccountIds) {
        const auto found = m_firstEntryById.constFind(id);
        if (found != m_firstEntryById.cend() && !listed[size_t(found.value())]) {
            list(found.value());
        }
    }

    // Position of each known group in groupNames (its first occurrence), or none.
    std::vector<int> groupOrder(size_t(m_groupNames.size()), -1);
    for (qsizetype g = 0; g < m_groupNames.size(); ++g) {
        groupOrder[size_t(g)] = int(groupNames.indexOf(m_groupNames.at(g)));
    }
    std::vector<std::pair<int, int>> grouped; // (group position, account index)
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const int group = m_entries[i].group;
        if (group >= 0 && groupOrder[size_t(group)] >= 0 && !listed[i]) {
            grouped.emplace_back(groupOrder[size_t(group)], int(i));
        }
    }
    std::stable_sort(grouped.begin(), grouped.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[order, index] : grouped) {
        list(index);
    }

    for (qsizetype i = 0; i < m_accounts.size(); ++i) {
        if (!listed[size_t(i)]) {
            list(int(i));
        }
    }
    return result;
}

} // namespace tessera
