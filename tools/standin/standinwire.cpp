#include "standinwire.h"

#include <QJsonDocument>
#include <QList>
#include <QUuid>

namespace tessera::standin {

namespace {

const QList<ModeledError> &oidcErrors()
{
    static const QList<ModeledError> errors = {
        {QStringLiteral("invalid_request"), QStringLiteral("InvalidRequestException"), 400},
        {QStringLiteral("invalid_client"), QStringLiteral("InvalidClientException"), 401},
        {QStringLiteral("invalid_grant"), QStringLiteral("InvalidGrantException"), 400},
        {QStringLiteral("unauthorized_client"), QStringLiteral("UnauthorizedClientException"), 400},
        {QStringLiteral("unsupported_grant_type"), QStringLiteral("UnsupportedGrantTypeException"),
         400},
        {QStringLiteral("invalid_scope"), QStringLiteral("InvalidScopeException"), 400},
        {QStringLiteral("authorization_pending"), QStringLiteral("AuthorizationPendingException"),
         400},
        {QStringLiteral("slow_down"), QStringLiteral("SlowDownException"), 400},
        {QStringLiteral("access_denied"), QStringLiteral("AccessDeniedException"), 400},
        {QStringLiteral("expired_token"), QStringLiteral("ExpiredTokenException"), 400},
        {QStringLiteral("invalid_client_metadata"),
         QStringLiteral("InvalidClientMetadataException"), 400},
        {QStringLiteral("server_error"), QStringLiteral("InternalServerException"), 500},
    };
    return errors;
}

const QList<ModeledError> &portalErrors()
{
    static const QList<ModeledError> errors = {
        {{}, QStringLiteral("InvalidRequestException"), 400},
        {{}, QStringLiteral("UnauthorizedException"), 401},
        {{}, QStringLiteral("ResourceNotFoundException"), 404},
        {{}, QStringLiteral("TooManyRequestsException"), 429},
    };
    return errors;
}

} // namespace

QByteArray newRequestId()
{
    return QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
}

HttpServerResponse jsonResponse(const QJsonObject &body, int status)
{
    HttpServerResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "application/json"}, {"x-amzn-RequestId", newRequestId()}};
    response.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return response;
}

std::optional<ModeledError> oidcError(const QString &codeOrException)
{
    for (const ModeledError &error : oidcErrors()) {
        if (error.oauthCode.compare(codeOrException, Qt::CaseInsensitive) == 0 ||
            error.exceptionName.compare(codeOrException, Qt::CaseInsensitive) == 0) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<ModeledError> portalError(const QString &exception)
{
    for (const ModeledError &error : portalErrors()) {
        if (error.exceptionName.compare(exception, Qt::CaseInsensitive) == 0 ||
            error.exceptionName.compare(exception + QStringLiteral("Exception"),
                                        Qt::CaseInsensitive) == 0) {
            return error;
        }
    }
    return std::nullopt;
}

HttpServerResponse oidcErrorResponse(const QString &code, const QString &description, int status)
{
    const std::optional<ModeledError> modeled = oidcError(code);
    // An unmodeled code still goes out the OAuth way, so clients see exactly what was asked.
    const QString oauthCode = modeled ? modeled->oauthCode : code;
    QJsonObject body{{QStringLiteral("error"), oauthCode}};
    if (!description.isEmpty()) {
        body.insert(QStringLiteral("error_description"), description);
    }
    HttpServerResponse response =
        jsonResponse(body, status ? status : (modeled ? modeled->status : 400));
    if (modeled) {
        response.headers.append({"x-amzn-ErrorType", modeled->exceptionName.toLatin1()});
    }
    return response;
}

HttpServerResponse portalErrorResponse(const QString &exception, const QString &message, int status)
{
    const std::optional<ModeledError> modeled = portalError(exception);
    const QString name = modeled ? modeled->exceptionName : exception;
    const int effectiveStatus = status ? status : (modeled ? modeled->status : 400);
    const QString text =
        message.isEmpty() ? QString::fromLatin1(reasonPhrase(effectiveStatus)) : message;
    HttpServerResponse response =
        jsonResponse(QJsonObject{{QStringLiteral("message"), text}}, effectiveStatus);
    response.headers.append({"x-amzn-ErrorType", name.toLatin1()});
    return response;
}

HttpServerResponse bareStatusResponse(int status)
{
    return jsonResponse(
        QJsonObject{{QStringLiteral("message"), QString::fromLatin1(reasonPhrase(status))}},
        status);
}

} // namespace tessera::standin
