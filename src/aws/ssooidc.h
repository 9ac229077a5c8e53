#pragma once

#include "aws/httptransport.h"
#include "foundation/clock.h"
#include "foundation/error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace tessera {

struct RegisterResponse
{
    QString clientId;
    QString clientSecret;
    double clientSecretExpiresAt = 0; // seconds since 1970-01-01 UTC
};

struct DeviceAuthResponse
{
    QString deviceCode;
    QString userCode;
    QString verificationUriComplete;
    qint64 expiresIn = 0;
    std::optional<qint64> interval;
};

struct TokenResponse
{
    QString accessToken;
    qint64 expiresIn = 0;
    std::optional<QString> refreshToken;
};

// The failure the OIDC client raises on its own: a code, never empty, and an optional
// message. The user sees the message when there is one, otherwise the code.
class OIDCError : public Error
{
public:
    OIDCError(QString code, std::optional<QString> message);
    const QString &code() const { return m_code; }
    const std::optional<QString> &message() const { return m_message; }

    static OIDCError invalidRegion(const QString &region);
    static OIDCError expiredToken();
    static OIDCError invalidResponse();

private:
    QString m_code;
    std::optional<QString> m_message;
};

// The clock used only by pollForToken, injectable so tests can drive the loop.
struct OIDCPollingClock
{
    std::function<Clock::time_point()> now;
    std::function<QCoro::Task<void>(std::chrono::milliseconds, CancellationToken)> sleep;

    static OIDCPollingClock fromClock(std::shared_ptr<Clock> clock);
    static OIDCPollingClock system();
};

// Client of the IAM Identity Center OIDC service: client registration, device
// authorization, token polling and refresh-token redemption. Holds no state between calls.
class SSOOIDC
{
public:
    SSOOIDC(QString region, std::shared_ptr<HttpTransport> session,
            OIDCPollingClock pollingClock = OIDCPollingClock::system());

    QCoro::Task<RegisterResponse> registerClient(CancellationToken token = {}) const;
    QCoro::Task<DeviceAuthResponse> startDeviceAuthorization(QString clientId, QString clientSecret,
                                                             QString startUrl,
                                                             CancellationToken token = {}) const;
    QCoro::Task<TokenResponse> pollForToken(DeviceAuthResponse authorization, QString clientId,
                                            QString clientSecret,
                                            CancellationToken token = {}) const;
    QCoro::Task<TokenResponse> redeemRefreshToken(QString clientId, QString clientSecret,
                                                  QString refreshToken,
                                                  CancellationToken token = {}) const;

    static qint64 validatedPollingInterval(const DeviceAuthResponse &authorization);
    static TokenResponse validatedToken(const TokenResponse &token);
    // The registration's expiry must be a date the secure store can hold and read back:
    // from 1970 to about 317,000 years on.
    static RegisterResponse validatedRegistration(const RegisterResponse &registration);

    const QString &region() const { return m_region; }

private:
    QCoro::Task<QByteArray> request(QString path, QByteArray body, CancellationToken token) const;

    QString m_region;
    std::shared_ptr<HttpTransport> m_session;
    OIDCPollingClock m_pollingClock;
};

} // namespace tessera
