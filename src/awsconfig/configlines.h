#pragma once

#include "awsconfig/awsconfigsection.h"

#include <QStringView>
#include <optional>

// The AWS CLI reads its config through Python's configparser and botocore's profile map.
// Which lines are headers, which section is which profile or sso-session, and which key
// belongs to which section are decided here exactly as they decide them, quirks included:
// a file shared with the AWS CLI must never mean one thing to Tessera and another to it.
namespace tessera::configlines {

struct ConfigLine
{
    enum class Type
    {
        blank,
        comment,
        header,
        option,
        // An indented line after an option: more of that option's value.
        continuation,
        // Neither header nor option; the AWS CLI refuses a file holding one.
        stray
    };

    Type type = Type::blank;
    // The line without its line break.
    QStringView text;
    // The line with Python's white space trimmed from both ends.
    QStringView content;
    // header: from after the first "[" to before the last "]", untrimmed.
    QStringView header;
    // option: the key as written (not lower-cased) and the value.
    QStringView key;
    QStringView value;
};

// Reads one line at a time. Lines end at "\n", "\r\n" or a lone "\r", as in a text file read
// by Python; other line-break characters are part of a line.
class ConfigLineReader
{
public:
    explicit ConfigLineReader(QStringView text)
        : m_text(text)
    {}

    std::optional<ConfigLine> next();

private:
    ConfigLine classify(QStringView line);

    QStringView m_text;
    qsizetype m_position = 0;
    bool m_inSection = false;
    bool m_hasOption = false;
    qsizetype m_indentLevel = 0;
};

// Python's idea of white space, which includes the information separators U+001C to U+001F.
bool isPythonSpace(QChar c);
QStringView trimPythonSpace(QStringView text);

struct SectionIdentity
{
    AWSConfigSection::Kind kind = AWSConfigSection::Kind::other;
    // The profile or sso-session name; for other sections the header text.
    QString name;
};

// A header starting with "profile" or "sso-session" (case-sensitive, any word starting so)
// names a profile or sso-session only when it splits like a shell into exactly two words;
// the second is the name. "default" alone is the default profile.
SectionIdentity identifySection(QStringView header);

} // namespace tessera::configlines
