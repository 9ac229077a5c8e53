#pragma once

#include "aws/httptransport.h"
#include "aws/portalretry.h"
#include "foundation/error.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

struct AccountEntry
{
    QString accountId;
    QString accountName;

    bool operator==(const AccountEntry &) const = default;
};

class PortalError : public Error
{
public:
    enum class Case
    {
        http,
        invalidRegion,
        unauthorized,
        invalidResponse,
        repeatedNextToken,
        pageLimitExceeded,
        entryLimitExceeded
    };

    static PortalError http(int status);
    static PortalError invalidRegion(const QString &region);
    static PortalError unauthorized();
    static PortalError invalidResponse();
    static PortalError repeatedNextToken();
    static PortalError pageLimitExceeded();
    // `what` names the listing: "accounts", or "roles for account 123456789012".
    static PortalError entryLimitExceeded(const QString &what);

    Case errorCase() const { return m_case; }
    int status() const { return m_status; }
    const QString &region() const { return m_region; }
    bool operator==(const PortalError &other) const;

private:
    PortalError(Case errorCase, QString description, int status = 0, QString region = {});
    Case m_case;
    int m_status;
    QString m_region;
};

// Reads the accounts and role names a signed-in user may use from the access portal,
// following pagination to the end with guards against a service that never stops.
class PortalClient
{
public:
    // Copies of a client share its retry state (the adaptive rate limiter).
    PortalClient(QString region, QString accessToken, std::shared_ptr<HttpTransport> session,
                 int maximumPageCount, PortalRetryOptions retry = {});

    QCoro::Task<QList<AccountEntry>> listAccounts(CancellationToken token = {}) const;
    QCoro::Task<QStringList> listRoles(QString accountId, CancellationToken token = {}) const;

    const QString &region() const { return m_region; }
    int maximumPageCount() const { return m_maximumPageCount; }

    // The most one listing may hold, far above any real organization, so that a broken or
    // hostile portal cannot make the listings grow without bound.
    static constexpr qsizetype maximumAccountCount = 100000;
    static constexpr qsizetype maximumRoleCount = 1000;

private:
    using QueryItems = QList<QPair<QString, QString>>;
    using PageReader = std::function<void(const QJsonObject &page)>;
    QCoro::Task<void> fetchAllPages(QString path, QueryItems query, PageReader readPage,
                                    CancellationToken token) const;
    QCoro::Task<QByteArray> fetchPage(QString path, QueryItems query,
                                      CancellationToken token) const;

    QString m_region;
    QString m_accessToken;
    std::shared_ptr<HttpTransport> m_session;
    int m_maximumPageCount;
    std::shared_ptr<PortalThrottle> m_throttle;
};

} // namespace tessera
