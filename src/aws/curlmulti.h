#pragma once

#include "foundation/cancellation.h"

#include <QObject>
#include <curl/curl.h>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace tessera {

class CurlTransfer;

// A libcurl multi handle driven by the Qt event loop of the main thread: libcurl names the
// sockets and the timeout it waits for, QSocketNotifiers and one single-shot QTimer watch
// them, and curl_multi_socket_action moves the transfers on. The multi handle keeps the
// connections, so later transfers to the same server reuse them (or multiplex over
// HTTP/2).
class CurlMulti : public std::enable_shared_from_this<CurlMulti>
{
public:
    static std::shared_ptr<CurlMulti> create();
    ~CurlMulti();
    CurlMulti(const CurlMulti &) = delete;
    CurlMulti &operator=(const CurlMulti &) = delete;

    // Runs `transfer` until it ends, `token` is cancelled (the transfer is removed at once
    // and fails with CancelledError) or the multi handle shuts down; its `ended` event is
    // then set.
    void start(const std::shared_ptr<CurlTransfer> &transfer, const CancellationToken &token);

    // Ends every transfer with CancelledError, closes every connection and releases
    // libcurl. Later transfers fail with CancelledError. Must run while the application
    // object still exists when any socket or timer was ever watched.
    void shutDown();

private:
    struct SocketWatch
    {
        QSocketNotifier *readable = nullptr;
        QSocketNotifier *writable = nullptr;
    };

    CurlMulti();
    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *self, void *);
    static int onTimer(CURLM *multi, long timeoutMs, void *self);
    void watch(curl_socket_t socket, int what);
    void act(curl_socket_t socket, int events);
    void cancel(CURL *easy);
    CURL *takeHandle();
    void recycle(CURL *easy);
    void dispose(QObject *object) const;

    CURLM *m_multi = nullptr;
    CURLSH *m_share = nullptr;
    std::unordered_map<CURL *, std::shared_ptr<CurlTransfer>> m_running;
    // Easy handles of ended transfers, reset for the next ones.
    std::vector<CURL *> m_idleHandles;
    std::unordered_map<curl_socket_t, SocketWatch> m_sockets;
    QTimer *m_timer = nullptr;
    // Receives the cancellation signals, so they die with the multi handle.
    QObject m_context;
    // How deep the calls from libcurl's sockets and timer are: notifiers and the timer
    // cannot be deleted on the spot while one of them is delivering.
    int m_dispatching = 0;
};

} // namespace tessera
