#include "awsconfig/shellwords.h"

namespace tessera {

namespace {
bool isWordSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

bool isQuote(QChar c)
{
    return c == QLatin1Char('\'') || c == QLatin1Char('"');
}
} // namespace

std::optional<QStringList> splitShellWords(QStringView text)
{
    enum class State
    {
        between,
        word,
        quoted,
        escaped
    };
    State state = State::between;
    // While quoted, the quote that opened; while escaped, the state to return to.
    QChar quote;
    State afterEscape = State::word;
    QString word;
    // An empty pair of quotes is a word of its own.
    bool wordHadQuotes = false;
    QStringList words;
    const auto finishWord = [&] {
        if (!word.isEmpty() || wordHadQuotes) {
            words.append(word);
        }
        word.clear();
        wordHadQuotes = false;
    };

    for (const QChar c : text) {
        switch (state) {
        case State::between:
        case State::word:
            if (isWordSeparator(c)) {
                if (state == State::word) {
                    finishWord();
                }
                state = State::between;
            } else if (c == QLatin1Char('\\')) {
                afterEscape = State::word;
                state = State::escaped;
            } else if (isQuote(c)) {
                quote = c;
                wordHadQuotes = true;
                state = State::quoted;
            } else {
                word.append(c);
                state = State::word;
            }
            break;
        case State::quoted:
            if (c == quote) {
                state = State::word;
            } else if (c == QLatin1Char('\\') && quote == QLatin1Char('"')) {
                afterEscape = State::quoted;
                state = State::escaped;
            } else {
                word.append(c);
            }
            break;
        case State::escaped:
            // Inside double quotes only the quote and the backslash itself are escaped; any
            // other character keeps the backslash in front of it.
            if (afterEscape == State::quoted && c != QLatin1Char('\\') && c != quote) {
                word.append(QLatin1Char('\\'));
            }
            word.append(c);
            state = afterEscape;
            break;
        }
    }
    if (state == State::quoted || state == State::escaped) {
        return std::nullopt;
    }
    if (state == State::word) {
        finishWord();
    }
    return words;
}

} // namespace tessera
