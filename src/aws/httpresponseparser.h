#pragma once

#include "aws/httptransport.h"

#include <QByteArray>

namespace tessera {

// Reads one HTTP/1.1 answer from the bytes of a connection as they arrive: the status
// line, the headers (order and spelling kept), and a body framed by Content-Length, by
// the chunked transfer coding (trailers dropped) or by the end of the connection. Interim
// 1xx answers are skipped. A hostile or broken server cannot make it grow without bound:
// headers and bodies over the limits, and anything malformed, throw TransportError (other)
// and the connection must then be dropped.
class HttpResponseParser
{
public:
    static constexpr qsizetype maxHeaderBytes = 64 * 1024;
    static constexpr qint64 maxBodyBytes = 64 * 1024 * 1024;

    // An answer to HEAD has headers only, whatever its Content-Length says.
    explicit HttpResponseParser(bool answersHead = false);

    // Consumes what it can of `input` and returns whether the answer is complete. Bytes
    // past a complete answer stay in `input`.
    bool consume(QByteArray &input);

    // The server closed the connection: completes an answer whose body runs to the end
    // of the connection, else throws (the answer was cut short).
    void finishAtClose();

    bool isComplete() const { return m_state == State::complete; }
    // Whether the server keeps the connection open for another request.
    bool keepsAlive() const { return m_keepAlive; }

    HttpResponse takeResponse() { return std::move(m_response); }

private:
    enum class State
    {
        statusLine,
        headers,
        fixedBody,
        chunkSize,
        chunkData,
        chunkDataEnd,
        trailers,
        bodyUntilClose,
        complete
    };

    bool takeLine(QByteArray &input, QByteArray &line);
    void parseStatusLine(const QByteArray &line);
    void parseHeaderLine(const QByteArray &line);
    void endOfHeaders();
    void parseChunkSize(const QByteArray &line);
    void appendBody(const QByteArray &bytes);

    bool m_answersHead;
    State m_state = State::statusLine;
    HttpResponse m_response;
    bool m_http11 = false;
    bool m_keepAlive = false;
    qsizetype m_headerBytes = 0;
    qint64 m_remaining = 0;
};

} // namespace tessera
