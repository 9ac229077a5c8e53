#include "quicksearch/accountsearch.h"

#include <QTest>

using namespace tessera;

namespace {
QString s(const char *text)
{
    return QString::fromUtf8(text);
}

AWSAccount makeAccount(const char *id, const char *name, const QStringList &roles = {})
{
    return AWSAccount{s(id), s(name), roles};
}

QStringList namesOf(const QList<AWSAccount> &accounts)
{
    QStringList names;
    for (const AWSAccount &a : accounts) {
        names.append(a.accountName);
    }
    return names;
}

void addScoreRow(const char *name, const char *text, const char *term, int score)
{
    QTest::newRow(name) << s(text) << s(term) << score;
}

void addAccountRow(const char *name, const AWSAccount &account, const char *group, bool pinned,
                   const char *query, int score)
{
    QTest::newRow(name) << account << s(group) << pinned << s(query) << score;
}
} // namespace

class TestAccountSearch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fieldScoreScale_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("score"); // 0: no match
        addScoreRow("prefix, any case", "Prod Core", "prod", 100);
        addScoreRow("word after a hyphen", "team-prod", "prod", 80);
        addScoreRow("inside a word", "reproduce", "prod", 60);
        addScoreRow("separator in the term is no word start", "prod-core", "-core", 60);
        addScoreRow("characters in order", "production", "pdn", 20);
        addScoreRow("each character after the previous match", "pro", "oo", 0);
        addScoreRow("one character is never a subsequence", "abc", "z", 0);
        addScoreRow("non-ASCII letters fold", "Ärger Ödland", "öd", 80);
        // Characters as the user sees them, however many code units they take.
        addScoreRow("a modifier is part of its emoji", "👍🏽 team", "👍", 0);
        addScoreRow("the whole emoji", "👍🏽 team", "👍🏽", 100);
        addScoreRow("halves of different characters", "😀𐺀a", "🚀a", 0);
        addScoreRow("emoji in order", "😀 rocket 🚀", "😀🚀", 20);
        addScoreRow("one emoji is no subsequence", "🚀 launch", "🚀🚀", 0);
        addScoreRow("a mark makes another letter", "x\u0301yz", "xy", 0);
        addScoreRow("the letter with its mark", "x\u0301yz", "x\u0301y", 100);
        addScoreRow("flags pair from the start", "🇩🇪🇫🇷", "🇪🇫", 0);
    }
    void fieldScoreScale()
    {
        QFETCH(QString, text);
        QFETCH(QString, term);
        QFETCH(int, score);
        QCOMPARE(fieldScore(text, term).value_or(0), score);
        // The prepared index scores an account's name on the same scale.
        const AWSAccount account{s("0"), text, {}};
        QCOMPARE(accountSearchScore(account, term, false, std::nullopt).value_or(0), score);
        QCOMPARE(containsAllTerms(text, {term}), score >= 60);
        if (score <= 20) {
            QCOMPARE(isSubsequence(foldedForSearch(term), foldedForSearch(text)), score == 20);
        }
    }

    void aChangedLastCharacterIsNoNarrowerSearch()
    {
        const QList<AWSAccount> accounts = {makeAccount("1", "👍🏽 team")};
        AccountSearchIndex index;
        index.update(accounts, {});
        QVERIFY(index.search(s("👍")).isEmpty());
        QCOMPARE(index.search(s("👍🏽")).toList(), accounts);
    }

    void accountScores_data()
    {
        QTest::addColumn<AWSAccount>("account");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("score"); // -1: left out

        const AWSAccount prod = makeAccount("123456789012", "prod-core", {s("Admin")});
        addAccountRow("name prefix plus ID prefix", prod, "", false, "prod 1234", 170);
        addAccountRow("the same, pinned", prod, "", true, "prod 1234", 185);
        addAccountRow("ID substring", prod, "", false, "5678", 50);
        addAccountRow("one word matching nothing", prod, "", false, "prod staging", -1);
        const AWSAccount roles = makeAccount(
            "111111111111", "zzz", {s("ReadOnlyAccess"), s("ops-deployer"), s("production")});
        addAccountRow("role prefix", roles, "", false, "read", 80);
        addAccountRow("role subsequence", roles, "", false, "pd", 10);
        const AWSAccount web = makeAccount("333333333333", "web");
        addAccountRow("name subsequence", web, "", false, "wb", 20);
        addAccountRow("group prefix", web, "Platform Team", false, "plat", 90);
        addAccountRow("three words add up", web, "Platform Team", false, "web team 3333", 240);
    }
    void accountScores()
    {
        QFETCH(AWSAccount, account);
        QFETCH(QString, group);
        QFETCH(bool, pinned);
        QFETCH(QString, query);
        QFETCH(int, score);
        const auto groupName = group.isEmpty() ? std::nullopt : std::optional(group);
        QCOMPARE(accountSearchScore(account, query, pinned, groupName).value_or(-1), score);
    }

    void rankingOrder()
    {
        const QList<AWSAccount> accounts = {
            makeAccount("100000000001", "Beta"),
            makeAccount("100000000002", "beta-legacy"),
            makeAccount("100000000003", "alpha", {s("BetaTester")}),
            makeAccount("100000000004", "Alpha-beta"),
            makeAccount("100000000005", "gamma"),
            makeAccount("100000000006", "beta"),
        };
        // Ties by name case-insensitively, identical names in input order.
        QCOMPARE(
            namesOf(searchAccounts(accounts, s("beta"), {}, {})),
            (QStringList{s("Beta"), s("beta"), s("beta-legacy"), s("alpha"), s("Alpha-beta")}));
        // A pin lifts an account above others with the same term score.
        QCOMPARE(namesOf(searchAccounts(accounts, s("beta"), {s("100000000004")}, {})).mid(3),
                 (QStringList{s("Alpha-beta"), s("alpha")}));
        QCOMPARE(searchAccounts(accounts, s("  "), {}, {}), accounts);
    }

    void indexFollowsChangedListsAndPins()
    {
        QList<AWSAccount> accounts = {makeAccount("100000000001", "one"),
                                      makeAccount("100000000002", "two")};
        QMap<QString, QString> groups{{s("100000000002"), s("Ops")}};
        AccountSearchIndex index;
        index.update(accounts, {});
        QVERIFY(index.search(s("ops")).toList().isEmpty());
        index.update(accounts, groups);
        QCOMPARE(namesOf(index.search(s("ops")).toList()), QStringList{s("two")});

        accounts.append(makeAccount("100000000003", "ops-three"));
        index.update(accounts, groups);
        index.setPinnedAccountIds(QStringList{s("100000000002")});
        QCOMPARE(namesOf(index.search(s("ops")).toList()), (QStringList{s("two"), s("ops-three")}));
        QCOMPARE(index.score(1, s("ops")), std::optional(90 + 15));
        QCOMPARE(index.score(3, s("ops")), std::nullopt);
        index.setPinnedAccountIds(QStringList{s("100000000003")});
        QCOMPARE(index.score(2, s("ops")), std::optional(100 + 15));
    }

    void typingGivesWhatAFreshSearchGives()
    {
        // One index fed keystroke by keystroke (letters, spaces, deletions, edits in the
        // middle) must rank exactly as a search from scratch does.
        const QStringList words = s("prod payments staging dev identity data platform ops web "
                                    "audit")
                                      .split(QLatin1Char(' '));
        QList<AWSAccount> accounts;
        QMap<QString, QString> groups;
        quint32 seed = 7;
        const auto word = [&] {
            seed = seed * 1103515245u + 12345u;
            return words.at(int((seed >> 16) % 10));
        };
        for (int i = 0; i < 300; ++i) {
            const QString id = QString::number(100000000000LL + i * 7919LL);
            const QString name = word() + u'-' + word() + u'-' + QString::number(i);
            accounts.append({id, name, {word() + s("Access"), word()}});
            if (i % 3 == 0) {
                groups.insert(id, s("Team ") + word());
            }
        }
        const QSet<QString> pins{accounts.at(5).accountId, accounts.at(77).accountId};
        AccountSearchIndex index;
        index.update(accounts, groups);
        index.setPinnedAccountIds(pins);
        const QStringList typed = s("p|pr|pro|prod|prod |prod d|prod da|prod d|prod |prod|pro|xpro|"
                                    "x||a|au|aud t|aud te|1000|10000|ops web|opsweb|dpa|dpa s")
                                      .split(QLatin1Char('|'));
        for (const QString &query : typed) {
            QCOMPARE(index.search(query).toList(), searchAccounts(accounts, query, pins, groups));
        }
    }
};

QTEST_GUILESS_MAIN(TestAccountSearch)
#include "tst_accountsearch.moc"
