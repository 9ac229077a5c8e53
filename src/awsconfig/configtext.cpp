#include "awsconfig/configtext.h"

namespace tessera::configtext {

namespace {
template<typename Predicate> QString trimWith(QStringView text, Predicate drop)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && drop(text.at(begin).unicode())) {
        ++begin;
    }
    while (end > begin && drop(text.at(end - 1).unicode())) {
        --end;
    }
    return text.sliced(begin, end - begin).toString();
}
} // namespace

QString trimBlanks(QStringView text)
{
    return trimWith(text, [](char16_t c) { return isBlank(QChar(c)); });
}

QString trimLineBreaks(QStringView text)
{
    return trimWith(text, [](char16_t c) { return isLineBreak(c); });
}

QString trimCharacters(QStringView text, QStringView characters)
{
    return trimWith(text, [&](char16_t c) { return characters.contains(QChar(c)); });
}

QStringList splitAtEveryLineBreak(QStringView text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLineBreak(text.at(i).unicode())) {
            lines.append(text.sliced(start, i - start).toString());
            if (text.at(i) == QLatin1Char('\r') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('\n')) {
                ++i;
            }
            start = i + 1;
        }
    }
    lines.append(text.sliced(start).toString());
    return lines;
}

QString valueToken(QStringView value)
{
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c.isSpace() || c == QLatin1Char('#') || c == QLatin1Char(';')) {
            return value.first(i).toString();
        }
    }
    return value.toString();
}

bool containsNumberRun(QStringView text, QStringView digits)
{
    qsizetype i = 0;
    while (i < text.size()) {
        if (!text.at(i).isNumber()) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && text.at(i).isNumber()) {
            ++i;
        }
        if (text.sliced(start, i - start) == digits) {
            return true;
        }
    }
    return false;
}

bool isTwelveDigits(QStringView text)
{
    if (text.size() != 12) {
        return false;
    }
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

} // namespace tessera::configtext
