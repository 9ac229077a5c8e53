#pragma once

#include "foundation/error.h"

#include <QString>
#include <QUrl>
#include <optional>
#include <span>

namespace tessera {

// The two IAM Identity Center services Tessera talks to.
enum class IdentityService
{
    oidc,   // https://oidc.{region}.{dnsSuffix}
    portal, // https://portal.sso.{region}.{dnsSuffix}
};

// An AWS partition as AWS publishes it: the pattern its region ids follow and the DNS
// suffix of its service hosts.
struct AwsPartition
{
    const char *id;
    const char *regionRegex;
    const char *dnsSuffix;
};

// Every partition, commercial first.
std::span<const AwsPartition> awsPartitions();

// The partition serving `region`: the one that lists it, else the first whose pattern
// matches it, else the commercial partition ("aws").
const AwsPartition &partitionForRegion(const QString &region);

// Whether a service host can be formed from `region`: it must be a single DNS label of
// lowercase letters, digits and hyphens (1 to 63 characters, no hyphen at either end).
// Anything else — empty, upper case, dots, spaces, slashes — would either not resolve or
// change which host we talk to, so it is refused before any traffic.
bool isUsableRegion(const QString &region);

// A configured endpoint override that Tessera will not use. Tokens are sent to whatever
// endpoint is configured, so only https is accepted.
class EndpointOverrideError : public Error
{
public:
    EndpointOverrideError(QString variable, QString value);
    const QString &variable() const { return m_variable; }

private:
    QString m_variable;
};

// The base URL of `service` for `region`. An endpoint configured in the environment, as
// the AWS SDKs read it (AWS_ENDPOINT_URL_SSO_OIDC or AWS_ENDPOINT_URL_SSO, else
// AWS_ENDPOINT_URL, all ignored when AWS_IGNORE_CONFIGURED_ENDPOINT_URLS is true), replaces
// the regional one. Returns nullopt when no valid URL results from `region`; throws
// EndpointOverrideError for an override that is not an https URL with a host.
std::optional<QUrl> serviceEndpoint(IdentityService service, const QString &region);

// `base` with `path` ("client/register") appended as path components.
QUrl endpointUrl(const QUrl &base, const QString &path);

} // namespace tessera
