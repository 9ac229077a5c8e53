#pragma once

#include "aws/httptransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslServer>
#include <QTemporaryDir>
#include <QUrl>

namespace tessera::test {

// Self-signed certificates made with openssl for one test run: "trusted" names
// 127.0.0.1, "misnamed" names another host.
class TestCertificates
{
public:
    bool create();
    QString trustedCertificate() const { return m_dir.filePath(QStringLiteral("trusted.pem")); }
    QString trustedKey() const { return m_dir.filePath(QStringLiteral("trusted.key")); }
    QString misnamedCertificate() const { return m_dir.filePath(QStringLiteral("misnamed.pem")); }
    QString misnamedKey() const { return m_dir.filePath(QStringLiteral("misnamed.key")); }
    QString missingFile() const { return m_dir.filePath(QStringLiteral("missing.pem")); }

private:
    bool make(const QString &name, const QString &subjectAltName);
    QTemporaryDir m_dir;
};

// An HTTPS server on 127.0.0.1 that records each request and answers it. By default it
// answers one request per connection and then closes; with `keepAlive` it leaves the
// connection open for more.
class TlsTestServer : public QObject
{
    Q_OBJECT
public:
    QList<QByteArray> requests;
    // The answer to every request; empty holds requests unanswered.
    QByteArray reply;
    bool keepAlive = false;
    // Requests past this many on one connection are met by closing it unanswered, as a
    // server does that drops an idle connection just as a request arrives (-1: no limit).
    int answersPerConnection = -1;
    // Writes each answer in pieces of this many bytes, one per event loop pass (0: whole).
    int pieceSize = 0;

    int acceptedConnections = 0;
    int closedConnections = 0;
    int unansweredRequests = 0;

    ~TlsTestServer() override;

    bool start(const QString &certificatePath, const QString &keyPath);
    QUrl url(const QString &path = QStringLiteral("/client/register")) const;
    quint16 port() const { return m_server.serverPort(); }
    // Closes every open connection from the server's side.
    void closeConnections();

private:
    void accept();
    void answer(QSslSocket *socket);

    QList<QSslSocket *> m_open;
    QSslServer m_server;
};

QByteArray httpReply(int status, const QByteArray &reason, const QByteArray &body,
                     const QByteArray &extraHeaders = {});
HttpRequest postTo(const QUrl &url);
// Clears AWS_CA_BUNDLE and every proxy variable.
void clearTransportEnvironment();

} // namespace tessera::test
