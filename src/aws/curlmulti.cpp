#include "aws/curlmulti.h"

#include "aws/curltransfer.h"
#include "foundation/error.h"
#include "foundation/logging.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <limits>
#include <vector>

namespace tessera {

std::shared_ptr<CurlMulti> CurlMulti::create()
{
    return std::shared_ptr<CurlMulti>(new CurlMulti);
}

CurlMulti::CurlMulti()
{
    // Reference-counted by libcurl: each multi handle holds the library for its lifetime.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    // TLS sessions are kept per transfer unless shared; sharing them lets a new
    // connection to a known server resume instead of a full handshake.
    m_share = curl_share_init();
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_timer = new QTimer;
    m_timer->setSingleShot(true);
    QObject::connect(m_timer, &QTimer::timeout, &m_context,
                     [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    shutDown();
}

void CurlMulti::start(const std::shared_ptr<CurlTransfer> &transfer, const CancellationToken &token)
{
    if (!m_multi) {
        transfer->fail(std::make_exception_ptr(CancelledError()));
        transfer->ended.set();
        return;
    }
    CURL *easy = takeHandle();
    CURLMcode added = CURLM_OUT_OF_MEMORY;
    if (easy) {
        transfer->attach(easy);
        curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
        added = curl_multi_add_handle(m_multi, easy);
    }
    if (added != CURLM_OK) {
        transfer->fail(std::make_exception_ptr(TransportError(
            TransportError::Kind::other, QStringLiteral("The request could not be started: ") +
                                             QString::fromUtf8(curl_multi_strerror(added)))));
        recycle(transfer->detach());
        transfer->ended.set();
        return;
    }
    m_running.emplace(easy, transfer);
    // Set last: an already cancelled token calls back at once.
    transfer->cancellation = token.onCancelled(&m_context, [this, easy] { cancel(easy); });
}

void CurlMulti::cancel(CURL *easy)
{
    const auto found = m_running.find(easy);
    if (found == m_running.end()) {
        return;
    }
    // The resumed waiter may drop the last owner of this multi handle.
    const std::shared_ptr<CurlMulti> self = shared_from_this();
    const std::shared_ptr<CurlTransfer> transfer = found->second;
    m_running.erase(found);
    // Removing an unfinished transfer closes its connection (or resets its HTTP/2 stream).
    curl_multi_remove_handle(m_multi, easy);
    transfer->fail(std::make_exception_ptr(CancelledError()));
    recycle(transfer->detach());
    transfer->ended.set();
}

CURL *CurlMulti::takeHandle()
{
    if (m_idleHandles.empty()) {
        return curl_easy_init();
    }
    CURL *easy = m_idleHandles.back();
    m_idleHandles.pop_back();
    return easy;
}

void CurlMulti::recycle(CURL *easy)
{
    if (!easy) {
        return;
    }
    // A reset handle keeps its buffers, which saves their allocation on every request.
    constexpr std::size_t keptHandles = 16;
    if (m_multi && m_idleHandles.size() < keptHandles) {
        curl_easy_reset(easy);
        m_idleHandles.push_back(easy);
    } else {
        curl_easy_cleanup(easy);
    }
}

int CurlMulti::onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    static_cast<CurlMulti *>(self)->watch(socket, what);
    return 0;
}

int CurlMulti::onTimer(CURLM *, long timeoutMs, void *self)
{
    // Called from inside libcurl, which must not be re-entered: the timer calls back later,
    // even when libcurl asks for "now" (0).
    QTimer *timer = static_cast<CurlMulti *>(self)->m_timer;
    if (timeoutMs < 0) {
        timer->stop();
    } else {
        timer->start(int(std::min<long>(timeoutMs, std::numeric_limits<int>::max())));
    }
    return 0;
}

void CurlMulti::watch(curl_socket_t socket, int what)
{
    // libcurl stops watching a kept connection between its transfers and closes sockets
    // whose numbers the system hands out again, so notifiers are only disabled here and
    // serve whichever socket has their number next, rather than being made for every
    // request.
    SocketWatch &watched = m_sockets[socket];
    const auto notifier = [&](QSocketNotifier *&slot, QSocketNotifier::Type type, bool wanted) {
        if (!wanted) {
            if (slot) {
                slot->setEnabled(false);
            }
            return;
        }
        if (!slot) {
            slot = new QSocketNotifier(qintptr(socket), type);
            const int events = type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
            QObject::connect(slot, &QSocketNotifier::activated, &m_context,
                             [this, socket, events] { act(socket, events); });
        }
        slot->setEnabled(true);
    };
    notifier(watched.readable, QSocketNotifier::Read,
             what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    notifier(watched.writable, QSocketNotifier::Write,
             what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    if (!m_multi) {
        return;
    }
    // A waiter resumed below may drop the last owner of this multi handle.
    const std::shared_ptr<CurlMulti> self = shared_from_this();
    ++m_dispatching;
    int running = 0;
    if (const CURLMcode acted = curl_multi_socket_action(m_multi, socket, events, &running);
        acted != CURLM_OK) {
        // libcurl's own failure (out of memory, a bad handle), which belongs to no one
        // request and so reaches no user: logged.
        qCWarning(lcNetwork, "curl_multi_socket_action failed: %s", curl_multi_strerror(acted));
    }

    // Every ended transfer leaves the multi handle before any waiter resumes: a waiter may
    // start, cancel or shut down transfers, which libcurl allows only between its calls.
    std::vector<std::shared_ptr<CurlTransfer>> ended;
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL *easy = message->easy_handle;
        const CURLcode result = message->data.result;
        const auto found = m_running.find(easy);
        curl_multi_remove_handle(m_multi, easy);
        if (found == m_running.end()) {
            continue;
        }
        ended.push_back(found->second);
        m_running.erase(found);
        ended.back()->finish(result);
        recycle(ended.back()->detach());
    }
    for (const auto &transfer : ended) {
        transfer->ended.set();
    }
    --m_dispatching;
}

void CurlMulti::dispose(QObject *object) const
{
    if (!object) {
        return;
    }
    object->disconnect();
    if (auto *notifier = qobject_cast<QSocketNotifier *>(object)) {
        notifier->setEnabled(false);
    }
    if (m_dispatching > 0 && QCoreApplication::instance()) {
        object->deleteLater();
    } else {
        delete object;
    }
}

void CurlMulti::shutDown()
{
    if (!m_multi) {
        return;
    }
    const auto running = std::move(m_running);
    m_running.clear();
    for (const auto &[easy, transfer] : running) {
        curl_multi_remove_handle(m_multi, easy);
        transfer->fail(std::make_exception_ptr(CancelledError()));
        curl_easy_cleanup(transfer->detach());
    }
    // Every easy handle goes before the share handle they use.
    for (CURL *easy : m_idleHandles) {
        curl_easy_cleanup(easy);
    }
    m_idleHandles.clear();
    // Closes the kept connections; libcurl says goodbye to their sockets as it does.
    curl_multi_cleanup(m_multi);
    m_multi = nullptr;
    curl_share_cleanup(m_share);
    m_share = nullptr;
    for (const auto &[socket, watched] : m_sockets) {
        dispose(watched.readable);
        dispose(watched.writable);
    }
    m_sockets.clear();
    m_timer->stop();
    dispose(m_timer);
    m_timer = nullptr;
    curl_global_cleanup();
    for (const auto &[easy, transfer] : running) {
        transfer->ended.set();
    }
}

} // namespace tessera
