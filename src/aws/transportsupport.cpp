#include "aws/transportsupport.h"

#include <QFile>
#include <QSslCertificate>

namespace tessera {

CaBundle caBundleFromEnvironment()
{
    CaBundle bundle;
    const QString path = qEnvironmentVariable("AWS_CA_BUNDLE");
    if (path.isEmpty()) {
        return bundle;
    }
    bundle.path = path;
    // Checked here, before any connection: libcurl would only find out during a handshake,
    // one connection at a time.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) ||
        QSslCertificate::fromDevice(&file, QSsl::Pem).isEmpty()) {
        bundle.problem = TransportError(
            TransportError::Kind::tls, QStringLiteral("The CA bundle named by AWS_CA_BUNDLE (“%1”) "
                                                      "holds no readable PEM certificate.")
                                           .arg(path));
    }
    return bundle;
}

TransportError requestTimedOutError()
{
    return TransportError(TransportError::Kind::timeout, QStringLiteral("The request timed out."));
}

TransportError tlsHandshakeError(const QString &detail)
{
    return TransportError(TransportError::Kind::tls,
                          QStringLiteral("A secure connection to the server could not be made: ") +
                              detail);
}

TransportError connectionError(const QString &detail)
{
    return TransportError(TransportError::Kind::connection,
                          QStringLiteral("Could not connect to the server: ") + detail);
}

QByteArray tesseraUserAgent()
{
    return QByteArrayLiteral("Tessera/" TESSERA_VERSION);
}

} // namespace tessera
