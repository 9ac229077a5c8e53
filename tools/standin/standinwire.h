#pragma once

#include "standinhttpserver.h"

#include <QJsonObject>
#include <QString>
#include <optional>

namespace tessera::standin {

// The answers as the two AWS services put them on the wire: JSON bodies, a request id,
// and for errors the x-amzn-ErrorType header that AWS SDKs read the error code from.

HttpServerResponse jsonResponse(const QJsonObject &body, int status = 200);

// An OIDC service error: the OAuth error code ("authorization_pending") in "error", the
// description in "error_description", and the modeled exception name in the header.
// Accepts the OAuth code or the exception name ("AuthorizationPendingException").
// `status` 0 means the modeled status of that error.
HttpServerResponse oidcErrorResponse(const QString &code, const QString &description = {},
                                     int status = 0);

// An access-portal error: {"message": ...} with the exception name in the header.
// Accepts the exception name or its short form ("Unauthorized", "TooManyRequests").
HttpServerResponse portalErrorResponse(const QString &exception, const QString &message = {},
                                       int status = 0);

// An answer with `status` whose body carries no error code: {"message": reason}.
HttpServerResponse bareStatusResponse(int status);

struct ModeledError
{
    QString oauthCode;     // empty for the portal's errors
    QString exceptionName; // "SlowDownException"
    int status = 400;
};

// The OIDC service's modeled errors, by OAuth code or exception name.
std::optional<ModeledError> oidcError(const QString &codeOrException);
// The access portal's modeled errors, by exception name with or without "Exception".
std::optional<ModeledError> portalError(const QString &exception);

QByteArray newRequestId();

} // namespace tessera::standin
