#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tessera {

inline constexpr auto managedBlockStartMarker = "# >>> Tessera managed AWS profiles";
inline constexpr auto managedBlockEndMarker = "# <<< Tessera managed AWS profiles";

// Half-open range of UTF-16 positions in a text.
struct TextRange
{
    qsizetype begin = 0;
    qsizetype end = 0;

    bool operator==(const TextRange &) const = default;
};

// The user's AWS config split into the block Tessera owns and everything else. Every
// character outside the block is kept exactly as read, so writing a new block can never
// disturb the user's own sections, comments, spacing or line breaks.
class AWSConfigDocument
{
public:
    struct Line
    {
        QString trimmedContent;
        TextRange fullRange;
    };

    // Throws AWSConfigManagerError::malformedManagedBlock for missing, duplicate or
    // misordered ownership markers.
    explicit AWSConfigDocument(QString text);

    const QString &original() const { return m_original; }
    const QString &unmanaged() const { return m_unmanaged; }
    const std::optional<QString> &managedBody() const { return m_managedBody; }
    const QString &newline() const { return m_newline; }
    const std::optional<TextRange> &managedBlockRange() const { return m_managedBlockRange; }

    // The whole file with `body` between the markers: replaced in place when the file has a
    // block, otherwise appended after one blank line.
    QString renderedContents(const QString &body) const;

    // Lines end at a line feed; a carriage return before it belongs to the break.
    static QList<Line> lines(const QString &text);

private:
    QString m_original;
    QString m_unmanaged;
    std::optional<QString> m_managedBody;
    QString m_newline;
    std::optional<TextRange> m_managedBlockRange;
};

} // namespace tessera
