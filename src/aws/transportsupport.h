#pragma once

#include "foundation/error.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace tessera {

// The certificate authorities named by AWS_CA_BUNDLE, read when a transport is made.
struct CaBundle
{
    // The file's path as given, when the variable is set.
    std::optional<QString> path;
    // Set when the named file holds no readable certificate: every request then fails
    // with it rather than silently trusting less (or more) than asked.
    std::optional<TransportError> problem;
};

CaBundle caBundleFromEnvironment();

// The failures every transport reports alike, so callers and users see one wording.
TransportError requestTimedOutError();
TransportError tlsHandshakeError(const QString &detail);
TransportError connectionError(const QString &detail);

// "Tessera/<version>", sent so the service's logs can tell our requests apart.
QByteArray tesseraUserAgent();

} // namespace tessera
