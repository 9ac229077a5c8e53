#include "aws/curltransfer.h"

#include "aws/transportsupport.h"

#include <QObject>
#include <algorithm>
#include <limits>
#include <utility>

namespace tessera {

namespace {

// The request's framing is libcurl's; a caller's copy of these would contradict it.
bool isFramingHeader(const QByteArray &name)
{
    static const QByteArray owned[] = {"Host", "Content-Length", "Transfer-Encoding", "Connection",
                                       "Expect"};
    return std::any_of(std::begin(owned), std::end(owned), [&](const QByteArray &header) {
        return name.compare(header, Qt::CaseInsensitive) == 0;
    });
}

bool isToken(const QByteArray &text)
{
    return !text.isEmpty() && std::none_of(text.begin(), text.end(), [](char c) {
        return c <= ' ' || c == ':' || c == 0x7f;
    });
}

bool isSafeValue(const QByteArray &value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

bool hasHeader(const HttpHeaders &headers, const char *name)
{
    return std::any_of(headers.begin(), headers.end(), [name](const auto &header) {
        return header.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

TransportError invalidRequest(const QString &why)
{
    return TransportError(TransportError::Kind::other, why);
}

long clampedMilliseconds(std::chrono::milliseconds duration)
{
    return static_cast<long>(std::clamp<std::chrono::milliseconds::rep>(
        duration.count(), 1, std::numeric_limits<int>::max()));
}

TransportError::Kind kindOf(CURLcode result)
{
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return TransportError::Kind::timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return TransportError::Kind::tls;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_PROXY:
        return TransportError::Kind::connection;
    default:
        return TransportError::Kind::other;
    }
}

} // namespace

CurlTransfer::CurlTransfer(HttpRequest request, const CurlTransferSettings &settings)
    : m_request(std::move(request))
    , m_maxBodyBytes(settings.maxBodyBytes)
{
    const QUrl &url = m_request.url;
    if (url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
        throw invalidRequest(QStringLiteral("Only https URLs can be requested, not “%1”.")
                                 .arg(url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)));
    }
    if (!isToken(m_request.method)) {
        throw invalidRequest(QStringLiteral("The request method is not valid."));
    }
    for (const auto &[name, value] : std::as_const(m_request.headers)) {
        // libcurl takes each header as a C string, so a NUL would cut it short, and a line
        // break would start a header the caller never meant to send.
        if (!isToken(name) || !isSafeValue(value)) {
            throw invalidRequest(QStringLiteral("The request header “%1” is not valid.")
                                     .arg(QString::fromLatin1(name.left(64).toPercentEncoding())));
        }
    }
    m_settings = settings;
}

CurlTransfer::~CurlTransfer()
{
    release();
    if (m_easy) {
        curl_easy_cleanup(m_easy);
    }
}

void CurlTransfer::attach(CURL *easy)
{
    m_easy = easy;
    const CurlTransferSettings &settings = m_settings;
    const QByteArray url = m_request.url.toEncoded(QUrl::RemoveFragment);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText);

    // Connections: kept and shared by the multi handle; HTTP/2 when the server offers it,
    // waiting for a connection that may multiplex rather than opening another.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);

    // Trust: always verified, for the server and for an https:// proxy alike. A named
    // bundle replaces the system's authorities, as the AWS SDKs do with AWS_CA_BUNDLE.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    if (settings.caBundlePath) {
        const char *bundle = settings.caBundlePath->constData();
        curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_PROXY_CAINFO, bundle);
        curl_easy_setopt(easy, CURLOPT_PROXY_CAPATH, nullptr);
    }
    // Proxies come from https_proxy/HTTPS_PROXY and no_proxy/NO_PROXY, read by libcurl;
    // the proxy's own answer to CONNECT is not part of the response.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    // Time: `timeout` bounds connecting and any stretch without progress (libcurl counts
    // the latter in whole seconds); `deadline` bounds the whole exchange, so a server
    // trickling bytes cannot hold a request for ever.
    const long stallSeconds =
        std::max<long>(1, (clampedMilliseconds(m_request.timeout) + 999) / 1000);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, clampedMilliseconds(m_request.timeout));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, clampedMilliseconds(m_request.deadline));

    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_maxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);

    const QByteArray &method = m_request.method;
    const bool sendsBody =
        !m_request.body.isEmpty() || method == "POST" || method == "PUT" || method == "PATCH";
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (sendsBody) {
        // libcurl reads the body from our copy, which lives as long as the handle.
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_request.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, m_request.body.constData());
    }
    if (method != "GET" && method != "HEAD" && method != "POST") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }

    curl_easy_setopt(easy, CURLOPT_USERAGENT, tesseraUserAgent().constData());
    for (const auto &[name, value] : std::as_const(m_request.headers)) {
        if (!isFramingHeader(name)) {
            // "Name;" is libcurl's way of sending a header with an empty value.
            const QByteArray line =
                value.isEmpty() ? QByteArray(name + ';') : QByteArray(name + ": " + value);
            m_headers = curl_slist_append(m_headers, line.constData());
        }
    }
    // Nothing the caller did not ask for: no 100-continue round trip, no form content
    // type on a body, no Accept of libcurl's own.
    m_headers = curl_slist_append(m_headers, "Expect:");
    if (sendsBody && !hasHeader(m_request.headers, "Content-Type")) {
        m_headers = curl_slist_append(m_headers, "Content-Type:");
    }
    if (!hasHeader(m_request.headers, "Accept")) {
        m_headers = curl_slist_append(m_headers, "Accept:");
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers);
}

size_t CurlTransfer::onHeader(char *data, size_t size, size_t count, void *self)
{
    auto *transfer = static_cast<CurlTransfer *>(self);
    // libcurl bounds the size of the headers itself.
    const size_t bytes = size * count;
    QByteArray line(data, qsizetype(bytes));
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    HttpHeaders &headers = transfer->m_response.headers;
    if (line.startsWith("HTTP/")) {
        // A new status line: what came before belonged to an interim answer.
        headers.clear();
        transfer->m_response.body.clear();
    } else if ((line.startsWith(' ') || line.startsWith('\t')) && !headers.isEmpty()) {
        headers.last().second += ' ' + line.trimmed();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return bytes;
}

size_t CurlTransfer::onBody(char *data, size_t size, size_t count, void *self)
{
    auto *transfer = static_cast<CurlTransfer *>(self);
    const size_t bytes = size * count;
    QByteArray &body = transfer->m_response.body;
    if (body.size() + qint64(bytes) > transfer->m_maxBodyBytes) {
        transfer->m_tooLarge = true;
        return 0;
    }
    if (body.isEmpty()) {
        curl_off_t length = -1;
        curl_easy_getinfo(transfer->m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length > 0 && length <= transfer->m_maxBodyBytes) {
            body.reserve(qsizetype(length));
        }
    }
    body.append(data, qsizetype(bytes));
    return bytes;
}

void CurlTransfer::finish(CURLcode result)
{
    if (m_ended) {
        return;
    }
    if (result == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        m_response.status = int(status);
    } else {
        m_error = errorFor(result);
    }
    m_ended = true;
    release();
}

void CurlTransfer::fail(std::exception_ptr error)
{
    if (m_ended) {
        return;
    }
    m_error = std::move(error);
    m_ended = true;
    release();
}

std::exception_ptr CurlTransfer::errorFor(CURLcode result) const
{
    if (m_tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        return std::make_exception_ptr(
            TransportError(TransportError::Kind::other,
                           QStringLiteral("The server's answer is larger than the %1 bytes "
                                          "Tessera accepts.")
                               .arg(m_maxBodyBytes)));
    }
    const QString detail =
        QString::fromUtf8(m_errorText[0] ? m_errorText : curl_easy_strerror(result));
    switch (kindOf(result)) {
    case TransportError::Kind::timeout:
        return std::make_exception_ptr(requestTimedOutError());
    case TransportError::Kind::tls:
        return std::make_exception_ptr(tlsHandshakeError(detail));
    case TransportError::Kind::connection:
        return std::make_exception_ptr(connectionError(detail));
    default:
        return std::make_exception_ptr(
            TransportError(TransportError::Kind::other,
                           QStringLiteral("The request could not be completed: ") + detail));
    }
}

HttpResponse CurlTransfer::takeResponse()
{
    if (m_error) {
        std::rethrow_exception(m_error);
    }
    return std::move(m_response);
}

CURL *CurlTransfer::detach()
{
    return std::exchange(m_easy, nullptr);
}

void CurlTransfer::release()
{
    QObject::disconnect(cancellation);
    curl_slist_free_all(m_headers);
    m_headers = nullptr;
    m_request.body = {};
}

} // namespace tessera
