#include "aws/environmentproxy.h"

#include <QHostAddress>
#include <QUrl>

namespace tessera {

namespace {

QString firstSet(const EnvironmentProxySettings::Lookup &lookup,
                 std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const QString value = lookup(name).trimmed();
        if (!value.isEmpty()) {
            return value;
        }
    }
    return {};
}

QNetworkProxy proxyFromSetting(const QString &setting)
{
    // "host:port" without a scheme means an http proxy, as curl and the SDKs read it.
    const QString withScheme =
        setting.contains(QLatin1String("://")) ? setting : QStringLiteral("http://") + setting;
    const QUrl url(withScheme);
    if (!url.isValid() || url.host().isEmpty()) {
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    const QString scheme = url.scheme().toLower();
    QNetworkProxy::ProxyType type = QNetworkProxy::HttpProxy;
    int defaultPort = 80;
    if (scheme.startsWith(QLatin1String("socks5"))) {
        type = QNetworkProxy::Socks5Proxy;
        defaultPort = 1080;
    } else if (scheme == QLatin1String("https")) {
        defaultPort = 443;
    } else if (scheme != QLatin1String("http")) {
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    return QNetworkProxy(type, url.host(), static_cast<quint16>(url.port(defaultPort)),
                         url.userName(QUrl::FullyDecoded), url.password(QUrl::FullyDecoded));
}

bool hostMatches(const QString &host, QString pattern)
{
    if (pattern.startsWith(QLatin1String("*."))) {
        pattern.remove(0, 1);
    }
    if (pattern.startsWith(QLatin1Char('.'))) {
        pattern.remove(0, 1);
    }
    if (pattern.isEmpty()) {
        return false;
    }
    if (host.compare(pattern, Qt::CaseInsensitive) == 0) {
        return true;
    }
    // A subdomain; never a partial label ("ample.com" does not match "example.com").
    return host.endsWith(QLatin1Char('.') + pattern, Qt::CaseInsensitive);
}

// An IPv6 host is written in brackets in no_proxy; a port follows the last colon only
// when the rest is not itself an address.
std::pair<QString, int> splitHostPort(const QString &entry)
{
    if (entry.startsWith(QLatin1Char('['))) {
        const qsizetype close = entry.indexOf(QLatin1Char(']'));
        if (close > 0) {
            const QString host = entry.mid(1, close - 1);
            const QString rest = entry.mid(close + 1);
            bool ok = false;
            const int port = rest.startsWith(QLatin1Char(':')) ? rest.mid(1).toInt(&ok) : -1;
            return {host, ok ? port : -1};
        }
    }
    if (entry.count(QLatin1Char(':')) == 1) {
        bool ok = false;
        const int port = entry.section(QLatin1Char(':'), 1).toInt(&ok);
        return {entry.section(QLatin1Char(':'), 0, 0), ok ? port : -1};
    }
    return {entry, -1};
}

} // namespace

EnvironmentProxySettings EnvironmentProxySettings::fromEnvironment()
{
    return fromLookup([](const char *name) { return qEnvironmentVariable(name); });
}

EnvironmentProxySettings EnvironmentProxySettings::fromLookup(const Lookup &lookup)
{
    EnvironmentProxySettings settings;
    settings.m_httpsProxy =
        firstSet(lookup, {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
    settings.m_httpProxy = firstSet(lookup, {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"});
    for (const QString &entry :
         firstSet(lookup, {"no_proxy", "NO_PROXY"}).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!entry.trimmed().isEmpty()) {
            settings.m_noProxy << entry.trimmed();
        }
    }
    return settings;
}

bool EnvironmentProxySettings::bypasses(const QString &host, int port) const
{
    const QHostAddress address(host);
    for (const QString &entry : m_noProxy) {
        if (entry == QLatin1String("*")) {
            return true;
        }
        const auto [pattern, entryPort] = splitHostPort(entry);
        if (entryPort >= 0 && entryPort != port) {
            continue;
        }
        if (!address.isNull()) {
            // Addresses match exactly or by CIDR block ("10.0.0.0/8").
            if (pattern.contains(QLatin1Char('/'))) {
                const auto subnet = QHostAddress::parseSubnet(pattern);
                if (!subnet.first.isNull() && address.isInSubnet(subnet)) {
                    return true;
                }
            } else if (QHostAddress(pattern) == address) {
                return true;
            }
            continue;
        }
        if (hostMatches(host, pattern)) {
            return true;
        }
    }
    return false;
}

QNetworkProxy EnvironmentProxySettings::proxyFor(const QUrl &url) const
{
    const bool https = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const QString &setting = https ? m_httpsProxy : m_httpProxy;
    if (setting.isEmpty() || bypasses(url.host(), url.port(https ? 443 : 80))) {
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    return proxyFromSetting(setting);
}

} // namespace tessera
