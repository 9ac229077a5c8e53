#pragma once

#include "aws/httptransport.h"
#include "foundation/clock.h"

#include <QList>
#include <deque>
#include <exception>
#include <functional>
#include <memory>

namespace tessera {

// A transport for tests: answers from a script of replies (first in, first out) or from a
// handler, logs every request it receives, and can hold each request in flight for a
// latency measured on an injected clock (a ManualClock in tests), so that tests can see
// requests in flight, overlap them and cancel them there.
class InMemoryHttpTransport final : public HttpTransport
{
public:
    // Computes the answer to one request; may throw (for example TransportError) to fail it.
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    // A response with a JSON (or any) body and optional extra headers.
    static HttpResponse response(int status, QByteArray body = {}, HttpHeaders headers = {});

    // Scripted replies are used before the handler, in the order they were added.
    void enqueue(HttpResponse response);
    void enqueueFailure(std::exception_ptr failure);
    template<typename E> void enqueueFailure(E failure)
    {
        enqueueFailure(std::make_exception_ptr(std::move(failure)));
    }
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    // Each request then waits `latency` on `clock` after it was received and before it is
    // answered; the answer is decided when the request is received.
    void setLatency(std::shared_ptr<Clock> clock, std::chrono::milliseconds latency);

    // Every request received, in arrival order (including ones later cancelled).
    const QList<HttpRequest> &requests() const { return m_requests; }
    int requestCount() const { return static_cast<int>(m_requests.size()); }
    int pendingReplies() const { return static_cast<int>(m_script.size()); }
    int inFlight() const { return m_inFlight; }
    int highestInFlight() const { return m_highestInFlight; }

    // Fails when `token` is cancelled before or while the request is in flight, with
    // CancelledError. With nothing scripted and no handler, fails with a TransportError
    // naming the request, so a test sees the unexpected request.
    QCoro::Task<HttpResponse> send(HttpRequest request, CancellationToken token) override;

private:
    struct Reply
    {
        HttpResponse response;
        std::exception_ptr failure;
    };
    Reply nextReply(const HttpRequest &request);

    std::deque<Reply> m_script;
    Handler m_handler;
    std::shared_ptr<Clock> m_clock;
    std::chrono::milliseconds m_latency{0};
    QList<HttpRequest> m_requests;
    int m_inFlight = 0;
    int m_highestInFlight = 0;
};

} // namespace tessera
