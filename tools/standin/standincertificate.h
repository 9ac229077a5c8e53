#pragma once

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>

namespace tessera::standin {

// The TLS identity of the stand-in: a private certificate authority and a server
// certificate it issued for 127.0.0.1 and localhost. Clients trust the authority's
// certificate (AWS_CA_BUNDLE); its private key is thrown away once the server
// certificate is signed, so nothing else can ever be issued under it.
struct TlsIdentity
{
    QByteArray authorityPem;   // what clients put in their trust store
    QByteArray certificatePem; // server certificate followed by the authority
    QByteArray privateKeyPem;  // the server certificate's key (PKCS#8)

    // Makes a fresh identity. Fails only when the crypto library does.
    static TlsIdentity generate(QString *error);

    // Reads "ca.pem", "cert.pem" and "key.pem" from `directory` when all three are there
    // and the server certificate is still valid for at least a day; otherwise generates a
    // fresh identity and writes it there (the key readable by the owner only).
    static TlsIdentity loadOrCreate(const QString &directory, QString *error);

    bool isNull() const { return certificatePem.isEmpty(); }
    QSslConfiguration serverConfiguration() const;
};

} // namespace tessera::standin
