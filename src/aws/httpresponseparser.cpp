#include "aws/httpresponseparser.h"

#include "foundation/error.h"

#include <optional>

namespace tessera {

namespace {

[[noreturn]] void malformed(const char *what)
{
    throw TransportError(
        TransportError::Kind::other,
        QStringLiteral("The server sent a malformed answer (%1).").arg(QLatin1String(what)));
}

// QByteArray::remove() of Qt 6.4 asserts on a buffer still shared with the socket's copy.
void dropFront(QByteArray &bytes, qsizetype count)
{
    bytes = count >= bytes.size() ? QByteArray() : bytes.sliced(count);
}

bool hasToken(const QByteArray &list, const QByteArray &token)
{
    for (const QByteArray &item : list.split(',')) {
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// Non-negative decimal or hexadecimal digits only: no sign, no spaces, no overflow.
std::optional<qint64> parseLength(const QByteArray &text, int base)
{
    if (text.isEmpty() || text.size() > 15) {
        return std::nullopt;
    }
    for (const char c : text) {
        const bool digit = (c >= '0' && c <= '9') ||
                           (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) {
            return std::nullopt;
        }
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

} // namespace

HttpResponseParser::HttpResponseParser(bool answersHead)
    : m_answersHead(answersHead)
{}

bool HttpResponseParser::takeLine(QByteArray &input, QByteArray &line)
{
    const qsizetype end = input.indexOf('\n');
    const bool inHeaderBlock =
        m_state == State::statusLine || m_state == State::headers || m_state == State::trailers;
    if (end < 0) {
        if (inHeaderBlock && m_headerBytes + input.size() > maxHeaderBytes) {
            throw TransportError(TransportError::Kind::other,
                                 QStringLiteral("The server's answer headers are too large."));
        }
        if (!inHeaderBlock && input.size() > 1024) {
            malformed("chunk size line too long");
        }
        return false;
    }
    if (inHeaderBlock) {
        m_headerBytes += end + 1;
        if (m_headerBytes > maxHeaderBytes) {
            throw TransportError(TransportError::Kind::other,
                                 QStringLiteral("The server's answer headers are too large."));
        }
    }
    line = input.left(end);
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    dropFront(input, end + 1);
    return true;
}

bool HttpResponseParser::consume(QByteArray &input)
{
    QByteArray line;
    while (m_state != State::complete) {
        switch (m_state) {
        case State::statusLine:
            if (!takeLine(input, line)) {
                return false;
            }
            parseStatusLine(line);
            break;
        case State::headers:
            if (!takeLine(input, line)) {
                return false;
            }
            if (line.isEmpty()) {
                endOfHeaders();
            } else {
                parseHeaderLine(line);
            }
            break;
        case State::fixedBody:
        case State::chunkData: {
            const qsizetype take = qMin<qint64>(m_remaining, input.size());
            appendBody(input.left(take));
            dropFront(input, take);
            m_remaining -= take;
            if (m_remaining > 0) {
                return false;
            }
            m_state = m_state == State::fixedBody ? State::complete : State::chunkDataEnd;
            break;
        }
        case State::chunkSize:
            if (!takeLine(input, line)) {
                return false;
            }
            parseChunkSize(line);
            break;
        case State::chunkDataEnd:
            if (!takeLine(input, line)) {
                return false;
            }
            if (!line.isEmpty()) {
                malformed("chunk not followed by a line end");
            }
            m_state = State::chunkSize;
            break;
        case State::trailers:
            if (!takeLine(input, line)) {
                return false;
            }
            if (line.isEmpty()) {
                m_state = State::complete;
            }
            break;
        case State::bodyUntilClose:
            appendBody(input);
            input.clear();
            return false;
        case State::complete:
            break;
        }
    }
    return true;
}

void HttpResponseParser::finishAtClose()
{
    if (m_state == State::bodyUntilClose) {
        m_state = State::complete;
    }
    if (m_state != State::complete) {
        throw TransportError(TransportError::Kind::connection,
                             QStringLiteral("The server closed the connection before its "
                                            "answer was complete."));
    }
}

void HttpResponseParser::parseStatusLine(const QByteArray &line)
{
    // "HTTP/1.1 200 OK": the reason phrase may be empty or missing.
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() < 2 || !parts[0].startsWith("HTTP/1.") || parts[0].size() != 8 ||
        parts[1].size() != 3) {
        malformed("status line");
    }
    const std::optional<qint64> status = parseLength(parts[1], 10);
    if (!status || *status < 100) {
        malformed("status code");
    }
    m_http11 = parts[0] != "HTTP/1.0";
    m_response.status = static_cast<int>(*status);
    m_response.headers.clear();
    m_state = State::headers;
}

void HttpResponseParser::parseHeaderLine(const QByteArray &line)
{
    if (line.startsWith(' ') || line.startsWith('\t')) {
        // An obsolete folded continuation of the previous header.
        if (m_response.headers.isEmpty()) {
            malformed("header continuation");
        }
        m_response.headers.last().second += ' ' + line.trimmed();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        malformed("header line");
    }
    const QByteArray name = line.left(colon);
    if (name.contains(' ') || name.contains('\t')) {
        malformed("header name");
    }
    m_response.headers.append({name, line.mid(colon + 1).trimmed()});
}

void HttpResponseParser::endOfHeaders()
{
    const int status = m_response.status;
    if (status == 101) {
        malformed("unexpected protocol switch");
    }
    if (status < 200) {
        // An interim answer (100 Continue, 103 Early Hints): the real one follows.
        m_state = State::statusLine;
        return;
    }
    m_keepAlive = m_http11 && !hasToken(m_response.header("Connection"), "close");

    if (m_answersHead || status == 204 || status == 304) {
        m_state = State::complete;
        return;
    }
    const QByteArray transferEncoding = m_response.header("Transfer-Encoding");
    if (!transferEncoding.isEmpty()) {
        if (transferEncoding.split(',').last().trimmed().compare("chunked", Qt::CaseInsensitive) ==
            0) {
            m_state = State::chunkSize;
        } else {
            m_keepAlive = false;
            m_state = State::bodyUntilClose;
        }
        return;
    }
    std::optional<qint64> length;
    for (const auto &[name, value] : std::as_const(m_response.headers)) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) != 0) {
            continue;
        }
        const std::optional<qint64> parsed = parseLength(value.trimmed(), 10);
        if (!parsed || (length && *length != *parsed)) {
            malformed("Content-Length");
        }
        length = parsed;
    }
    if (!length) {
        m_keepAlive = false;
        m_state = State::bodyUntilClose;
        return;
    }
    if (*length > maxBodyBytes) {
        throw TransportError(TransportError::Kind::other,
                             QStringLiteral("The server's answer is too large."));
    }
    m_remaining = *length;
    m_response.body.reserve(m_remaining);
    m_state = m_remaining > 0 ? State::fixedBody : State::complete;
}

void HttpResponseParser::parseChunkSize(const QByteArray &line)
{
    // Chunk extensions (";name=value") carry nothing we use.
    const qsizetype extensions = line.indexOf(';');
    const QByteArray digits = (extensions < 0 ? line : line.left(extensions)).trimmed();
    const std::optional<qint64> size = parseLength(digits, 16);
    if (!size) {
        malformed("chunk size");
    }
    if (*size > maxBodyBytes - m_response.body.size()) {
        throw TransportError(TransportError::Kind::other,
                             QStringLiteral("The server's answer is too large."));
    }
    m_remaining = *size;
    m_state = m_remaining > 0 ? State::chunkData : State::trailers;
}

void HttpResponseParser::appendBody(const QByteArray &bytes)
{
    if (m_response.body.size() + bytes.size() > maxBodyBytes) {
        throw TransportError(TransportError::Kind::other,
                             QStringLiteral("The server's answer is too large."));
    }
    m_response.body += bytes;
}

} // namespace tessera
