#include "standinfault.h"

#include "standinwire.h"

#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <algorithm>

namespace tessera::standin {

namespace {

struct OperationNames
{
    StandInOperation operation;
    QString sdkName;
    QString shortName;
};

const QList<OperationNames> &operationNames()
{
    static const QList<OperationNames> names = {
        {StandInOperation::registerClient, QStringLiteral("RegisterClient"),
         QStringLiteral("register")},
        {StandInOperation::startDeviceAuthorization, QStringLiteral("StartDeviceAuthorization"),
         QStringLiteral("device_authorization")},
        {StandInOperation::createToken, QStringLiteral("CreateToken"), QStringLiteral("token")},
        {StandInOperation::listAccounts, QStringLiteral("ListAccounts"),
         QStringLiteral("accounts")},
        {StandInOperation::listAccountRoles, QStringLiteral("ListAccountRoles"),
         QStringLiteral("roles")},
        {StandInOperation::getRoleCredentials, QStringLiteral("GetRoleCredentials"),
         QStringLiteral("credentials")},
        {StandInOperation::page, QStringLiteral("Page"), QStringLiteral("page")},
    };
    return names;
}

} // namespace

QString operationName(StandInOperation operation)
{
    for (const OperationNames &names : operationNames()) {
        if (names.operation == operation) {
            return names.sdkName;
        }
    }
    return QStringLiteral("Unknown");
}

std::optional<StandInOperation> parseOperation(const QString &name)
{
    for (const OperationNames &names : operationNames()) {
        if (names.sdkName.compare(name, Qt::CaseInsensitive) == 0 ||
            names.shortName.compare(name, Qt::CaseInsensitive) == 0) {
            return names.operation;
        }
    }
    return std::nullopt;
}

bool isPortalOperation(StandInOperation operation)
{
    return operation == StandInOperation::listAccounts ||
           operation == StandInOperation::listAccountRoles ||
           operation == StandInOperation::getRoleCredentials;
}

namespace {
StandInFault faultOf(StandInOperation operation, StandInFault::Kind kind)
{
    StandInFault fault;
    fault.operation = operation;
    fault.kind = kind;
    return fault;
}
} // namespace

StandInFault StandInFault::delay(StandInOperation operation, std::chrono::milliseconds latency)
{
    StandInFault fault = faultOf(operation, Kind::latency);
    fault.latency = latency;
    return fault;
}

StandInFault StandInFault::error(StandInOperation operation, const QString &code,
                                 const QString &message)
{
    StandInFault fault = faultOf(operation, Kind::error);
    fault.errorCode = code;
    fault.message = message;
    return fault;
}

StandInFault StandInFault::httpStatus(StandInOperation operation, int status)
{
    StandInFault fault = faultOf(operation, Kind::status);
    fault.status = status;
    return fault;
}

StandInFault StandInFault::malformedJson(StandInOperation operation)
{
    return faultOf(operation, Kind::malformedJson);
}

StandInFault StandInFault::repeatedNextToken(StandInOperation operation)
{
    return faultOf(operation, Kind::repeatedNextToken);
}

StandInFault StandInFault::endlessPages(StandInOperation operation)
{
    return faultOf(operation, Kind::endlessPages);
}

StandInFault StandInFault::times(int count) const
{
    StandInFault fault = *this;
    fault.remaining = count;
    return fault;
}

StandInFault StandInFault::withLatency(std::chrono::milliseconds extra) const
{
    StandInFault fault = *this;
    fault.latency = extra;
    return fault;
}

StandInFault StandInFault::withRetryAfter(int seconds) const
{
    StandInFault fault = *this;
    fault.retryAfterSeconds = seconds;
    return fault;
}

std::optional<StandInFault> StandInFault::parse(const QString &faultText, QString *error)
{
    static const QRegularExpression grammar(
        QStringLiteral("^([A-Za-z_]+):([a-z-]+)(?:=([^*]+))?(?:\\*(\\d+))?$"));
    auto fail = [error, &faultText](const QString &why) -> std::optional<StandInFault> {
        if (error) {
            *error = QStringLiteral("fault \"%1\": %2").arg(faultText, why);
        }
        return std::nullopt;
    };
    const QRegularExpressionMatch match = grammar.match(faultText.trimmed());
    if (!match.hasMatch()) {
        return fail(QStringLiteral("expected OPERATION:KIND[=VALUE][*COUNT]"));
    }
    const std::optional<StandInOperation> operation = parseOperation(match.captured(1));
    if (!operation || *operation == StandInOperation::page) {
        return fail(QStringLiteral("unknown operation"));
    }
    const QString kind = match.captured(2);
    const QString value = match.captured(3);
    bool numeric = false;
    const int number = value.toInt(&numeric);

    StandInFault fault;
    if (kind == u"latency" && numeric && number >= 0) {
        fault = delay(*operation, std::chrono::milliseconds(number));
    } else if (kind == u"error" && !value.isEmpty()) {
        const bool known = isPortalOperation(*operation) ? portalError(value).has_value()
                                                         : oidcError(value).has_value();
        if (!known) {
            return fail(QStringLiteral("not an error code of this operation's service"));
        }
        fault = StandInFault::error(*operation, value);
    } else if (kind == u"status" && numeric && number >= 100 && number <= 599) {
        fault = httpStatus(*operation, number);
    } else if (kind == u"malformed" && value.isEmpty()) {
        fault = malformedJson(*operation);
    } else if ((kind == u"repeated-token" || kind == u"endless") && value.isEmpty()) {
        if (!isPortalOperation(*operation)) {
            return fail(QStringLiteral("only listings have pages"));
        }
        fault = kind == u"endless" ? endlessPages(*operation) : repeatedNextToken(*operation);
    } else {
        return fail(QStringLiteral("expected latency=MS, error=CODE, status=N, malformed, "
                                   "repeated-token or endless"));
    }
    if (match.hasCaptured(4)) {
        fault.remaining = match.captured(4).toInt();
    }
    return fault;
}

TokenBucket::TokenBucket(double rate, double burst)
    : m_rate(std::max(rate, 0.0))
    , m_burst(burst > 0 ? burst : std::max(m_rate, 1.0))
    , m_tokens(m_burst)
{}

bool TokenBucket::tryTake(qint64 nowMs)
{
    if (m_rate <= 0) {
        return true;
    }
    if (m_lastMs) {
        const double elapsedSeconds = double(std::max<qint64>(nowMs - *m_lastMs, 0)) / 1000.0;
        m_tokens = std::min(m_burst, m_tokens + elapsedSeconds * m_rate);
    }
    m_lastMs = nowMs;
    if (m_tokens < 1.0) {
        return false;
    }
    m_tokens -= 1.0;
    return true;
}

} // namespace tessera::standin
