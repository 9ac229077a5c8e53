#pragma once

#include "aws/httptransport.h"
#include "foundation/asyncevent.h"

#include <QMetaObject>
#include <QString>
#include <curl/curl.h>
#include <exception>
#include <optional>

namespace tessera {

// What every request of one transport shares: where trust comes from and how much of an
// answer is accepted.
struct CurlTransferSettings
{
    // The PEM file that replaces the system's certificate authorities (AWS_CA_BUNDLE).
    std::optional<QByteArray> caBundlePath;
    qint64 maxBodyBytes = 0;
};

// One request as a libcurl easy handle: the request's options, the answer as it arrives,
// and the outcome once the transfer has ended. Main thread only.
class CurlTransfer
{
public:
    // Throws TransportError (other) for a request that cannot be sent as it stands: not
    // https, a method that is not a token, or a header that would break the framing.
    CurlTransfer(HttpRequest request, const CurlTransferSettings &settings);
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer &) = delete;
    CurlTransfer &operator=(const CurlTransfer &) = delete;

    // Sets the request's options on `easy` (fresh or reset), which the transfer then uses
    // until detach() hands it back.
    void attach(CURL *easy);
    CURL *handle() const { return m_easy; }
    CURL *detach();

    // Record how the transfer ended and free what only the request needed; the easy
    // handle, already out of its multi handle, stays attached for detach(). Only the first
    // outcome counts; the owner then sets `ended`.
    void finish(CURLcode result);
    void fail(std::exception_ptr error);
    bool hasEnded() const { return m_ended; }

    // Set by the owner once the transfer has ended, whichever way; the waiter resumes.
    AsyncEvent ended;
    // The link to the request's cancellation, cut when the transfer ends.
    QMetaObject::Connection cancellation;

    // The answer, or the failure, once ended.
    HttpResponse takeResponse();

private:
    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onBody(char *data, size_t size, size_t count, void *self);
    void release();
    std::exception_ptr errorFor(CURLcode result) const;

    HttpRequest m_request;
    CurlTransferSettings m_settings;
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    qint64 m_maxBodyBytes = 0;
    bool m_tooLarge = false;
    bool m_ended = false;
    char m_errorText[CURL_ERROR_SIZE] = {};
    HttpResponse m_response;
    std::exception_ptr m_error;
};

} // namespace tessera
