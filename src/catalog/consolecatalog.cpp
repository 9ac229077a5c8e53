#include "catalog/consolecatalog.h"

#include <algorithm>
#include <utility>

namespace tessera {

namespace {
ConsoleService service(const char *name, const char *path, ConsoleServiceScope scope)
{
    return ConsoleService{QString::fromUtf8(name),
                          QStringLiteral("https://") + QLatin1String(globalConsoleHost) +
                              QString::fromUtf8(path),
                          scope};
}
} // namespace

std::optional<QUrl> ConsoleService::urlForRegion(const QString &region) const
{
    QUrl url(destination, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        return std::nullopt;
    }
    if (scope == ConsoleServiceScope::regional) {
        url.setHost(region + QLatin1Char('.') + QLatin1String(globalConsoleHost));
        if (!url.isValid()) {
            return std::nullopt;
        }
    }
    return url;
}

const QList<ConsoleService> &consoleServiceCatalog()
{
    using enum ConsoleServiceScope;
    static const QList<ConsoleService> catalog{
        service("S3", "/s3/home", regional),
        service("EC2", "/ec2/home", regional),
        service("VPC", "/vpcconsole/home", regional),
        service("RDS", "/rds/home", regional),
        service("Lambda", "/lambda/home", regional),
        service("IAM", "/iam/home", global),
        service("CloudWatch", "/cloudwatch/home", regional),
        service("CloudFormation", "/cloudformation/home", regional),
        service("Route 53", "/route53/v2/home", global),
        service("ECS", "/ecs/home", regional),
        service("Systems Manager", "/systems-manager/home", regional),
        service("Secrets Manager", "/secretsmanager/home", regional),
        service("Billing & Cost", "/costmanagement/home", global),
        service("DynamoDB", "/dynamodbv2/home", regional),
        service("EKS", "/eks/home", regional),
        service("ECR", "/ecr/home", regional),
        service("Load Balancers", "/ec2/home#LoadBalancers:", regional),
        service("API Gateway", "/apigateway/home", regional),
        service("SQS", "/sqs/v3/home", regional),
        service("SNS", "/sns/v3/home", regional),
        service("EventBridge", "/events/home", regional),
        service("Step Functions", "/states/home", regional),
        service("CloudTrail", "/cloudtrail/home", regional),
        service("CloudFront", "/cloudfront/v4/home", global),
        service("KMS", "/kms/home", regional),
        service("Certificate Manager", "/acm/home", regional),
        service("EFS", "/efs/home", regional),
        service("ElastiCache", "/elasticache/home", regional),
        service("Athena", "/athena/home", regional),
        service("Glue", "/glue/home", regional),
        service("Redshift", "/redshiftv2/home", regional),
        service("Backup", "/backup/home", regional),
        service("Config", "/config/home", regional),
        service("GuardDuty", "/guardduty/home", regional),
        service("Security Hub", "/securityhub/home", regional),
        service("WAF", "/wafv2-pro", regional),
        service("SES", "/ses/home", regional),
        service("Bedrock", "/bedrock/home", regional),
        service("Organizations", "/organizations/v2/home", global),
        service("IAM Identity Center", "/singlesignon/home", global),
    };
    return catalog;
}

const QList<ConsoleRegion> &consoleRegionCatalog()
{
    static const QList<ConsoleRegion> catalog{
        {QStringLiteral("us-east-1"), QStringLiteral("US East (N. Virginia)")},
        {QStringLiteral("us-east-2"), QStringLiteral("US East (Ohio)")},
        {QStringLiteral("us-west-1"), QStringLiteral("US West (N. California)")},
        {QStringLiteral("us-west-2"), QStringLiteral("US West (Oregon)")},
        {QStringLiteral("af-south-1"), QStringLiteral("Africa (Cape Town)")},
        {QStringLiteral("ap-east-1"), QStringLiteral("Asia Pacific (Hong Kong)")},
        {QStringLiteral("ap-east-2"), QStringLiteral("Asia Pacific (Taipei)")},
        {QStringLiteral("ap-northeast-1"), QStringLiteral("Asia Pacific (Tokyo)")},
        {QStringLiteral("ap-northeast-2"), QStringLiteral("Asia Pacific (Seoul)")},
        {QStringLiteral("ap-northeast-3"), QStringLiteral("Asia Pacific (Osaka)")},
        {QStringLiteral("ap-south-1"), QStringLiteral("Asia Pacific (Mumbai)")},
        {QStringLiteral("ap-south-2"), QStringLiteral("Asia Pacific (Hyderabad)")},
        {QStringLiteral("ap-southeast-1"), QStringLiteral("Asia Pacific (Singapore)")},
        {QStringLiteral("ap-southeast-2"), QStringLiteral("Asia Pacific (Sydney)")},
        {QStringLiteral("ap-southeast-3"), QStringLiteral("Asia Pacific (Jakarta)")},
        {QStringLiteral("ap-southeast-4"), QStringLiteral("Asia Pacific (Melbourne)")},
        {QStringLiteral("ap-southeast-5"), QStringLiteral("Asia Pacific (Malaysia)")},
        {QStringLiteral("ap-southeast-6"), QStringLiteral("Asia Pacific (New Zealand)")},
        {QStringLiteral("ap-southeast-7"), QStringLiteral("Asia Pacific (Thailand)")},
        {QStringLiteral("ca-central-1"), QStringLiteral("Canada (Central)")},
        {QStringLiteral("ca-west-1"), QStringLiteral("Canada West (Calgary)")},
        {QStringLiteral("eu-central-1"), QStringLiteral("Europe (Frankfurt)")},
        {QStringLiteral("eu-central-2"), QStringLiteral("Europe (Zurich)")},
        {QStringLiteral("eu-north-1"), QStringLiteral("Europe (Stockholm)")},
        {QStringLiteral("eu-south-1"), QStringLiteral("Europe (Milan)")},
        {QStringLiteral("eu-south-2"), QStringLiteral("Europe (Spain)")},
        {QStringLiteral("eu-west-1"), QStringLiteral("Europe (Ireland)")},
        {QStringLiteral("eu-west-2"), QStringLiteral("Europe (London)")},
        {QStringLiteral("eu-west-3"), QStringLiteral("Europe (Paris)")},
        {QStringLiteral("il-central-1"), QStringLiteral("Israel (Tel Aviv)")},
        {QStringLiteral("me-central-1"), QStringLiteral("Middle East (UAE)")},
        {QStringLiteral("me-south-1"), QStringLiteral("Middle East (Bahrain)")},
        {QStringLiteral("mx-central-1"), QStringLiteral("Mexico (Central)")},
        {QStringLiteral("sa-east-1"), QStringLiteral("South America (Sao Paulo)")},
    };
    return catalog;
}

const ConsoleService &consoleHome()
{
    static const ConsoleService home{QStringLiteral("Console Home"),
                                     QStringLiteral("https://") + QLatin1String(globalConsoleHost) +
                                         QStringLiteral("/"),
                                     ConsoleServiceScope::regional};
    return home;
}

bool isCatalogServiceName(const QString &name)
{
    static const QSet<QString> names = [] {
        QSet<QString> set;
        for (const auto &s : consoleServiceCatalog()) {
            set.insert(s.name);
        }
        return set;
    }();
    return names.contains(name);
}

bool isCatalogRegionId(const QString &id)
{
    static const QSet<QString> ids = [] {
        QSet<QString> set;
        for (const auto &r : consoleRegionCatalog()) {
            set.insert(r.id);
        }
        return set;
    }();
    return ids.contains(id);
}

const QRegularExpression &regionPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z]{2}(-[a-z]+)+-\\d$"));
    return pattern;
}

QString normalizedRegionId(const QString &text)
{
    return text.trimmed().toLower();
}

bool matchesRegionPattern(const QString &text)
{
    // "$" also matches before a final line break; the whole text has to be the match.
    const auto match = regionPattern().match(text);
    return match.hasMatch() && match.capturedLength() == text.size();
}

bool isValidRegionId(const QString &text)
{
    return matchesRegionPattern(normalizedRegionId(text));
}

QList<ConsoleService> orderedConsoleServices(const QStringList &pinnedServiceNames,
                                             const QStringList &disabledServiceNames)
{
    QList<ConsoleService> enabled;
    for (const auto &s : consoleServiceCatalog()) {
        if (!disabledServiceNames.contains(s.name)) {
            enabled.append(s);
        }
    }
    QList<ConsoleService> result;
    for (const auto &pinned : pinnedServiceNames) {
        for (const auto &s : enabled) {
            if (s.name == pinned) {
                if (!result.contains(s)) {
                    result.append(s);
                }
                break;
            }
        }
    }
    for (const auto &s : enabled) {
        if (!pinnedServiceNames.contains(s.name)) {
            result.append(s);
        }
    }
    return result;
}

QList<ConsoleRegion> enabledConsoleRegions(const QStringList &disabledConsoleRegionIds)
{
    QList<ConsoleRegion> result;
    for (const auto &r : consoleRegionCatalog()) {
        if (!disabledConsoleRegionIds.contains(r.id)) {
            result.append(r);
        }
    }
    return result;
}

QList<ConsoleRegion> usConsoleRegions()
{
    QList<ConsoleRegion> result;
    for (const auto &r : consoleRegionCatalog()) {
        if (r.id.startsWith(QStringLiteral("us-"))) {
            result.append(r);
        }
    }
    return result;
}

QString resolveConsoleRegion(const std::optional<QString> &first,
                             const std::optional<QString> &second,
                             const std::optional<QString> &third, const QSet<QString> &disabled)
{
    for (const auto *candidate : {&first, &second, &third}) {
        if (!candidate->has_value()) {
            continue;
        }
        const QString normalized = normalizedRegionId(**candidate);
        if (matchesRegionPattern(normalized) && !disabled.contains(normalized)) {
            return normalized;
        }
    }
    for (const auto &r : consoleRegionCatalog()) {
        if (!disabled.contains(r.id)) {
            return r.id;
        }
    }
    return third.value_or(QString());
}

QList<ConsoleRegion> filterConsoleRegions(const QString &query, const QList<ConsoleRegion> &regions)
{
    QStringList words;
    QString word;
    for (const QChar c : query.toLower()) {
        if (c.isSpace()) {
            if (!word.isEmpty()) {
                words.append(std::exchange(word, QString()));
            }
        } else {
            word += c;
        }
    }
    if (!word.isEmpty()) {
        words.append(word);
    }
    if (words.isEmpty()) {
        return regions;
    }
    QList<ConsoleRegion> result;
    for (const auto &r : regions) {
        const QString text = (r.id + QLatin1Char(' ') + r.name).toLower();
        const bool all = std::all_of(words.begin(), words.end(),
                                     [&text](const QString &w) { return text.contains(w); });
        if (all) {
            result.append(r);
        }
    }
    return result;
}

} // namespace tessera
