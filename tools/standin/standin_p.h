#pragma once

#include "standin.h"
#include "standinanswerdelay.h"
#include "standincertificate.h"

#include <QHash>
#include <QTemporaryDir>

namespace tessera::standin {

struct RegisteredClient
{
    QString secret;
    QString name;
    QStringList scopes;
};

struct DeviceAuthorization
{
    enum class State
    {
        pending,
        approved,
        denied,
        redeemed
    };
    QString clientId;
    QString deviceCode;
    QString userCode;
    QString startUrl;
    qint64 expiresAtMs = 0;
    qint64 approveAtMs = -1; // afterDelay: when it approves itself
    State state = State::pending;
};

struct IssuedAccessToken
{
    QString clientId;
    qint64 expiresAtMs = 0;
};

struct IssuedRefreshToken
{
    QString clientId;
    QStringList scopes;
};

struct StandIn::State
{
    StandInOptions options;
    QElapsedTimer clock; // monotonic milliseconds for every expiry and the log
    HttpServer *server = nullptr;
    TlsIdentity identity;
    std::unique_ptr<QTemporaryDir> privateCertificateDirectory;
    QString caBundlePath;

    QHash<QString, RegisteredClient> clients;
    QHash<QString, DeviceAuthorization> authorizations; // by device code
    QHash<QString, IssuedAccessToken> accessTokens;
    QHash<QString, IssuedRefreshToken> refreshTokens;
    quint64 pageTokenSerial = 0;

    TokenBucket accountsBucket;
    TokenBucket rolesBucket;
    TokenBucket credentialsBucket;
    QList<StandInFault> faults;

    QList<StandInRequest> log;
    AnswerDelay answerDelay; // shared by every delayed answer: it learns its timers' lateness
    quint64 nextSequence = 1;

    qint64 now() const { return clock.elapsed(); }
    DeviceAuthorization *authorizationByUserCode(const QString &userCode);
};

struct StandIn::Outcome
{
    HttpServerResponse response;
    std::chrono::milliseconds latency{0};
    bool throttled = false;
};

// Unguessable identifiers and secrets: URL-safe base64 of `bytes` random bytes.
QString randomToken(int bytes);
// "BCDF-GHJK": eight letters without vowels, so no code spells a word.
QString randomUserCode();

} // namespace tessera::standin
