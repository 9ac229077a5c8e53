#pragma once

#include <QString>
#include <QUrl>
#include <optional>

namespace tessera {

// Percent-encodes one value of the portal's console link: Unicode letters and digits and
// "-_.~" stay, every other character becomes its UTF-8 bytes in %XX form. A lone
// surrogate is encoded as U+FFFD so that nothing unencoded can leak into the link.
QString percentEncodeConsoleLinkValue(const QString &value);

// Whether a (normalized) start URL can carry a console link: it parses, it has a host, and
// its scheme is exactly "https" as typed (URL parsing would fold "HTTPS" to lower case).
bool isUsableStartURL(const QString &startURL);

// The access portal's console deep link, which signs the browser in to the account with
// the role and then forwards it to `destination`. std::nullopt when the start URL is not
// usable or the result does not parse.
std::optional<QUrl> consoleDeepLink(const QString &startURL, const QString &accountId,
                                    const QString &roleName, const QUrl &destination);

} // namespace tessera
