#pragma once

#include "aws/httptransport.h"

#include <memory>

namespace tessera {

// The process-wide HTTPS session: QNetworkAccessManager with TLS verification, the
// system proxy settings and extra CAs from AWS_CA_BUNDLE.
std::shared_ptr<HttpTransport> defaultHttpTransport();

} // namespace tessera
