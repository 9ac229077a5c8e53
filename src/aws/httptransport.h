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
    // How long connecting, or any stretch of the exchange without progress, may last.
    std::chrono::milliseconds timeout{60000};
    // How long the whole exchange may last, however steadily the server trickles.
    std::chrono::milliseconds deadline{120000};

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
};

} // namespace tessera
