#include "aws/networktransport.h"

namespace tessera {

// Replaced by the QNetworkAccessManager transport.
std::shared_ptr<HttpTransport> defaultHttpTransport()
{
    return nullptr;
}

} // namespace tessera
