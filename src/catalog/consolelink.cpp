#include "catalog/consolelink.h"

namespace tessera {

namespace {
bool staysUnencoded(char32_t codePoint)
{
    switch (codePoint) {
    case U'-':
    case U'_':
    case U'.':
    case U'~':
        return true;
    default:
        return QChar::isLetterOrNumber(codePoint);
    }
}

void appendEncoded(QString &out, char32_t codePoint)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = QString::fromUcs4(&codePoint, 1).toUtf8();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        out += QLatin1Char('%');
        out += QLatin1Char(hex[b >> 4]);
        out += QLatin1Char(hex[b & 0xF]);
    }
}
} // namespace

QString percentEncodeConsoleLinkValue(const QString &value)
{
    QString out;
    out.reserve(value.size() * 3);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        char32_t codePoint = c.unicode();
        if (c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(c, value.at(i + 1));
            ++i;
        } else if (c.isSurrogate()) {
            codePoint = QChar::ReplacementCharacter;
        }
        if (staysUnencoded(codePoint)) {
            out += QString::fromUcs4(&codePoint, 1);
        } else {
            appendEncoded(out, codePoint);
        }
    }
    return out;
}

bool isUsableStartURL(const QString &startURL)
{
    const QUrl url(startURL, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           startURL.startsWith(QLatin1String("https:"), Qt::CaseSensitive);
}

std::optional<QUrl> consoleDeepLink(const QString &startURL, const QString &accountId,
                                    const QString &roleName, const QUrl &destination)
{
    if (!isUsableStartURL(startURL)) {
        return std::nullopt;
    }
    const QString link = startURL + QLatin1String("/#/console?account_id=") +
                         percentEncodeConsoleLinkValue(accountId) + QLatin1String("&role_name=") +
                         percentEncodeConsoleLinkValue(roleName) + QLatin1String("&destination=") +
                         percentEncodeConsoleLinkValue(destination.toString(QUrl::FullyEncoded));
    const QUrl url(link);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

} // namespace tessera
