#include "aws/portalclient.h"
#include "clienttestsupport.h"
#include "support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUrlQuery>

using namespace tessera;
using namespace std::chrono_literals;
using test::failureAs;
using test::jsonReply;

namespace {
QByteArray accountsPage(const QStringList &ids, const char *nextToken = nullptr)
{
    QJsonArray list;
    for (const auto &id : ids) {
        list.append(
            QJsonObject{{QStringLiteral("accountId"), id},
                        {QStringLiteral("accountName"), QString(QStringLiteral("name-") + id)},
                        {QStringLiteral("emailAddress"), QStringLiteral("x@example.com")}});
    }
    QJsonObject page{{QStringLiteral("accountList"), list}};
    if (nextToken) {
        page.insert(QStringLiteral("nextToken"), QString::fromLatin1(nextToken));
    }
    return QJsonDocument(page).toJson(QJsonDocument::Compact);
}

// A page of `count` identical entries, with a next token unless it is the last.
QByteArray pageOf(const char *listKey, const QByteArray &entry, int count, bool last)
{
    QByteArray entries = entry;
    for (int i = 1; i < count; ++i) {
        entries += ',' + entry;
    }
    return QByteArray("{\"") + listKey + "\":[" + entries + "]" +
           (last ? QByteArray("}")
                 : QByteArray(",\"nextToken\":\"page-") + QByteArray::number(count) + "\"}");
}

QStringList ids(const QList<AccountEntry> &accounts)
{
    QStringList out;
    for (const auto &account : accounts) {
        out << account.accountId;
    }
    return out;
}
} // namespace

class TestPortalClient : public QObject
{
    Q_OBJECT

    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<InMemoryHttpTransport> transport;

    PortalClient client(int maximumPageCount = 1000,
                        const QString &region = QStringLiteral("us-east-2"))
    {
        return PortalClient(region, QStringLiteral("token-1"), transport, maximumPageCount,
                            PortalRetryOptions{clock, [] { return 0.5; }});
    }

    TaskHandle<QList<AccountEntry>> startListing(const PortalClient &portal)
    {
        return startTask<QList<AccountEntry>>(
            [portal](CancellationToken t) { return portal.listAccounts(t); });
    }

private Q_SLOTS:
    void init()
    {
        qunsetenv("AWS_ENDPOINT_URL");
        qunsetenv("AWS_ENDPOINT_URL_SSO");
        clock = std::make_shared<ManualClock>();
        transport = std::make_shared<InMemoryHttpTransport>();
    }

    void followsPagesInOrderWithTheirTokens()
    {
        transport->enqueue(InMemoryHttpTransport::response(
            200, accountsPage({QStringLiteral("3"), QStringLiteral("1")}, "T1+/=")));
        transport->enqueue(
            InMemoryHttpTransport::response(200, accountsPage({QStringLiteral("2")}, "T2")));
        transport->enqueue(
            InMemoryHttpTransport::response(200, accountsPage({QStringLiteral("1")})));
        const auto accounts = test::waitFor(client().listAccounts());
        // Neither sorted nor de-duplicated.
        QCOMPARE(ids(accounts), (QStringList{QStringLiteral("3"), QStringLiteral("1"),
                                             QStringLiteral("2"), QStringLiteral("1")}));
        QCOMPARE(accounts[0].accountName, QStringLiteral("name-3"));

        const auto &sent = transport->requests();
        QCOMPARE(sent.size(), 3);
        QCOMPARE(
            sent[0].url.toEncoded(),
            QByteArray(
                "https://portal.sso.us-east-2.amazonaws.com/assignment/accounts?max_result=100"));
        // Tokens are percent-encoded in full, "+" included, and decode back unchanged.
        QCOMPARE(sent[1].url.toEncoded(),
                 QByteArray("https://portal.sso.us-east-2.amazonaws.com/assignment/"
                            "accounts?max_result=100&next_token=T1%2B%2F%3D"));
        QCOMPARE(sent[2].url.query(QUrl::FullyEncoded),
                 QStringLiteral("max_result=100&next_token=T2"));
        for (const auto &request : sent) {
            QCOMPARE(request.method, QByteArray("GET"));
            QCOMPARE(request.headers, (HttpHeaders{{"x-amz-sso_bearer_token", "token-1"}}));
            QVERIFY(request.body.isEmpty());
            QCOMPARE(request.timeout, 60s);
        }
    }

    void listsRolesOfOneAccount()
    {
        transport->enqueue(jsonReply(
            200,
            R"({"roleList":[{"roleName":"Zeta","accountId":"1"},{"roleName":"Admin"}],"nextToken":""})"));
        transport->enqueue(jsonReply(200, R"({"roleList":[],"nextToken":null})"));
        const auto roles = test::waitFor(client().listRoles(QStringLiteral("123456789012")));
        QCOMPARE(roles, (QStringList{QStringLiteral("Zeta"), QStringLiteral("Admin")}));
        QCOMPARE(transport->requestCount(), 2);
        QCOMPARE(transport->requests()[0].url.toEncoded(),
                 QByteArray("https://portal.sso.us-east-2.amazonaws.com/assignment/"
                            "roles?account_id=123456789012&max_result=100"));
        // An empty token is still a token.
        QCOMPARE(transport->requests()[1].url.query(QUrl::FullyEncoded),
                 QStringLiteral("account_id=123456789012&max_result=100&next_token="));
    }

    void paginationGuards_data()
    {
        QTest::addColumn<int>("maximumPageCount");
        QTest::addColumn<QList<QByteArray>>("pages");
        QTest::addColumn<int>("failure"); // PortalError::Case, or -1 for success
        QTest::addColumn<int>("requests");

        const QByteArray withA = accountsPage({QStringLiteral("1")}, "A");
        const QByteArray withB = accountsPage({QStringLiteral("2")}, "B");
        const QByteArray last = accountsPage({QStringLiteral("3")});
        const int repeated = int(PortalError::Case::repeatedNextToken);
        const int tooMany = int(PortalError::Case::pageLimitExceeded);
        QTest::newRow("single page") << 1000 << QList<QByteArray>{last} << -1 << 1;
        QTest::newRow("repeated token")
            << 1000 << QList<QByteArray>{withA, withA, last} << repeated << 2;
        QTest::newRow("token repeated later")
            << 1000 << QList<QByteArray>{withA, withB, withA, last} << repeated << 3;
        QTest::newRow("limit reached with a new token")
            << 2 << QList<QByteArray>{withA, withB, last} << tooMany << 2;
        QTest::newRow("limit reached on the last page")
            << 2 << QList<QByteArray>{withA, last} << -1 << 2;
        QTest::newRow("limit one") << 1 << QList<QByteArray>{withA, last} << tooMany << 1;
        QTest::newRow("limit zero") << 0 << QList<QByteArray>{last} << tooMany << 0;
        QTest::newRow("negative limit") << -1 << QList<QByteArray>{last} << tooMany << 0;
    }

    void paginationGuards()
    {
        QFETCH(int, maximumPageCount);
        QFETCH(QList<QByteArray>, pages);
        QFETCH(int, failure);
        QFETCH(int, requests);
        for (const auto &page : pages) {
            transport->enqueue(InMemoryHttpTransport::response(200, page));
        }
        auto run = startListing(client(maximumPageCount));
        QVERIFY(test::runToEnd(*clock, run));
        if (failure < 0) {
            QCOMPARE(run.resultNow().size(), requests);
        } else {
            const auto error = failureAs<PortalError>(run);
            QVERIFY(error);
            QCOMPARE(int(error->errorCase()), failure);
        }
        QCOMPARE(transport->requestCount(), requests);
    }

    // One listing holds at most 100,000 accounts, or 1,000 roles of one account, however
    // the portal pages them; beyond that the listing ends before the next request.
    void listingSizeIsCapped_data()
    {
        QTest::addColumn<bool>("roles");
        QTest::addColumn<QList<int>>("pageSizes");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("accounts at the cap") << false << QList<int>{60000, 40000} << true;
        QTest::newRow("accounts over the cap") << false << QList<int>{60000, 40001, 1} << false;
        QTest::newRow("roles at the cap") << true << QList<int>{999, 1} << true;
        QTest::newRow("roles over the cap") << true << QList<int>{1001, 1} << false;
    }

    void listingSizeIsCapped()
    {
        QFETCH(bool, roles);
        QFETCH(QList<int>, pageSizes);
        QFETCH(bool, accepted);
        for (qsizetype i = 0; i < pageSizes.size(); ++i) {
            const bool last = i + 1 == pageSizes.size();
            transport->enqueue(InMemoryHttpTransport::response(
                200, roles ? pageOf("roleList", R"({"roleName":"Admin"})", pageSizes[i], last)
                           : pageOf("accountList", R"({"accountId":"1","accountName":"a"})",
                                    pageSizes[i], last)));
        }
        const PortalClient portal = client();
        auto run =
            startTask<qsizetype>([portal, roles](CancellationToken t) -> QCoro::Task<qsizetype> {
                if (roles) {
                    co_return (co_await portal.listRoles(QStringLiteral("123456789012"), t)).size();
                }
                co_return (co_await portal.listAccounts(t)).size();
            });
        QVERIFY(test::runToEnd(*clock, run));
        if (accepted) {
            QCOMPARE(run.resultNow(), roles ? 1000 : 100000);
            return;
        }
        const auto error = failureAs<PortalError>(run);
        QVERIFY(error);
        QCOMPARE(error->errorCase(), PortalError::Case::entryLimitExceeded);
        QCOMPARE(error->description(),
                 roles ? QStringLiteral(
                             "AWS access portal listed too many roles for account 123456789012.")
                       : QStringLiteral("AWS access portal listed too many accounts."));
        QCOMPARE(transport->requestCount(), pageSizes.size() - 1);
    }

    void statusesMapToPortalErrors_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<PortalError>("expected");
        QTest::addColumn<QString>("description");
        QTest::newRow("401") << 401 << PortalError::unauthorized()
                             << "Session expired — sign in again.";
        QTest::newRow("403") << 403 << PortalError::unauthorized()
                             << "Session expired — sign in again.";
        QTest::newRow("404") << 404 << PortalError::http(404)
                             << "AWS access portal returned HTTP 404.";
        QTest::newRow("400") << 400 << PortalError::http(400)
                             << "AWS access portal returned HTTP 400.";
        QTest::newRow("301") << 301 << PortalError::http(301)
                             << "AWS access portal returned HTTP 301.";
        QTest::newRow("not http") << 0 << PortalError::invalidResponse()
                                  << "AWS access portal returned an invalid response.";
    }

    void statusesMapToPortalErrors()
    {
        QFETCH(int, status);
        QFETCH(PortalError, expected);
        QFETCH(QString, description);
        transport->enqueue(jsonReply(status, R"({"message":"nope"})"));
        auto run = startListing(client());
        const auto error = failureAs<PortalError>(run);
        QVERIFY(error);
        QVERIFY(*error == expected);
        QCOMPARE(error->description(), description);
        QCOMPARE(transport->requestCount(), 1);
    }

    void malformedPagesFailAsDecodingErrors_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("not json") << QByteArray("<html/>");
        QTest::newRow("missing list") << QByteArray(R"({"nextToken":"A"})");
        QTest::newRow("entry without name")
            << QByteArray(R"({"accountList":[{"accountId":"1"}],"nextToken":"A"})");
        QTest::newRow("entry not an object")
            << QByteArray(R"({"accountList":["1"],"nextToken":"A"})");
        QTest::newRow("numeric token") << QByteArray(R"({"accountList":[],"nextToken":5})");
    }

    void malformedPagesFailAsDecodingErrors()
    {
        QFETCH(QByteArray, body);
        transport->enqueue(InMemoryHttpTransport::response(200, body));
        transport->enqueue(InMemoryHttpTransport::response(200, accountsPage({})));
        auto run = startListing(client());
        QVERIFY(test::runToEnd(*clock, run));
        QVERIFY(failureAs<DecodingError>(run));
        QCOMPARE(transport->requestCount(), 1);
    }

    void unusableRegionSendsNothing()
    {
        auto run = startListing(client(1000, QStringLiteral("us-east-1/..")));
        const auto error = failureAs<PortalError>(run);
        QVERIFY(error);
        QVERIFY(*error == PortalError::invalidRegion(QStringLiteral("us-east-1/..")));
        QCOMPARE(error->description(),
                 QStringLiteral("“us-east-1/..” is not a valid AWS region — check Settings."));
        QCOMPARE(transport->requestCount(), 0);
    }

    void cancellationMidRequestDiscardsTheListing()
    {
        transport->setHandler([](const HttpRequest &) {
            return InMemoryHttpTransport::response(200,
                                                   accountsPage({QStringLiteral("1")}, "more"));
        });
        transport->setLatency(clock, 1s);
        auto run = startListing(client());
        clock->advance(1s);
        clock->advance(500ms);
        QCOMPARE(transport->inFlight(), 1);
        run.cancel();
        QVERIFY(failureAs<CancelledError>(run));
        clock->advance(10s);
        QCOMPARE(transport->requestCount(), 2);
    }
};

QTEST_GUILESS_MAIN(TestPortalClient)
#include "tst_portalclient.moc"
