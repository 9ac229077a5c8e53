#include "aws/endpoints.h"

#include <QRegularExpression>
#include <array>

namespace tessera {

namespace {

// From botocore's partitions.json (data/partitions.json), in its order. Regions each
// partition lists by name come first, so a listed region never falls to a later pattern.
constexpr std::array<AwsPartition, 5> partitions{{
    {"aws", R"(^(us|eu|ap|sa|ca|me|af)\-\w+\-\d+$)", "amazonaws.com"},
    {"aws-cn", R"(^cn\-\w+\-\d+$)", "amazonaws.com.cn"},
    {"aws-us-gov", R"(^us\-gov\-\w+\-\d+$)", "amazonaws.com"},
    {"aws-iso", R"(^us\-iso\-\w+\-\d+$)", "c2s.ic.gov"},
    {"aws-iso-b", R"(^us\-isob\-\w+\-\d+$)", "sc2s.sgov.gov"},
}};

struct ListedRegion
{
    const char *region;
    std::size_t partition;
};

// Regions outside the commercial partition that botocore lists by name.
constexpr std::array<ListedRegion, 11> listedRegions{{
    {"aws-cn-global", 1},
    {"cn-north-1", 1},
    {"cn-northwest-1", 1},
    {"aws-us-gov-global", 2},
    {"us-gov-east-1", 2},
    {"us-gov-west-1", 2},
    {"aws-iso-global", 3},
    {"us-iso-east-1", 3},
    {"us-iso-west-1", 3},
    {"aws-iso-b-global", 4},
    {"us-isob-east-1", 4},
}};

const char *overrideVariable(IdentityService service)
{
    return service == IdentityService::oidc ? "AWS_ENDPOINT_URL_SSO_OIDC" : "AWS_ENDPOINT_URL_SSO";
}

// The configured endpoint for `service`, if any, as the AWS SDKs resolve it from the
// environment: the service-specific variable wins over the global one.
std::optional<QUrl> configuredEndpoint(IdentityService service)
{
    if (qEnvironmentVariable("AWS_IGNORE_CONFIGURED_ENDPOINT_URLS").trimmed().toLower() ==
        QLatin1String("true")) {
        return std::nullopt;
    }
    for (const char *name : {overrideVariable(service), "AWS_ENDPOINT_URL"}) {
        const QString value = qEnvironmentVariable(name).trimmed();
        if (value.isEmpty()) {
            continue;
        }
        const QUrl url(value, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty() ||
            url.hasQuery() || url.hasFragment()) {
            throw EndpointOverrideError(QString::fromLatin1(name), value);
        }
        return url;
    }
    return std::nullopt;
}

} // namespace

std::span<const AwsPartition> awsPartitions()
{
    return partitions;
}

const AwsPartition &partitionForRegion(const QString &region)
{
    for (const auto &listed : listedRegions) {
        if (region == QLatin1String(listed.region)) {
            return partitions[listed.partition];
        }
    }
    for (const auto &partition : partitions) {
        const QRegularExpression pattern(QString::fromLatin1(partition.regionRegex));
        if (pattern.match(region).hasMatch()) {
            return partition;
        }
    }
    return partitions[0];
}

bool isUsableRegion(const QString &region)
{
    static const QRegularExpression label(QStringLiteral("^[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?$"));
    return label.match(region).hasMatch();
}

EndpointOverrideError::EndpointOverrideError(QString variable, QString value)
    : Error(QStringLiteral("The endpoint in %1 (“%2”) is not an https URL. Tessera only sends "
                           "credentials over https — fix or unset %1.")
                .arg(variable, value))
    , m_variable(std::move(variable))
{}

std::optional<QUrl> serviceEndpoint(IdentityService service, const QString &region)
{
    if (auto configured = configuredEndpoint(service)) {
        return configured;
    }
    if (!isUsableRegion(region)) {
        return std::nullopt;
    }
    const QString prefix =
        service == IdentityService::oidc ? QStringLiteral("oidc.") : QStringLiteral("portal.sso.");
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(prefix + region + QLatin1Char('.') +
                QString::fromLatin1(partitionForRegion(region).dnsSuffix));
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

QUrl endpointUrl(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString joined = base.path();
    if (!joined.endsWith(QLatin1Char('/'))) {
        joined += QLatin1Char('/');
    }
    url.setPath(joined + path);
    return url;
}

} // namespace tessera
