#include "quicksearch/accountsearch.h"

#include <QTest>

using namespace tessera;

namespace {
AWSAccount makeAccount(const QString &id, const QString &name, const QStringList &roles = {})
{
    return AWSAccount{id, name, roles};
}

QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts) {
        list.append(QString::fromUtf8(text));
    }
    return list;
}

QStringList namesOf(const QList<AWSAccount> &accounts)
{
    QStringList names;
    for (const AWSAccount &a : accounts) {
        names.append(a.accountName);
    }
    return names;
}
} // namespace

class TestAccountSearch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void termsAreLowerCasedWords()
    {
        QCOMPARE(
            searchTerms(QStringLiteral("  Prod\tCORE \n x ")),
            (QStringList{QStringLiteral("prod"), QStringLiteral("core"), QStringLiteral("x")}));
        QVERIFY(searchTerms(QStringLiteral(" \t\n")).isEmpty());
    }

    void fieldScoreScale_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("score"); // 0: no match

        QTest::newRow("prefix, any case") << "Prod Core"
                                          << "prod" << 100;
        QTest::newRow("word after a hyphen") << "team-prod"
                                             << "prod" << 80;
        QTest::newRow("word after digits and dots") << "v2.Prod"
                                                    << "prod" << 80;
        QTest::newRow("inside a word") << "reproduce"
                                       << "prod" << 60;
        QTest::newRow("separator in the term is no word start") << "prod-core"
                                                                << "-core" << 60;
        QTest::newRow("term spanning two words") << "prod-core"
                                                 << "d-c" << 60;
        QTest::newRow("characters in order") << "production"
                                             << "pdn" << 20;
        QTest::newRow("characters out of order") << "production"
                                                 << "dp" << 0;
        QTest::newRow("one character is never a subsequence") << "abc"
                                                              << "z" << 0;
        QTest::newRow("no match") << "staging"
                                  << "prod" << 0;
        QTest::newRow("term longer than text") << "pro"
                                               << "prod" << 0;
        QTest::newRow("non-ASCII letters fold") << "Ärger Ödland"
                                                << "öd" << 80;
        // Characters as the user sees them, however many code units they take.
        QTest::newRow("a modifier is part of its emoji") << "👍🏽 team"
                                                         << "👍" << 0;
        QTest::newRow("the whole emoji") << "👍🏽 team"
                                         << "👍🏽" << 100;
        QTest::newRow("halves of different characters") << "😀𐺀a"
                                                        << "🚀a" << 0;
        QTest::newRow("emoji in order") << "😀 rocket 🚀"
                                        << "😀🚀" << 20;
        QTest::newRow("a mark makes another letter") << "x\u0301yz"
                                                     << "xy" << 0;
        QTest::newRow("the letter with its mark") << "x\u0301yz"
                                                  << "x\u0301y" << 100;
        QTest::newRow("flags pair from the start") << "🇩🇪🇫🇷"
                                                   << "🇪🇫" << 0;
        QTest::newRow("one emoji is one character") << "😀 team"
                                                    << "😀" << 100;
    }
    void fieldScoreScale()
    {
        QFETCH(QString, text);
        QFETCH(QString, term);
        QFETCH(int, score);
        QCOMPARE(fieldScore(text, term).value_or(0), score);
        // The prepared index scores an account's name on the same scale.
        const AWSAccount account = makeAccount(QStringLiteral("0"), text, {});
        QCOMPARE(accountSearchScore(account, term, false, std::nullopt).value_or(0), score);
        QCOMPARE(containsAllTerms(text, {term}), score >= 60);
    }

    void subsequenceNeedsTwoCharacters()
    {
        QVERIFY(!isSubsequence(u"p", u"production"));
        QVERIFY(isSubsequence(u"pd", u"production"));
        QVERIFY(isSubsequence(u"pn", u"production"));
        QVERIFY(!isSubsequence(u"np", u"production"));
        // Greedy: each character is looked for after the previous match only.
        QVERIFY(!isSubsequence(u"oo", u"pro"));
        QVERIFY(!isSubsequence(u"🚀", u"🚀 launch")); // one character, two code units
    }

    void aChangedLastCharacterIsNoNarrowerSearch()
    {
        const QList<AWSAccount> accounts = {
            makeAccount(QStringLiteral("1"), QStringLiteral("👍🏽 team"), {})};
        AccountSearchIndex index;
        index.update(accounts, {});
        QVERIFY(index.search(QStringLiteral("👍")).isEmpty());
        QCOMPARE(index.search(QStringLiteral("👍🏽")).toList(), accounts);
    }

    void accountScores_data()
    {
        QTest::addColumn<AWSAccount>("account");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("score"); // -1: left out

        const AWSAccount prodCore =
            makeAccount(QStringLiteral("123456789012"), QStringLiteral("prod-core"),
                        {QStringLiteral("Admin"), QStringLiteral("ReadOnly")});
        QTest::newRow("name prefix plus ID prefix")
            << prodCore << QString() << false << "prod 1234" << 170;
        QTest::newRow("the same, pinned") << prodCore << QString() << true << "prod 1234" << 185;
        QTest::newRow("ID substring") << prodCore << QString() << false << "5678" << 50;
        QTest::newRow("one word matching nothing")
            << prodCore << QString() << false << "prod staging" << -1;
        QTest::newRow("name word start") << prodCore << QString() << false << "core" << 80;

        const AWSAccount roles =
            makeAccount(QStringLiteral("111111111111"), QStringLiteral("zzz"),
                        {QStringLiteral("ReadOnlyAccess"), QStringLiteral("ops-deployer"),
                         QStringLiteral("production")});
        QTest::newRow("role prefix") << roles << QString() << false << "read" << 80;
        QTest::newRow("role word start") << roles << QString() << false << "deploy" << 60;
        QTest::newRow("role substring") << roles << QString() << false << "access" << 40;
        QTest::newRow("role subsequence") << roles << QString() << false << "pd" << 10;
        QTest::newRow("best role wins") << roles << QString() << false << "ops" << 80;

        const AWSAccount plain =
            makeAccount(QStringLiteral("222222222222"), QStringLiteral("production"));
        QTest::newRow("name subsequence") << plain << QString() << false << "pd" << 20;
        QTest::newRow("one character, no subsequence") << plain << QString() << false << "z" << -1;

        const AWSAccount grouped =
            makeAccount(QStringLiteral("333333333333"), QStringLiteral("web"));
        QTest::newRow("group prefix") << grouped << "Platform Team" << false << "plat" << 90;
        QTest::newRow("group word start") << grouped << "Platform Team" << false << "team" << 70;
        QTest::newRow("group substring") << grouped << "Platform Team" << false << "form" << 50;
        QTest::newRow("group subsequence") << grouped << "Platform Team" << false << "pt" << 10;
        QTest::newRow("name beats group") << grouped << "webs" << false << "web" << 100;
        QTest::newRow("three words add up")
            << grouped << "Platform Team" << false << "web team 3333" << 100 + 70 + 70;
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

        // The ranked list agrees: the account is listed exactly when it scores.
        QMap<QString, QString> groups;
        if (groupName) {
            groups.insert(account.accountId, *groupName);
        }
        const QSet<QString> pins = pinned ? QSet<QString>{account.accountId} : QSet<QString>{};
        QCOMPARE(searchAccounts({account}, query, pins, groups).size(), score < 0 ? 0 : 1);
    }

    void rankingOrder()
    {
        const QList<AWSAccount> accounts = {
            makeAccount(QStringLiteral("100000000001"), QStringLiteral("Beta")),
            makeAccount(QStringLiteral("100000000002"), QStringLiteral("beta-legacy")),
            makeAccount(QStringLiteral("100000000003"), QStringLiteral("alpha"),
                        {QStringLiteral("BetaTester")}),
            makeAccount(QStringLiteral("100000000004"), QStringLiteral("Alpha-beta")),
            makeAccount(QStringLiteral("100000000005"), QStringLiteral("gamma")),
            makeAccount(QStringLiteral("100000000006"), QStringLiteral("beta")),
        };
        // Scores: Beta 100, beta-legacy 100, alpha 80 (role), Alpha-beta 80 (word), gamma
        // out, beta 100. Ties by name case-insensitively, identical names in input order.
        QCOMPARE(namesOf(searchAccounts(accounts, QStringLiteral("beta"), {}, {})),
                 strings({"Beta", "beta", "beta-legacy", "alpha", "Alpha-beta"}));

        // A pin lifts an account above others with the same term score.
        QCOMPARE(namesOf(searchAccounts(accounts, QStringLiteral("beta"),
                                        {QStringLiteral("100000000004")}, {})),
                 strings({"Beta", "beta", "beta-legacy", "Alpha-beta", "alpha"}));

        // No words: the input, unchanged.
        QCOMPARE(searchAccounts(accounts, QStringLiteral("  "), {}, {}), accounts);
    }

    void indexFollowsChangedLists()
    {
        QList<AWSAccount> accounts = {
            makeAccount(QStringLiteral("100000000001"), QStringLiteral("one")),
            makeAccount(QStringLiteral("100000000002"), QStringLiteral("two")),
        };
        QMap<QString, QString> groups;
        AccountSearchIndex index;
        index.update(accounts, groups);
        index.setPinnedAccountIds(QStringList{});
        QVERIFY(index.search(QStringLiteral("ops")).toList().isEmpty());

        groups.insert(QStringLiteral("100000000002"), QStringLiteral("Ops"));
        index.update(accounts, groups);
        QCOMPARE(namesOf(index.search(QStringLiteral("ops")).toList()), strings({"two"}));

        accounts.append(makeAccount(QStringLiteral("100000000003"), QStringLiteral("ops-three")));
        index.update(accounts, groups);
        QStringList pins{QStringLiteral("100000000002")};
        index.setPinnedAccountIds(pins);
        QCOMPARE(namesOf(index.search(QStringLiteral("ops")).toList()),
                 strings({"two", "ops-three"}));
        QCOMPARE(index.score(1, QStringLiteral("ops")), std::optional(90 + 15));

        pins.append(QStringLiteral("100000000003"));
        index.setPinnedAccountIds(pins);
        QCOMPARE(index.score(2, QStringLiteral("ops")), std::optional(100 + 15));
    }

    void typingGivesWhatAFreshSearchGives()
    {
        // One index fed keystroke by keystroke (letters, spaces, deletions, edits in the
        // middle) must rank exactly as a search from scratch does.
        const QStringList words = strings({"prod", "payments", "staging", "dev", "identity", "data",
                                           "platform", "ops", "web", "audit"});
        QList<AWSAccount> accounts;
        QMap<QString, QString> groups;
        quint32 seed = 7;
        const auto next = [&](int n) {
            seed = seed * 1103515245u + 12345u;
            return int((seed >> 16) % quint32(n));
        };
        for (int i = 0; i < 300; ++i) {
            const QString id = QString::number(100000000000LL + i * 7919LL);
            accounts.append(makeAccount(
                id, words.at(next(10)) + u'-' + words.at(next(10)) + u'-' + QString::number(i),
                {words.at(next(10)) + QStringLiteral("Access"), words.at(next(10))}));
            if (next(3) == 0) {
                groups.insert(id, QStringLiteral("Team ") + words.at(next(10)));
            }
        }
        const QSet<QString> pins{accounts.at(5).accountId, accounts.at(77).accountId};

        AccountSearchIndex index;
        index.update(accounts, groups);
        index.setPinnedAccountIds(pins);
        const QStringList typed =
            strings({"p",     "pr",     "pro",  "prod",  "prod ",   "prod d", "prod da", "prod d",
                     "prod ", "prod",   "pro",  "xpro",  "x",       "",       "a",       "au",
                     "aud t", "aud te", "1000", "10000", "ops web", "opsweb", "dpa",     "dpa s"});
        for (const QString &query : typed) {
            QCOMPARE(index.search(query).toList(), searchAccounts(accounts, query, pins, groups));
        }
    }

    void rankNamesUsesTheNameScale()
    {
        const QStringList names = {QStringLiteral("ReadOnly"), QStringLiteral("Admin"),
                                   QStringLiteral("admin-read"), QStringLiteral("Breader")};
        // ReadOnly 100, admin-read 80, Breader 60; Admin out.
        QCOMPARE(rankNames(names, QStringLiteral("read")),
                 strings({"ReadOnly", "admin-read", "Breader"}));
        // Equal scores fall back to the name, case-insensitively.
        QCOMPARE(rankNames({QStringLiteral("Zeta"), QStringLiteral("delta")}, QStringLiteral("ta")),
                 strings({"delta", "Zeta"}));
        QCOMPARE(rankNames(names, QString()), names);
    }
};

QTEST_GUILESS_MAIN(TestAccountSearch)
#include "tst_accountsearch.moc"
