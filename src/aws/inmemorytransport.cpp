#include "aws/inmemorytransport.h"

#include "foundation/error.h"

namespace tessera {

HttpResponse InMemoryHttpTransport::response(int status, QByteArray body, HttpHeaders headers)
{
    HttpResponse reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers = std::move(headers);
    return reply;
}

void InMemoryHttpTransport::enqueue(HttpResponse response)
{
    m_script.push_back(Reply{std::move(response), nullptr});
}

void InMemoryHttpTransport::enqueueFailure(std::exception_ptr failure)
{
    m_script.push_back(Reply{{}, std::move(failure)});
}

void InMemoryHttpTransport::setLatency(std::shared_ptr<Clock> clock,
                                       std::chrono::milliseconds latency)
{
    m_clock = std::move(clock);
    m_latency = latency;
}

InMemoryHttpTransport::Reply InMemoryHttpTransport::nextReply(const HttpRequest &request)
{
    if (!m_script.empty()) {
        Reply reply = std::move(m_script.front());
        m_script.pop_front();
        return reply;
    }
    if (m_handler) {
        try {
            return Reply{m_handler(request), nullptr};
        } catch (...) {
            return Reply{{}, std::current_exception()};
        }
    }
    return Reply{{},
                 std::make_exception_ptr(TransportError(
                     TransportError::Kind::other,
                     QStringLiteral("No reply scripted for %1 %2")
                         .arg(QString::fromLatin1(request.method), request.url.toString())))};
}

QCoro::Task<HttpResponse> InMemoryHttpTransport::send(HttpRequest request, CancellationToken token)
{
    token.throwIfCancelled();
    m_requests.append(request);
    Reply reply = nextReply(request);
    if (m_clock && m_latency.count() > 0) {
        struct InFlight
        {
            InMemoryHttpTransport &transport;
            explicit InFlight(InMemoryHttpTransport &t)
                : transport(t)
            {
                transport.m_highestInFlight =
                    std::max(transport.m_highestInFlight, ++transport.m_inFlight);
            }
            ~InFlight() { --transport.m_inFlight; }
        } inFlight(*this);
        // Keep the clock alive across the wait even if the test swaps it out meanwhile.
        auto clock = m_clock;
        co_await clock->sleep(m_latency, token);
    } else {
        m_highestInFlight = std::max(m_highestInFlight, 1);
    }
    if (reply.failure) {
        std::rethrow_exception(reply.failure);
    }
    co_return std::move(reply.response);
}

} // namespace tessera
