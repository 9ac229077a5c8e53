#include "aws/httpresponseparser.h"
#include "foundation/error.h"

#include <QTest>

using namespace tessera;

namespace {

// Feeds `answer` in pieces of `pieceSize` bytes (the whole when 0) and returns whether
// the parser saw a complete answer; the bytes it left unread end up in `rest`.
bool feed(HttpResponseParser &parser, const QByteArray &answer, int pieceSize, QByteArray &rest)
{
    QByteArray input;
    const qsizetype step = pieceSize > 0 ? pieceSize : qMax<qsizetype>(answer.size(), 1);
    for (qsizetype at = 0; at < answer.size(); at += step) {
        input += answer.mid(at, step);
        if (parser.consume(input)) {
            rest = input + answer.mid(at + step);
            return true;
        }
    }
    rest = input;
    return false;
}

} // namespace

class TestHttpResponseParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsAnswersInAnyPieces_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("head");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("keepsAlive");
        QTest::addColumn<QByteArray>("rest");

        QTest::newRow("sized, followed by the next answer")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloHTTP/1.1") << false
            << 200 << QByteArray("hello") << true << QByteArray("HTTP/1.1");
        QTest::newRow("bare line feeds")
            << QByteArray("HTTP/1.1 404 Not Found\nContent-Length: 2\n\nno") << false << 404
            << QByteArray("no") << true << QByteArray();
        QTest::newRow("no reason phrase") << QByteArray("HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n")
                                          << false << 200 << QByteArray() << true << QByteArray();
        QTest::newRow("chunked with extension and trailers")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"
                          "4;a=b\r\nWiki\r\n5\r\npedia\r\n0\r\nExpires: never\r\n\r\nX")
            << false << 200 << QByteArray("Wikipedia") << true << QByteArray("X");
        QTest::newRow("connection close")
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: Keep-Alive, Close\r\n"
                          "Content-Length: 1\r\n\r\n1")
            << false << 200 << QByteArray("1") << false << QByteArray();
        QTest::newRow("http/1.0") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n1")
                                  << false << 200 << QByteArray("1") << false << QByteArray();
        QTest::newRow("interim answers skipped")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: x\r\n\r\n"
                          "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
            << false << 200 << QByteArray("ok") << true << QByteArray();
        QTest::newRow("head ignores the length")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n") << true << 200
            << QByteArray() << true << QByteArray();
        QTest::newRow("204 ignores the length")
            << QByteArray("HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nnext") << false
            << 204 << QByteArray() << true << QByteArray("next");
    }

    void readsAnswersInAnyPieces()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, head);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, keepsAlive);
        QFETCH(QByteArray, rest);
        for (const int pieceSize : {0, 1, 2, 7}) {
            HttpResponseParser parser(head);
            QByteArray left;
            QVERIFY2(feed(parser, answer, pieceSize, left), QByteArray::number(pieceSize));
            QCOMPARE(left, rest);
            QCOMPARE(parser.keepsAlive(), keepsAlive);
            const HttpResponse response = parser.takeResponse();
            QCOMPARE(response.status, status);
            QCOMPARE(response.body, body);
        }
    }

    void bodyWithoutLengthRunsToTheClose()
    {
        HttpResponseParser parser;
        QByteArray input("HTTP/1.1 200 OK\r\nX: y\r\n\r\nsome");
        QVERIFY(!parser.consume(input));
        input = " more";
        QVERIFY(!parser.consume(input));
        parser.finishAtClose();
        QVERIFY(parser.isComplete());
        QVERIFY(!parser.keepsAlive());
        QCOMPARE(parser.takeResponse().body, QByteArray("some more"));
    }

    void answerCutShortByTheCloseFails_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("in the headers") << QByteArray("HTTP/1.1 200 OK\r\nContent-Le");
        QTest::newRow("in a sized body")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc");
        QTest::newRow("in a chunked body")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n");
    }

    void answerCutShortByTheCloseFails()
    {
        QFETCH(QByteArray, answer);
        HttpResponseParser parser;
        QVERIFY(!parser.consume(answer));
        try {
            parser.finishAtClose();
            QFAIL("a truncated answer was accepted");
        } catch (const TransportError &error) {
            QCOMPARE(error.kind(), TransportError::Kind::connection);
        }
    }

    void refusesMalformedOrOversizedAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("not http") << QByteArray("220 smtp.example ESMTP\r\n");
        QTest::newRow("http/2 status line") << QByteArray("HTTP/2 200\r\n\r\n");
        QTest::newRow("status not a number") << QByteArray("HTTP/1.1 2x0 OK\r\n\r\n");
        QTest::newRow("status too small") << QByteArray("HTTP/1.1 099 Odd\r\n\r\n");
        QTest::newRow("protocol switch") << QByteArray("HTTP/1.1 101 Switching\r\n\r\n");
        QTest::newRow("header without colon") << QByteArray("HTTP/1.1 200 OK\r\nBroken\r\n\r\n");
        QTest::newRow("space before colon")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length : 1\r\n\r\n1");
        QTest::newRow("negative length")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n");
        QTest::newRow("length with junk")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n");
        QTest::newRow("conflicting lengths")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n");
        QTest::newRow("length over the limit")
            << "HTTP/1.1 200 OK\r\nContent-Length: " +
                   QByteArray::number(HttpResponseParser::maxBodyBytes + 1) + "\r\n\r\n";
        QTest::newRow("chunk size not hex")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nabcde");
        QTest::newRow("chunk without line end")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n");
        QTest::newRow("chunks over the limit")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4000000\r\n") +
                   QByteArray(0x4000000, 'a') + "\r\n1\r\n";
        QTest::newRow("chunk size line without end")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") +
                   QByteArray(2000, '0');
        QTest::newRow("headers over the limit, unterminated")
            << "HTTP/1.1 200 OK\r\nX: " + QByteArray(HttpResponseParser::maxHeaderBytes, 'a');
        QTest::newRow("headers over the limit, many lines")
            << "HTTP/1.1 200 OK\r\n" + QByteArray("X-Many: aaaaaaaaaaaaaaaaaaa\r\n").repeated(3000);
    }

    void refusesMalformedOrOversizedAnswers()
    {
        QFETCH(QByteArray, answer);
        HttpResponseParser parser;
        try {
            parser.consume(answer);
            QFAIL("a malformed answer was accepted");
        } catch (const TransportError &error) {
            QCOMPARE(error.kind(), TransportError::Kind::other);
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpResponseParser)
#include "tst_httpresponseparser.moc"
