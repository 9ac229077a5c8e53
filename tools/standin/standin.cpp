#include "standin.h"

#include "standin_p.h"
#include "standinwire.h"

#include <QDir>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTimer>

namespace tessera::standin {

namespace {
// Enough for any test and an afternoon of demo; the oldest entries go first.
constexpr qsizetype maximumLogEntries = 200000;

StandInOperation operationFor(const HttpServerRequest &request)
{
    const QString &path = request.path;
    if (request.method == "POST") {
        if (path == u"/client/register") {
            return StandInOperation::registerClient;
        }
        if (path == u"/device_authorization") {
            return StandInOperation::startDeviceAuthorization;
        }
        if (path == u"/token") {
            return StandInOperation::createToken;
        }
        if (path == u"/device") {
            return StandInOperation::page;
        }
    } else if (request.method == "GET") {
        if (path == u"/assignment/accounts") {
            return StandInOperation::listAccounts;
        }
        if (path == u"/assignment/roles") {
            return StandInOperation::listAccountRoles;
        }
        if (path == u"/federation/credentials") {
            return StandInOperation::getRoleCredentials;
        }
        if (path == u"/" || path == u"/start" || path == u"/start/" || path == u"/device") {
            return StandInOperation::page;
        }
    }
    return StandInOperation::unknown;
}

HttpServerResponse malformedBody()
{
    HttpServerResponse response;
    response.headers = {{"Content-Type", "application/json"}, {"x-amzn-RequestId", newRequestId()}};
    response.body = "{\"truncated\": [1, 2, ";
    return response;
}
} // namespace

QString randomToken(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(data.begin(), data.end());
    return QString::fromLatin1(
        data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString randomUserCode()
{
    static const char letters[] = "BCDFGHJKLMNPQRSTVWXZ";
    QString code;
    for (int i = 0; i < 8; ++i) {
        if (i == 4) {
            code += QLatin1Char('-');
        }
        code += QLatin1Char(letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))]);
    }
    return code;
}

DeviceAuthorization *StandIn::State::authorizationByUserCode(const QString &userCode)
{
    for (DeviceAuthorization &authorization : authorizations) {
        if (authorization.userCode.compare(userCode.trimmed(), Qt::CaseInsensitive) == 0) {
            return &authorization;
        }
    }
    return nullptr;
}

std::optional<QString> StandInRequest::queryValue(const QString &key) const
{
    for (const auto &[name, value] : queryItems) {
        if (name == key) {
            return value;
        }
    }
    return std::nullopt;
}

QJsonObject StandInRequest::jsonBody() const
{
    return QJsonDocument::fromJson(body).object();
}

StandIn::StandIn(StandInOptions options, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<State>())
{
    d->options = std::move(options);
    d->clock.start();
    setThrottleRate(d->options.throttleRate, d->options.throttleBurst);
}

StandIn::~StandIn() = default;

bool StandIn::start(QString *error)
{
    stop();
    QString directory = d->options.certificateDirectory;
    if (directory.isEmpty()) {
        if (!d->privateCertificateDirectory) {
            d->privateCertificateDirectory = std::make_unique<QTemporaryDir>();
        }
        if (!d->privateCertificateDirectory->isValid()) {
            if (error) {
                *error = d->privateCertificateDirectory->errorString();
            }
            return false;
        }
        directory = d->privateCertificateDirectory->path();
    }
    if (d->identity.isNull()) {
        d->identity = TlsIdentity::loadOrCreate(directory, error);
        if (d->identity.isNull()) {
            return false;
        }
    }
    d->caBundlePath = QDir(directory).filePath(QStringLiteral("ca.pem"));

    d->server = new HttpServer(
        [this](HttpServerRequest request, HttpResponder responder) {
            handle(std::move(request), std::move(responder));
        },
        this);
    if (!d->server->listen(QHostAddress::LocalHost, d->options.port,
                           d->identity.serverConfiguration(), error)) {
        delete d->server;
        d->server = nullptr;
        return false;
    }
    return true;
}

void StandIn::stop()
{
    delete d->server;
    d->server = nullptr;
}

bool StandIn::isRunning() const
{
    return d->server != nullptr;
}

quint16 StandIn::port() const
{
    return d->server ? d->server->port() : 0;
}

QUrl StandIn::baseUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port());
    return url;
}

QUrl StandIn::startUrl() const
{
    QUrl url = baseUrl();
    url.setPath(QStringLiteral("/start"));
    return url;
}

QString StandIn::caBundlePath() const
{
    return d->caBundlePath;
}

QByteArray StandIn::caCertificatePem() const
{
    return d->identity.authorityPem;
}

QList<QPair<QByteArray, QByteArray>> StandIn::clientEnvironment() const
{
    const QByteArray endpoint = baseUrl().toString().toUtf8();
    return {{"AWS_ENDPOINT_URL_SSO_OIDC", endpoint},
            {"AWS_ENDPOINT_URL_SSO", endpoint},
            {"AWS_CA_BUNDLE", QFile::encodeName(d->caBundlePath)}};
}

const StandInOptions &StandIn::options() const
{
    return d->options;
}

void StandIn::setAccounts(QList<StandInAccount> accounts)
{
    d->options.accounts = std::move(accounts);
}

void StandIn::setThrottleRate(double requestsPerSecond, double burst)
{
    d->options.throttleRate = requestsPerSecond;
    d->options.throttleBurst = burst;
    d->accountsBucket = TokenBucket(requestsPerSecond, burst);
    d->rolesBucket = TokenBucket(requestsPerSecond, burst);
    d->credentialsBucket = TokenBucket(requestsPerSecond, burst);
}

void StandIn::addFault(const StandInFault &fault)
{
    d->faults.append(fault);
}

void StandIn::clearFaults()
{
    d->faults.clear();
}

QList<StandInFault> StandIn::faults() const
{
    return d->faults;
}

QList<StandInRequest> StandIn::requestLog() const
{
    return d->log;
}

QList<StandInRequest> StandIn::requests(StandInOperation operation) const
{
    QList<StandInRequest> matching;
    for (const StandInRequest &request : d->log) {
        if (request.operation == operation) {
            matching.append(request);
        }
    }
    return matching;
}

void StandIn::clearRequestLog()
{
    d->log.clear();
}

int StandIn::requestsInFlight() const
{
    return d->server ? d->server->requestsInFlight() : 0;
}

int StandIn::maxRequestsInFlight() const
{
    return d->server ? d->server->maxRequestsInFlight() : 0;
}

void StandIn::resetMaxRequestsInFlight()
{
    if (d->server) {
        d->server->resetMaxRequestsInFlight();
    }
}

void StandIn::handle(HttpServerRequest request, HttpResponder responder)
{
    const StandInOperation operation = operationFor(request);
    const qint64 arrivalNs = d->answerDelay.clock().nsecsElapsed();
    StandInRequest entry;
    entry.sequence = d->nextSequence++;
    entry.operation = operation;
    entry.method = request.method;
    entry.path = request.path;
    entry.queryItems = request.queryItems;
    entry.headers = request.headers;
    entry.body = request.body;
    entry.receivedMs = d->now();
    if (d->log.size() >= maximumLogEntries) {
        d->log.removeFirst();
    }
    d->log.append(entry);

    Outcome outcome = answer(request, operation);
    auto deliver = [this, entry = std::move(entry), responder = std::move(responder),
                    response = std::move(outcome.response),
                    throttled = outcome.throttled]() mutable {
        entry.status = response.status;
        entry.errorType = headerValue(response.headers, "x-amzn-ErrorType");
        entry.responseBody = response.body;
        entry.throttled = throttled;
        finish(entry);
        responder(response);
    };
    if (outcome.latency.count() > 0) {
        d->answerDelay.schedule(outcome.latency, arrivalNs, this, std::move(deliver));
    } else {
        deliver();
    }
}

StandIn::Outcome StandIn::answer(const HttpServerRequest &request, StandInOperation operation)
{
    Outcome outcome;
    if (operation == StandInOperation::unknown) {
        outcome.response = portalErrorResponse(QStringLiteral("UnknownOperationException"),
                                               QStringLiteral("Not Found"), 404);
        return outcome;
    }
    if (operation == StandInOperation::page) {
        outcome.response = request.method == "POST"     ? decide(request)
                           : request.path == u"/device" ? verificationPage(request)
                                                        : startPage();
        return outcome;
    }

    if (isPortalOperation(operation)) {
        TokenBucket &bucket = operation == StandInOperation::listAccounts ? d->accountsBucket
                              : operation == StandInOperation::listAccountRoles
                                  ? d->rolesBucket
                                  : d->credentialsBucket;
        if (!bucket.tryTake(d->now())) {
            outcome.throttled = true;
            outcome.response = portalErrorResponse(QStringLiteral("TooManyRequestsException"),
                                                   QStringLiteral("Rate exceeded"));
            return outcome;
        }
    }

    std::optional<StandInFault> decisive;
    for (StandInFault &fault : d->faults) {
        if (fault.operation != operation || fault.remaining == 0) {
            continue;
        }
        if (fault.kind == StandInFault::Kind::latency) {
            outcome.latency += fault.latency;
        } else if (decisive) {
            continue;
        } else {
            decisive = fault;
            outcome.latency += fault.latency;
        }
        if (fault.remaining > 0) {
            --fault.remaining;
        }
    }

    if (decisive) {
        const bool portal = isPortalOperation(operation);
        switch (decisive->kind) {
        case StandInFault::Kind::error:
            outcome.response =
                portal
                    ? portalErrorResponse(decisive->errorCode, decisive->message, decisive->status)
                    : oidcErrorResponse(decisive->errorCode, decisive->message, decisive->status);
            break;
        case StandInFault::Kind::status:
            outcome.response = bareStatusResponse(decisive->status);
            break;
        case StandInFault::Kind::malformedJson:
            outcome.response = malformedBody();
            break;
        case StandInFault::Kind::repeatedNextToken:
        case StandInFault::Kind::endlessPages:
            outcome.response = portalAnswer(request, operation, &*decisive);
            break;
        case StandInFault::Kind::latency:
            break;
        }
        if (decisive->retryAfterSeconds) {
            outcome.response.headers.append(
                {"Retry-After", QByteArray::number(*decisive->retryAfterSeconds)});
        }
        return outcome;
    }

    switch (operation) {
    case StandInOperation::registerClient:
    case StandInOperation::startDeviceAuthorization:
    case StandInOperation::createToken: {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
        if (!document.isObject()) {
            outcome.response = oidcErrorResponse(QStringLiteral("invalid_request"),
                                                 QStringLiteral("The request body is not a "
                                                                "JSON object."));
        } else if (operation == StandInOperation::registerClient) {
            outcome.response = registerClient(document.object());
        } else if (operation == StandInOperation::startDeviceAuthorization) {
            outcome.response = startDeviceAuthorization(document.object());
        } else {
            outcome.response = createToken(document.object());
        }
        break;
    }
    case StandInOperation::listAccounts:
    case StandInOperation::listAccountRoles:
    case StandInOperation::getRoleCredentials:
        outcome.response = portalAnswer(request, operation, nullptr);
        break;
    case StandInOperation::page:
    case StandInOperation::unknown:
        break;
    }
    return outcome;
}

void StandIn::finish(const StandInRequest &entry)
{
    // Answers come in any order when latency is injected; the newest entries are at the end.
    for (qsizetype i = d->log.size() - 1; i >= 0 && d->log[i].sequence >= entry.sequence; --i) {
        if (d->log[i].sequence == entry.sequence) {
            d->log[i] = entry;
            break;
        }
    }
    Q_EMIT requestAnswered(entry);
}

} // namespace tessera::standin
