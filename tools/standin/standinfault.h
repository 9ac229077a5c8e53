#pragma once

#include <QString>
#include <chrono>
#include <optional>

namespace tessera::standin {

// What a request asked for, named as the AWS SDKs name the operations.
enum class StandInOperation
{
    registerClient,           // POST /client/register
    startDeviceAuthorization, // POST /device_authorization
    createToken,              // POST /token
    listAccounts,             // GET /assignment/accounts
    listAccountRoles,         // GET /assignment/roles
    getRoleCredentials,       // GET /federation/credentials
    page,                     // the browser pages: start page, verification page
    unknown,
};

QString operationName(StandInOperation operation); // "ListAccountRoles"
// Accepts the SDK name ("CreateToken", any case) or the path's last word ("token",
// "register", "device_authorization", "accounts", "roles").
std::optional<StandInOperation> parseOperation(const QString &name);
bool isPortalOperation(StandInOperation operation);

// A fault injected into the answers of one operation. Latency faults add up; of the
// other kinds the first matching one decides the answer. Each fault affects `remaining`
// more requests (-1: every one) and is used up after that.
struct StandInFault
{
    enum class Kind
    {
        latency,           // answer normally, only later
        error,             // a modeled error by code: "slow_down", "UnauthorizedException"
        status,            // this HTTP status with a body that names no error code
        malformedJson,     // 200 with a body that is not JSON
        repeatedNextToken, // listings: the page repeats the token it was asked with
        endlessPages,      // listings: every page, even past the end, has a new token
    };

    StandInOperation operation = StandInOperation::unknown;
    Kind kind = Kind::latency;
    std::chrono::milliseconds latency{0};
    QString errorCode;
    int status = 0; // Kind::status: the status; Kind::error: overrides the modeled one
    QString message;
    std::optional<int> retryAfterSeconds;
    int remaining = -1;

    static StandInFault delay(StandInOperation operation, std::chrono::milliseconds latency);
    static StandInFault error(StandInOperation operation, const QString &code,
                              const QString &message = {});
    static StandInFault httpStatus(StandInOperation operation, int status);
    static StandInFault malformedJson(StandInOperation operation);
    static StandInFault repeatedNextToken(StandInOperation operation);
    static StandInFault endlessPages(StandInOperation operation);

    StandInFault times(int count) const;
    StandInFault withLatency(std::chrono::milliseconds extra) const;
    StandInFault withRetryAfter(int seconds) const;

    // The command-line form, OPERATION:KIND[=VALUE][*COUNT]:
    //   token:error=slow_down*3   accounts:status=503   roles:latency=250
    //   roles:error=TooManyRequestsException*2   accounts:malformed
    //   accounts:repeated-token   roles:endless
    static std::optional<StandInFault> parse(const QString &faultText, QString *error);
};

// A token bucket: `rate` tokens a second, holding at most `burst`. Time is passed in so
// the arithmetic can be checked without waiting.
class TokenBucket
{
public:
    TokenBucket(double rate = 0, double burst = 0);

    // Takes a token at `nowMs` (any monotonic milliseconds). Always succeeds when the
    // rate is 0 (no limit).
    bool tryTake(qint64 nowMs);
    double rate() const { return m_rate; }

private:
    double m_rate;
    double m_burst;
    double m_tokens;
    std::optional<qint64> m_lastMs;
};

} // namespace tessera::standin
