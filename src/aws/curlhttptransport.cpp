#include "aws/curlhttptransport.h"

#include "aws/curlmulti.h"
#include "aws/transportsupport.h"

#include <QCoreApplication>
#include <QFile>

namespace tessera {

CurlHttpTransport::CurlHttpTransport(qint64 maxBodyBytes)
    : m_multi(CurlMulti::create())
{
    const CaBundle bundle = caBundleFromEnvironment();
    m_caBundleProblem = bundle.problem;
    if (bundle.path) {
        m_settings.caBundlePath = QFile::encodeName(*bundle.path);
    }
    m_settings.maxBodyBytes = maxBodyBytes;
}

CurlHttpTransport::~CurlHttpTransport()
{
    m_multi->shutDown();
}

QCoro::Task<HttpResponse> CurlHttpTransport::send(HttpRequest request, CancellationToken token)
{
    token.throwIfCancelled();
    if (m_caBundleProblem) {
        throw *m_caBundleProblem;
    }
    // Everything this object owns is used before the suspension; the transport may be gone
    // when the transfer ends.
    const auto transfer = std::make_shared<CurlTransfer>(std::move(request), m_settings);
    m_multi->start(transfer, token);
    co_await transfer->ended;
    co_return transfer->takeResponse();
}

void CurlHttpTransport::shutDown()
{
    m_multi->shutDown();
}

namespace {
std::shared_ptr<CurlHttpTransport> &defaultTransport()
{
    static std::shared_ptr<CurlHttpTransport> transport;
    return transport;
}

// Socket notifiers and timers belong to the application's event loop: they must go while
// the application object exists, not in static destruction after it.
void shutDownDefaultTransport()
{
    if (const auto &transport = defaultTransport()) {
        transport->shutDown();
    }
}
} // namespace

std::shared_ptr<HttpTransport> defaultHttpTransport()
{
    auto &transport = defaultTransport();
    if (!transport) {
        transport = std::make_shared<CurlHttpTransport>();
        qAddPostRoutine(shutDownDefaultTransport);
    }
    return transport;
}

} // namespace tessera
