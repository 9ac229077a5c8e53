#pragma once

#include "aws/httptransport.h"
#include "aws/portalclient.h"
#include "foundation/manualclock.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <memory>
#include <optional>

namespace tessera::test {

// An IAM Identity Center in memory: the OIDC calls and the portal listings, answered on
// the test's manual clock. Requests with a latency wait on that clock, so a test decides
// exactly when each answer arrives and how many are outstanding.
class FakeIdentityCenter final : public HttpTransport
{
public:
    explicit FakeIdentityCenter(std::shared_ptr<ManualClock> clock);

    QCoro::Task<HttpResponse> send(HttpRequest request, CancellationToken token) override;

    // --- OIDC ---
    bool approved = false;
    QString userCode = QStringLiteral("WXYZ-1234");
    QString verificationUri = QStringLiteral("https://device.sso.example/?user_code=WXYZ-1234");
    double clientSecretExpiresAt = 4102444800; // 2100-01-01
    qint64 accessTokenLifetime = 3600;
    bool issueRefreshToken = true;
    // Answered instead of a token to a refresh-token redemption.
    std::optional<int> refreshFailureStatus;
    // How long a refresh answer takes, and whether cancelling the caller stops it.
    std::chrono::milliseconds refreshLatency{0};
    bool refreshHonoursCancellation = true;
    int registrations = 0;
    int deviceAuthorizations = 0;
    int tokenPolls = 0;
    int refreshes = 0;
    QStringList issuedAccessTokens;

    // --- Portal ---
    QList<AccountEntry> accounts;
    QHash<QString, QStringList> roles;
    QHash<QString, int> roleFailureStatus; // by account id
    QStringList rejectedBearerTokens;      // account listings with these answer 401
    std::chrono::milliseconds portalLatency{0};
    int accountListings = 0;
    int roleRequests = 0;
    int rolesInFlight = 0;
    int highestRolesInFlight = 0;
    QStringList bearerTokens;

private:
    HttpResponse answerOIDC(const QString &path, bool isRefresh);
    std::shared_ptr<ManualClock> m_clock;
};

} // namespace tessera::test
