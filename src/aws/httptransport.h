#pragma once

#include "foundation/cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPair>
#include <QUrl>
#include <chrono>

namespace tessera {

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest
{
    QByteArray method = "GET";
    QUrl url;
    HttpHeaders headers;
    QByteArray body;
    std::chrono::milliseconds timeout{60000};

    QByteArray header(const QByteArray &name) const;
};

struct HttpResponse
{
    int status = 0;
    HttpHeaders headers;
    QByteArray body;

    // Case-insensitive lookup; empty when absent.
    QByteArray header(const QByteArray &name) const;
};

// The one way Tessera talks HTTP. send() yields the response for any status, or throws
// TransportError (no connection, TLS failure, timeout) or CancelledError when `token` is
// cancelled while the request is in flight.
class HttpTransport
{
public:
    virtual ~HttpTransport();
    virtual QCoro::Task<HttpResponse> send(HttpRequest request, CancellationToken token) = 0;

    // A hint that up to `count` requests to `origin` (scheme, host and port) are about to
    // run at once: a transport that keeps connections may open them now, so that their
    // handshakes overlap with other waiting instead of delaying those requests. It never
    // fails; a connection that cannot be made is reported by the request that needs it.
    virtual void prepareConnections(const QUrl &origin, int count);
};

} // namespace tessera
