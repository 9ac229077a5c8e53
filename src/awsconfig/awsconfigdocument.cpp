#include "awsconfig/awsconfigdocument.h"

#include "awsconfig/awsconfigtypes.h"
#include "awsconfig/configtext.h"

#include <QStringList>

namespace tessera {

QList<AWSConfigDocument::Line> AWSConfigDocument::lines(const QString &text)
{
    QList<Line> result;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
        qsizetype contentEnd = feed < 0 ? text.size() : feed;
        const qsizetype next = feed < 0 ? text.size() : feed + 1;
        if (feed >= 0 && contentEnd > start && text.at(contentEnd - 1) == QLatin1Char('\r')) {
            --contentEnd;
        }
        result.append(
            Line{configtext::trimBlanks(QStringView(text).sliced(start, contentEnd - start)),
                 TextRange{start, next}});
        start = next;
    }
    return result;
}

AWSConfigDocument::AWSConfigDocument(QString text)
    : m_original(std::move(text))
    , m_newline(m_original.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n")
                                                           : QStringLiteral("\n"))
{
    const QLatin1String startMarker(managedBlockStartMarker);
    const QLatin1String endMarker(managedBlockEndMarker);
    QList<TextRange> starts;
    QList<TextRange> ends;
    for (const Line &line : lines(m_original)) {
        if (line.trimmedContent == startMarker) {
            starts.append(line.fullRange);
        } else if (line.trimmedContent == endMarker) {
            ends.append(line.fullRange);
        }
    }
    if (starts.size() != ends.size() || starts.size() > 1) {
        throw AWSConfigManagerError::malformedManagedBlock();
    }
    if (starts.isEmpty()) {
        m_unmanaged = m_original;
        return;
    }
    const TextRange start = starts.first();
    const TextRange end = ends.first();
    if (start.begin >= end.begin) {
        throw AWSConfigManagerError::malformedManagedBlock();
    }
    m_managedBody = m_original.sliced(start.end, end.begin - start.end);
    m_unmanaged = m_original.first(start.begin) + m_original.sliced(end.end);
    m_managedBlockRange = TextRange{start.begin, end.end};
}

QString AWSConfigDocument::renderedContents(const QString &body) const
{
    QStringList parts{QLatin1String(managedBlockStartMarker)};
    const QString trimmedBody = configtext::trimLineBreaks(body);
    if (!trimmedBody.isEmpty()) {
        parts.append(trimmedBody);
    }
    parts.append(QLatin1String(managedBlockEndMarker));
    const QString block = parts.join(m_newline) + m_newline;

    if (m_managedBlockRange) {
        return m_original.first(m_managedBlockRange->begin) + block +
               m_original.sliced(m_managedBlockRange->end);
    }
    if (m_original.isEmpty()) {
        return block;
    }
    if (m_original.endsWith(m_newline)) {
        return m_original + m_newline + block;
    }
    return m_original + m_newline + m_newline + block;
}

} // namespace tessera
