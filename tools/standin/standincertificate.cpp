#include "standincertificate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslKey>
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace tessera::standin {

namespace {

template<auto Free> struct Deleter
{
    template<typename T> void operator()(T *pointer) const { Free(pointer); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;

constexpr long secondsPerDay = 24 * 60 * 60;

KeyPtr newKey()
{
    return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

bool addExtension(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_nconf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool setRandomSerial(X509 *certificate)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return false;
    }
    bytes[0] &= 0x7f; // keep the serial positive
    std::unique_ptr<BIGNUM, Deleter<BN_free>> number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate));
}

CertPtr newCertificate(const char *commonName, EVP_PKEY *key, long validDays)
{
    CertPtr certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), 2) != 1 ||
        !setRandomSerial(certificate.get())) {
        return {};
    }
    // Back-dated by an hour so a client whose clock runs slightly behind still accepts it.
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), validDays * secondsPerDay);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Tessera stand-in"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    if (X509_set_pubkey(certificate.get(), key) != 1) {
        return {};
    }
    return certificate;
}

QByteArray encodeCertificate(X509 *certificate)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) {
        return {};
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

QByteArray encodeKey(EVP_PKEY *key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return {};
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

TlsIdentity failed(QString *error, const QString &message)
{
    if (error) {
        *error = message;
    }
    return {};
}

QString caPath(const QString &directory)
{
    return QDir(directory).filePath(QStringLiteral("ca.pem"));
}
QString certPath(const QString &directory)
{
    return QDir(directory).filePath(QStringLiteral("cert.pem"));
}
QString keyPath(const QString &directory)
{
    return QDir(directory).filePath(QStringLiteral("key.pem"));
}

bool writeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.setPermissions(permissions);
    file.write(data);
    return file.commit();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TlsIdentity TlsIdentity::generate(QString *error)
{
    KeyPtr authorityKey = newKey();
    KeyPtr serverKey = newKey();
    if (!authorityKey || !serverKey) {
        return failed(error, QStringLiteral("could not generate a key pair"));
    }

    CertPtr authority = newCertificate("Tessera stand-in CA", authorityKey.get(), 825);
    if (!authority ||
        X509_set_issuer_name(authority.get(), X509_get_subject_name(authority.get())) != 1 ||
        !addExtension(authority.get(), authority.get(), NID_basic_constraints,
                      "critical,CA:TRUE,pathlen:0") ||
        !addExtension(authority.get(), authority.get(), NID_key_usage,
                      "critical,keyCertSign,cRLSign") ||
        !addExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash") ||
        X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) == 0) {
        return failed(error, QStringLiteral("could not create the certificate authority"));
    }

    CertPtr server = newCertificate("localhost", serverKey.get(), 397);
    if (!server ||
        X509_set_issuer_name(server.get(), X509_get_subject_name(authority.get())) != 1 ||
        !addExtension(server.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(server.get(), authority.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(server.get(), authority.get(), NID_subject_alt_name,
                      "IP:127.0.0.1,DNS:localhost") ||
        !addExtension(server.get(), authority.get(), NID_subject_key_identifier, "hash") ||
        !addExtension(server.get(), authority.get(), NID_authority_key_identifier,
                      "keyid:always") ||
        X509_sign(server.get(), authorityKey.get(), EVP_sha256()) == 0) {
        return failed(error, QStringLiteral("could not create the server certificate"));
    }

    TlsIdentity identity;
    identity.authorityPem = encodeCertificate(authority.get());
    identity.certificatePem = encodeCertificate(server.get()) + identity.authorityPem;
    identity.privateKeyPem = encodeKey(serverKey.get());
    if (identity.authorityPem.isEmpty() || identity.privateKeyPem.isEmpty()) {
        return failed(error, QStringLiteral("could not encode the certificates"));
    }
    return identity;
}

TlsIdentity TlsIdentity::loadOrCreate(const QString &directory, QString *error)
{
    TlsIdentity stored;
    stored.authorityPem = readFile(caPath(directory));
    stored.certificatePem = readFile(certPath(directory));
    stored.privateKeyPem = readFile(keyPath(directory));
    const QList<QSslCertificate> chain = QSslCertificate::fromData(stored.certificatePem);
    const QSslKey key(stored.privateKeyPem, QSsl::Ec);
    if (!stored.authorityPem.isEmpty() && !chain.isEmpty() && !key.isNull() &&
        chain.first().expiryDate() > QDateTime::currentDateTimeUtc().addDays(1)) {
        return stored;
    }

    TlsIdentity fresh = generate(error);
    if (fresh.isNull()) {
        return fresh;
    }
    if (!QDir().mkpath(directory) ||
        !writeFile(caPath(directory), fresh.authorityPem,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther) ||
        !writeFile(certPath(directory), fresh.certificatePem,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther) ||
        !writeFile(keyPath(directory), fresh.privateKeyPem,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        return failed(error,
                      QStringLiteral("could not write the certificates to %1").arg(directory));
    }
    return fresh;
}

QSslConfiguration TlsIdentity::serverConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem);
    if (!chain.isEmpty()) {
        configuration.setLocalCertificateChain(chain);
    }
    configuration.setPrivateKey(QSslKey(privateKeyPem, QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

} // namespace tessera::standin
