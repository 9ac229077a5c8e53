#pragma once

#include <QStringList>
#include <QStringView>
#include <optional>

namespace tessera {

// Splits `text` into words the way the AWS CLI splits a section header: POSIX shell rules
// with single and double quotes and backslash escapes, words separated by space, tab,
// carriage return or line feed, and no comments. Nothing when a quote is left open or the
// text ends in a lone backslash, which is a header the AWS CLI skips.
std::optional<QStringList> splitShellWords(QStringView text);

} // namespace tessera
