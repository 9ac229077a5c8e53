#include "awsconfig/configlines.h"

#include "awsconfig/shellwords.h"

namespace tessera::configlines {

bool isPythonSpace(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x09 && u <= 0x0D) || (u >= 0x1C && u <= 0x20) || u == 0x85 || u == 0xA0 ||
           u == 0x1680 || (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 ||
           u == 0x202F || u == 0x205F || u == 0x3000;
}

QStringView trimPythonSpace(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isPythonSpace(text.at(begin))) {
        ++begin;
    }
    while (end > begin && isPythonSpace(text.at(end - 1))) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

std::optional<ConfigLine> ConfigLineReader::next()
{
    if (m_position >= m_text.size()) {
        return std::nullopt;
    }
    qsizetype end = m_position;
    while (end < m_text.size() && m_text.at(end) != QLatin1Char('\n') &&
           m_text.at(end) != QLatin1Char('\r')) {
        ++end;
    }
    const QStringView line = m_text.sliced(m_position, end - m_position);
    m_position = end;
    if (m_position < m_text.size()) {
        const bool pair = m_text.at(m_position) == QLatin1Char('\r') &&
                          m_position + 1 < m_text.size() &&
                          m_text.at(m_position + 1) == QLatin1Char('\n');
        m_position += pair ? 2 : 1;
    }
    return classify(line);
}

ConfigLine ConfigLineReader::classify(QStringView line)
{
    ConfigLine result;
    result.text = line;
    result.content = trimPythonSpace(line);
    const QStringView content = result.content;
    if (content.startsWith(QLatin1Char('#')) || content.startsWith(QLatin1Char(';'))) {
        result.type = ConfigLine::Type::comment;
        return result;
    }
    if (content.isEmpty()) {
        // Blank lines and comments neither end a value nor change the indentation that
        // decides what continues it.
        result.type = ConfigLine::Type::blank;
        return result;
    }
    qsizetype indent = 0;
    while (isPythonSpace(line.at(indent))) {
        ++indent;
    }
    if (m_inSection && m_hasOption && indent > m_indentLevel) {
        result.type = ConfigLine::Type::continuation;
        result.value = content;
        return result;
    }
    m_indentLevel = indent;

    // "[" at the start, then at least one character, then the last "]" on the line:
    // whatever follows that "]" is ignored.
    const qsizetype close = content.lastIndexOf(QLatin1Char(']'));
    if (content.startsWith(QLatin1Char('[')) && close >= 2) {
        result.type = ConfigLine::Type::header;
        result.header = content.sliced(1, close - 1);
        m_inSection = true;
        m_hasOption = false;
        return result;
    }
    qsizetype delimiter = 0;
    while (delimiter < content.size() && content.at(delimiter) != QLatin1Char('=') &&
           content.at(delimiter) != QLatin1Char(':')) {
        ++delimiter;
    }
    if (!m_inSection || delimiter == content.size()) {
        // A bad line leaves the option before it open for continuation lines.
        result.type = ConfigLine::Type::stray;
        return result;
    }
    const QStringView key = trimPythonSpace(content.first(delimiter));
    m_hasOption = !key.isEmpty();
    if (key.isEmpty()) {
        result.type = ConfigLine::Type::stray;
        return result;
    }
    result.type = ConfigLine::Type::option;
    result.key = key;
    result.value = trimPythonSpace(content.sliced(delimiter + 1));
    return result;
}

SectionIdentity identifySection(QStringView header)
{
    const auto named = [header](AWSConfigSection::Kind kind) {
        const auto words = splitShellWords(header);
        if (!words || words->size() != 2) {
            return SectionIdentity{AWSConfigSection::Kind::other, header.toString()};
        }
        return SectionIdentity{kind, words->at(1)};
    };
    if (header.startsWith(QLatin1String("profile"))) {
        return named(AWSConfigSection::Kind::profile);
    }
    if (header.startsWith(QLatin1String("sso-session"))) {
        return named(AWSConfigSection::Kind::ssoSession);
    }
    if (header == QLatin1String("default")) {
        return {AWSConfigSection::Kind::profile, QStringLiteral("default")};
    }
    return {AWSConfigSection::Kind::other, header.toString()};
}

} // namespace tessera::configlines
