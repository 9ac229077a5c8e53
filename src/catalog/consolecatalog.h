#pragma once

#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace tessera {

enum class ConsoleServiceScope
{
    regional,
    global
};

struct ConsoleService
{
    QString name;
    QString destination;
    ConsoleServiceScope scope = ConsoleServiceScope::regional;

    // The service's start page, moved to the regional console host for regional services.
    std::optional<QUrl> urlForRegion(const QString &region) const;

    bool operator==(const ConsoleService &) const = default;
};

struct ConsoleRegion
{
    QString id;
    QString name;

    bool operator==(const ConsoleRegion &) const = default;
};

inline constexpr auto globalConsoleHost = "console.aws.amazon.com";

// The 40 console services, in catalog order.
const QList<ConsoleService> &consoleServiceCatalog();
// The 34 console regions, in catalog order.
const QList<ConsoleRegion> &consoleRegionCatalog();
// The console's home page: not in the catalog, never pinned or disabled.
const ConsoleService &consoleHome();

bool isCatalogServiceName(const QString &name);
bool isCatalogRegionId(const QString &id);

// "^[a-z]{2}(-[a-z]+)+-\d$"
const QRegularExpression &regionPattern();
// Whether `text` as given (not normalised) matches regionPattern as a whole.
bool matchesRegionPattern(const QString &text);
// Trimmed of white space and line breaks, lower-cased.
QString normalizedRegionId(const QString &text);
// Whether `text`, once normalised, matches regionPattern as a whole.
bool isValidRegionId(const QString &text);

QList<ConsoleService> orderedConsoleServices(const QStringList &pinnedServiceNames,
                                             const QStringList &disabledServiceNames);
QList<ConsoleRegion> enabledConsoleRegions(const QStringList &disabledConsoleRegionIds);
QList<ConsoleRegion> usConsoleRegions();
QString resolveConsoleRegion(const std::optional<QString> &first,
                             const std::optional<QString> &second,
                             const std::optional<QString> &third, const QSet<QString> &disabled);
QList<ConsoleRegion> filterConsoleRegions(const QString &query,
                                          const QList<ConsoleRegion> &regions);

} // namespace tessera
