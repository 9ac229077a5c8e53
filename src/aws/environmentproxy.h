#pragma once

#include <QNetworkProxy>
#include <QStringList>
#include <functional>

namespace tessera {

// The proxy settings of the environment as the AWS CLI and SDKs read them:
// https_proxy / HTTPS_PROXY (else all_proxy / ALL_PROXY) for https URLs, http_proxy /
// HTTP_PROXY for http URLs, and no_proxy / NO_PROXY for hosts that go direct. The lower
// case name wins when both are set. Qt's own system configuration reads only some of
// these and may prefer desktop settings the command-line tools ignore, so Tessera reads
// them itself and behaves like the AWS CLI in the same shell.
class EnvironmentProxySettings
{
public:
    using Lookup = std::function<QString(const char *name)>;

    // Reads the process environment now.
    static EnvironmentProxySettings fromEnvironment();
    static EnvironmentProxySettings fromLookup(const Lookup &lookup);

    // The proxy to use for `url`: QNetworkProxy::NoProxy when none applies.
    QNetworkProxy proxyFor(const QUrl &url) const;

    // Whether `host` (and `port`) matches the no_proxy list: "*" matches every host, an
    // entry matches the host itself and its subdomains (a leading dot is optional), and
    // an entry with ":port" matches that port only.
    bool bypasses(const QString &host, int port) const;

private:
    QString m_httpsProxy;
    QString m_httpProxy;
    QStringList m_noProxy;
};

} // namespace tessera
