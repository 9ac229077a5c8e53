#include "quicksearch/accountsearch.h"

#include <QCollator>
#include <QLocale>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <limits>
#include <numeric>

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

// Appends a flag for every position of `text`, and one for its end, telling whether a
// user-perceived character (grapheme cluster) starts there: "👍🏽" is one character in two
// code points and four code units, and a search must neither find "👍" in it nor match its
// halves separately. Answers false, appending nothing, when every position starts one, as
// in all text below the combining marks: the common case is then plain code-unit matching.
bool appendCharacterStarts(QStringView text, std::vector<char> &starts)
{
    bool everyPosition = true;
    for (qsizetype i = 0; i < text.size() && everyPosition; ++i) {
        const char16_t c = text[i].unicode();
        everyPosition = c < 0x300 && !(c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
    }
    if (everyPosition) {
        return false;
    }
    const size_t first = starts.size();
    starts.resize(first + size_t(text.size()) + 1, 0);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    for (qsizetype position = 0; position >= 0; position = finder.toNextBoundary()) {
        starts[first + size_t(position)] = 1;
    }
    starts.back() = 1;
    if (std::all_of(starts.begin() + qsizetype(first), starts.end(), [](char f) { return f; })) {
        starts.resize(first);
        return false;
    }
    return true;
}

// A folded text as code units, with where its characters start (null: at every position).
struct Characters
{
    const char16_t *units = nullptr;
    qsizetype length = 0;
    const char *starts = nullptr;
};

inline bool startsCharacter(const Characters &text, qsizetype position)
{
    return !text.starts || text.starts[position];
}

qsizetype characterCount(const Characters &text)
{
    if (!text.starts) {
        return text.length;
    }
    return qsizetype(std::count(text.starts, text.starts + text.length, 1));
}

// Terms are a few characters long: an inline loop beats a call to memcmp.
inline bool equalCharacters(const char16_t *a, const char16_t *b, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// Whether `term` stands at `at` in `text` as whole characters.
inline bool occursAt(const Characters &text, qsizetype at, const Characters &term)
{
    return at + term.length <= text.length &&
           equalCharacters(text.units + at, term.units, term.length) && startsCharacter(text, at) &&
           startsCharacter(text, at + term.length);
}

// Where `term` first occurs as whole characters in `text` from `from` on, or -1. Texts
// here are names of a few dozen characters, where a plain scan beats any clever search.
// (A term made of several code units per character never occurs in a text without such
// characters, so texts without boundaries need no check.)
inline qsizetype findCharacters(const Characters &text, const Characters &term, qsizetype from = 0)
{
    const char16_t first = term.units[0];
    for (qsizetype i = from; i + term.length <= text.length; ++i) {
        if (text.units[i] == first &&
            equalCharacters(text.units + i + 1, term.units + 1, term.length - 1) &&
            startsCharacter(text, i) && startsCharacter(text, i + term.length)) {
            return i;
        }
    }
    return -1;
}

inline bool isSubsequenceOf(const Characters &term, const Characters &text)
{
    if (!term.starts && !text.starts) {
        qsizetype position = 0;
        for (qsizetype k = 0; k < term.length; ++k) {
            while (position < text.length && text.units[position] != term.units[k]) {
                ++position;
            }
            if (position == text.length) {
                return false;
            }
            ++position;
        }
        return true;
    }
    // Character by character: each of the term's must stand whole in the text, in order.
    qsizetype position = 0;
    for (qsizetype k = 0; k < term.length;) {
        qsizetype end = k + 1;
        while (end < term.length && !startsCharacter(term, end)) {
            ++end;
        }
        const qsizetype at = findCharacters(text, Characters{term.units + k, end - k}, position);
        if (at < 0) {
            return false;
        }
        position = at + (end - k);
        k = end;
    }
    return true;
}

inline const char16_t *charactersOf(QStringView text)
{
    return reinterpret_cast<const char16_t *>(text.data());
}

// The characters of `text`, their starts kept in `storage`.
Characters charactersWithStarts(QStringView text, std::vector<char> &storage)
{
    storage.clear();
    const bool withStarts = appendCharacterStarts(text, storage);
    return Characters{charactersOf(text), text.size(), withStarts ? storage.data() : nullptr};
}

// The match kind of `term` in the folded `text` whose words start at `wordStarts`.
Match matchFolded(const Characters &text, const quint32 *wordStarts, quint32 wordCount,
                  const Characters &term, bool termIsWordLike, bool subsequenceAllowed)
{
    if (term.length > text.length) {
        return Match::none;
    }
    if (occursAt(text, 0, term)) {
        return Match::prefix;
    }
    const qsizetype at = findCharacters(text, term);
    if (at < 0) {
        return subsequenceAllowed && isSubsequenceOf(term, text) ? Match::subsequence : Match::none;
    }
    // A term with a separator in it can never be the start of a word.
    if (termIsWordLike) {
        for (quint32 k = 0; k < wordCount; ++k) {
            const qsizetype start = wordStarts[k];
            if (start < at) {
                continue;
            }
            if (start + term.length > text.length) {
                break;
            }
            if (occursAt(text, start, term)) {
                return Match::wordPrefix;
            }
        }
    }
    return Match::substring;
}

Match matchText(const QString &text, const QString &term)
{
    const QString folded = foldedForSearch(text);
    std::vector<quint32> wordStarts;
    collectWordStarts(folded, [&](quint32 start) { wordStarts.push_back(start); });
    std::vector<char> textStarts;
    std::vector<char> termStarts;
    const Characters termCharacters = charactersWithStarts(term, termStarts);
    return matchFolded(charactersWithStarts(folded, textStarts), wordStarts.data(),
                       quint32(wordStarts.size()), termCharacters, isWordLike(term),
                       characterCount(termCharacters) >= 2);
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
    std::vector<char> starts;
    const Characters characters = charactersWithStarts(folded, starts);
    return std::all_of(terms.cbegin(), terms.cend(), [&](const QString &term) {
        return term.isEmpty() ||
               findCharacters(characters, Characters{charactersOf(term), term.size()}) >= 0;
    });
}

bool isSubsequence(QStringView term, QStringView folded)
{
    std::vector<char> termStarts;
    std::vector<char> textStarts;
    const Characters termCharacters = charactersWithStarts(term, termStarts);
    return characterCount(termCharacters) >= 2 &&
           isSubsequenceOf(termCharacters, charactersWithStarts(folded, textStarts));
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
    return index.search(query).toList();
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

// --- AccountList ---

qsizetype AccountList::indexOf(const AWSAccount &account) const
{
    for (size_t i = 0; i < m_order.size(); ++i) {
        if (m_accounts.at(m_order[i]) == account) {
            return qsizetype(i);
        }
    }
    return -1;
}

QList<AWSAccount> AccountList::toList() const
{
    QList<AWSAccount> list;
    list.reserve(size());
    for (int position : m_order) {
        list.append(m_accounts.at(position));
    }
    return list;
}

bool AccountList::operator==(const AccountList &other) const
{
    if (size() != other.size()) {
        return false;
    }
    for (qsizetype i = 0; i < size(); ++i) {
        if (at(i) != other.at(i)) {
            return false;
        }
    }
    return true;
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
    const size_t characterStarts = m_characterStarts.size();
    if (appendCharacterStarts(text, m_characterStarts)) {
        field.characterStarts = quint32(characterStarts);
    }
    m_chars.append(text);
    m_fields.push_back(field);
    return int(m_fields.size()) - 1;
}

void AccountSearchIndex::FieldTable::clear()
{
    m_chars.clear();
    m_wordStarts.clear();
    m_characterStarts.clear();
    m_fields.clear();
}

const char16_t *AccountSearchIndex::FieldTable::characters(const Field &field) const
{
    return charactersOf(m_chars) + field.offset;
}

const quint32 *AccountSearchIndex::FieldTable::wordStarts(const Field &field) const
{
    return m_wordStarts.data() + field.wordStarts;
}

const char *AccountSearchIndex::FieldTable::characterStarts(const Field &field) const
{
    return field.characterStarts == Field::noCharacterStarts
               ? nullptr
               : m_characterStarts.data() + field.characterStarts;
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
    m_lastValid = false;
    m_pinnedStale = true;
    m_accountFields.clear();
    m_entries.clear();
    m_entries.reserve(size_t(m_accounts.size()));
    m_entryOfAccount.assign(size_t(m_accounts.size()), 0);
    m_firstAccountById.clear();
    m_firstAccountById.reserve(m_accounts.size());

    // Ties in score are ordered by name, then by position; entries sorted that way once
    // leave a search nothing to compare but scores.
    const QCollator collator = localizedNameCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(m_accounts.size()));
    for (const AWSAccount &account : std::as_const(m_accounts)) {
        // Folded first: sort keys of the C locale ignore the collator's case setting.
        keys.push_back(collator.sortKey(account.accountName.toCaseFolded()));
    }
    std::vector<int> order(size_t(m_accounts.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });

    for (int position : order) {
        const AWSAccount &account = m_accounts.at(position);
        Entry entry;
        entry.account = position;
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
        m_entryOfAccount[size_t(position)] = int(m_entries.size());
        m_entries.push_back(entry);
    }
    for (qsizetype i = m_accounts.size() - 1; i >= 0; --i) {
        m_firstAccountById.insert(m_accounts.at(i).accountId, int(i));
    }
}

void AccountSearchIndex::rebuildGroups()
{
    m_lastValid = false;
    m_groupFields.clear();
    m_groupNames.clear();
    QHash<QString, int> fieldOfGroup;
    for (Entry &entry : m_entries) {
        entry.group = -1;
        entry.mask = entry.ownMask;
        const auto found = m_accountGroups.constFind(m_accounts.at(entry.account).accountId);
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
    for (size_t e = 0; e < m_entries.size(); ++e) {
        m_pinned[e] = pinnedAccountIds.contains(m_accounts.at(m_entries[e].account).accountId);
    }
    m_pinnedStale = false;
}

int AccountSearchIndex::scoreTerm(const Entry &entry, const Term &term) const
{
    if (term.mask & ~entry.mask) {
        return 0;
    }
    const Characters wanted{charactersOf(term.text), term.text.size(),
                            term.characterStarts == Field::noCharacterStarts
                                ? nullptr
                                : m_termCharacterStarts.data() + term.characterStarts};
    const auto charactersOfField = [](const FieldTable &table, const Field &field) {
        return Characters{table.characters(field), qsizetype(field.length),
                          table.characterStarts(field)};
    };
    const auto match = [&](const FieldTable &table, int index) {
        const Field &field = table.field(index);
        if (term.mask & ~field.mask) {
            return Match::none;
        }
        return matchFolded(charactersOfField(table, field), table.wordStarts(field),
                           field.wordCount, wanted, term.wordLike, term.longEnoughForSubsequence);
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
            const Characters text = charactersOfField(m_accountFields, id);
            if (occursAt(text, 0, wanted)) {
                best = idPrefixScore;
            } else if (findCharacters(text, wanted) >= 0) {
                best = std::max(best, idSubstringScore);
            }
        }
    }
    return best;
}

bool AccountSearchIndex::prepareTerms(const QString &folded) const
{
    m_terms.clear();
    m_termCharacterStarts.clear();
    splitAtWhiteSpace(folded, [&](QStringView text) {
        Term term{text, Field::noCharacterStarts, characterMask(text), isWordLike(text), false};
        const size_t starts = m_termCharacterStarts.size();
        if (appendCharacterStarts(text, m_termCharacterStarts)) {
            term.characterStarts = quint32(starts);
        }
        m_terms.push_back(term);
    });
    for (Term &term : m_terms) {
        const char *starts = term.characterStarts == Field::noCharacterStarts
                                 ? nullptr
                                 : m_termCharacterStarts.data() + term.characterStarts;
        term.longEnoughForSubsequence =
            characterCount(Characters{charactersOf(term.text), term.text.size(), starts}) >= 2;
    }
    return !m_terms.empty();
}

int AccountSearchIndex::scoreEntry(size_t entry) const
{
    int total = 0;
    for (const Term &term : m_terms) {
        const int score = scoreTerm(m_entries[entry], term);
        if (score == 0) {
            return -1;
        }
        total += score;
    }
    if (entry < m_pinned.size() && m_pinned[entry]) {
        total += pinnedBonus;
    }
    return total;
}

bool AccountSearchIndex::narrowsLastSearch() const
{
    if (!m_lastValid || m_terms.size() < m_lastTerms.size()) {
        return false;
    }
    for (size_t i = 0; i < m_lastTerms.size(); ++i) {
        const auto [offset, length] = m_lastTerms[i];
        const Term &term = m_terms[i];
        if (!term.text.startsWith(QStringView(m_lastQuery).sliced(offset, length))) {
            return false;
        }
        // "👍" to "👍🏽" changes the last character rather than adding one: what matches
        // the longer term need not match the shorter.
        if (term.characterStarts != Field::noCharacterStarts &&
            !m_termCharacterStarts[term.characterStarts + size_t(length)]) {
            return false;
        }
    }
    return true;
}

std::optional<int> AccountSearchIndex::score(qsizetype index, const QString &query) const
{
    const QString folded = foldedForSearch(query);
    if (index < 0 || index >= m_accounts.size() || !prepareTerms(folded)) {
        return std::nullopt;
    }
    const int score = scoreEntry(size_t(m_entryOfAccount[size_t(index)]));
    return score >= 0 ? std::optional(score) : std::nullopt;
}

AccountList AccountSearchIndex::search(const QString &query) const
{
    // The terms are views into `folded`, which outlives every use of them below.
    const QString folded = foldedForSearch(query);
    if (!prepareTerms(folded)) {
        std::vector<int> unchanged(size_t(m_accounts.size()));
        std::iota(unchanged.begin(), unchanged.end(), 0);
        return AccountList(m_accounts, std::move(unchanged));
    }

    m_hits.clear();
    m_matches.clear();
    const auto consider = [&](int entry) {
        const int score = scoreEntry(size_t(entry));
        if (score >= 0) {
            m_hits.push_back({score, entry});
            m_matches.push_back(entry);
        }
    };
    if (narrowsLastSearch()) {
        for (int entry : m_lastMatches) {
            consider(entry);
        }
    } else {
        for (size_t entry = 0; entry < m_entries.size(); ++entry) {
            consider(int(entry));
        }
    }
    m_lastMatches.swap(m_matches);
    m_lastQuery = folded;
    m_lastTerms.clear();
    for (const Term &term : m_terms) {
        m_lastTerms.emplace_back(term.text.data() - folded.constData(), term.text.size());
    }
    m_lastValid = true;

    // Hits arrive in name order, so a stable bucket sort by score finishes the ranking.
    const size_t highest = size_t(nameScores[int(Match::prefix)]) * m_terms.size() + pinnedBonus;
    m_bucketStarts.assign(highest + 2, 0);
    for (const Hit &hit : m_hits) {
        ++m_bucketStarts[size_t(hit.score)];
    }
    int start = 0;
    for (size_t score = highest + 1; score-- > 0;) {
        const int count = m_bucketStarts[score];
        m_bucketStarts[score] = start;
        start += count;
    }
    std::vector<int> order(m_hits.size());
    for (const Hit &hit : m_hits) {
        order[size_t(m_bucketStarts[size_t(hit.score)]++)] = m_entries[size_t(hit.entry)].account;
    }
    return AccountList(m_accounts, std::move(order));
}

AccountList AccountSearchIndex::browse(const QStringList &pinnedAccountIds,
                                       const QStringList &groupNames) const
{
    const size_t count = size_t(m_accounts.size());
    std::vector<int> order;
    order.reserve(count);
    m_listed.assign(count, 0);
    const auto list = [&](int position) {
        m_listed[size_t(position)] = 1;
        order.push_back(position);
    };

    for (const QString &id : pinnedAccountIds) {
        const auto found = m_firstAccountById.constFind(id);
        if (found != m_firstAccountById.cend() && !m_listed[size_t(found.value())]) {
            list(found.value());
        }
    }

    // Grouped accounts by the position of their group in groupNames (its first
    // occurrence), in account order within a group: a bucket sort again.
    std::vector<int> groupOrder(size_t(m_groupNames.size()), -1);
    for (qsizetype g = 0; g < m_groupNames.size(); ++g) {
        groupOrder[size_t(g)] = int(groupNames.indexOf(m_groupNames.at(g)));
    }
    const auto orderOf = [&](size_t position) {
        const int group = m_entries[size_t(m_entryOfAccount[position])].group;
        return group >= 0 && !m_listed[position] ? groupOrder[size_t(group)] : -1;
    };
    m_bucketStarts.assign(size_t(groupNames.size()) + 1, 0);
    for (size_t position = 0; position < count; ++position) {
        if (const int o = orderOf(position); o >= 0) {
            ++m_bucketStarts[size_t(o) + 1];
        }
    }
    std::partial_sum(m_bucketStarts.begin(), m_bucketStarts.end(), m_bucketStarts.begin());
    const size_t groupedStart = order.size();
    order.resize(groupedStart + size_t(m_bucketStarts.back()));
    for (size_t position = 0; position < count; ++position) {
        if (const int o = orderOf(position); o >= 0) {
            order[groupedStart + size_t(m_bucketStarts[size_t(o)]++)] = int(position);
        }
    }
    for (size_t i = groupedStart; i < order.size(); ++i) {
        m_listed[size_t(order[i])] = 1;
    }

    for (size_t position = 0; position < count; ++position) {
        if (!m_listed[position]) {
            list(int(position));
        }
    }
    return AccountList(m_accounts, std::move(order));
}

} // namespace tessera
