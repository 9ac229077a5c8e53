#include "aws/portalretry.h"

#include "foundation/logging.h"

#include <QLocale>
#include <algorithm>
#include <random>

namespace tessera {

namespace {
// Server errors back off as the AWS SDKs do, from one second up. A throttle needs far
// less: the limiter, already cut by the 429, spaces every request (retries included) at
// the rate the service grants, so the retry only waits a few of the service's token
// intervals (50 ms at IAM Identity Center's 20 requests a second), jittered so that
// answers throttled together do not come back together. Waiting seconds here, as for a
// server error, left a short sync idle long after the service would have answered.
constexpr std::chrono::milliseconds serverErrorBaseBackoff{1000};
constexpr std::chrono::milliseconds throttleBaseBackoff{50};
constexpr std::chrono::milliseconds longestBackoff{20000};
constexpr std::chrono::milliseconds longestHonouredRetryAfter{60000};

std::function<double()> seededRandom()
{
    auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
    return [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
}
} // namespace

bool isRetryableStatus(int status)
{
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

std::optional<std::chrono::milliseconds> retryAfterDelay(const HttpResponse &response,
                                                         const QDateTime &now)
{
    const QByteArray value = response.header("Retry-After").trimmed();
    if (value.isEmpty()) {
        return std::nullopt;
    }
    bool isNumber = false;
    const qlonglong seconds = value.toLongLong(&isNumber);
    if (isNumber) {
        return seconds < 0 ? std::nullopt
                           : std::optional(std::chrono::milliseconds(
                                 std::min<qlonglong>(seconds, 24 * 3600) * 1000));
    }
    // An HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT".
    QDateTime date = QLocale::c().toDateTime(QString::fromLatin1(value),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    date.setTimeSpec(Qt::UTC);
    if (!date.isValid()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::max<qint64>(now.msecsTo(date), 0));
}

PortalThrottle::PortalThrottle(PortalRetryOptions options)
    : m_options(std::move(options))
    , m_limiter(m_options.clock)
{
    if (!m_options.random) {
        m_options.random = seededRandom();
    }
}

std::chrono::milliseconds PortalThrottle::backoff(int retry, int status)
{
    const auto base = status == 429 ? throttleBaseBackoff : serverErrorBaseBackoff;
    const auto ceiling = std::min<std::chrono::milliseconds>(
        longestBackoff, base * (qint64(1) << std::clamp(retry - 1, 0, 30)));
    const double fraction = std::clamp(m_options.random(), 0.0, 1.0);
    return std::chrono::milliseconds(static_cast<qint64>(fraction * double(ceiling.count())));
}

QCoro::Task<HttpResponse> PortalThrottle::send(std::shared_ptr<HttpTransport> session,
                                               HttpRequest request, CancellationToken token)
{
    for (int attempt = 1;; ++attempt) {
        co_await m_limiter.acquire(token);
        const auto sentAt = m_options.clock->now();
        HttpResponse response = co_await session->send(request, token);
        m_limiter.recordResponse(response.status == 429, sentAt);
        if (!isRetryableStatus(response.status) || attempt >= m_options.maxAttempts) {
            co_return response;
        }
        const auto asked = retryAfterDelay(response, m_options.clock->currentDateTime());
        if (asked && *asked > longestHonouredRetryAfter) {
            co_return response;
        }
        const auto delay = std::max(backoff(attempt, response.status),
                                    asked.value_or(std::chrono::milliseconds{0}));
        qCDebug(lcNetwork, "Access portal answered HTTP %d; attempt %d of %d in %lld ms",
                response.status, attempt + 1, m_options.maxAttempts,
                static_cast<long long>(delay.count()));
        const auto clock = m_options.clock;
        co_await clock->sleep(delay, token);
    }
}

} // namespace tessera
