#pragma once

#include <QChar>
#include <QString>
#include <QStringList>
#include <QStringView>

// Character classes and trimming shared by the config readers. The AWS config is read
// with several slightly different notions of "line break" and "white space"; keeping
// them here makes each use say which one it means.
namespace tessera::configtext {

// Line feed, vertical tab, form feed, carriage return, NEL, LS and PS.
inline bool isLineBreak(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Tab and the Unicode space separators, without any line break.
inline bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// Alphanumeric in the Unicode sense: letters, marks and numbers.
inline bool isAlphanumeric(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

QString trimBlanks(QStringView text);
QString trimLineBreaks(QStringView text);
QString trimCharacters(QStringView text, QStringView characters);

// Splits at every line-break character, a "\r\n" pair counting as one break: counted as
// two, every kept section of a CRLF file would gain a blank line at each rewrite.
QStringList splitAtEveryLineBreak(QStringView text);

// The prefix up to the first white space, "#" or ";".
QString valueToken(QStringView value);

// Whether `digits` occurs in `text` as a maximal run of number characters.
bool containsNumberRun(QStringView text, QStringView digits);

bool isTwelveDigits(QStringView text);

} // namespace tessera::configtext
