#pragma once

#include <QString>
#include <optional>

// What the settings window accepts in its text fields. The start URL and the regions end up
// as values in the AWS CLI config, so a value with a line break or a character that no URL
// or region holds is refused where it is typed, with a sentence saying why.
namespace tessera {

// The typed start URL, before normalisation. Empty is accepted (no portal yet).
std::optional<QString> startURLEntryProblem(const QString &text);
// The typed region, before trimming and lower-casing. Empty is accepted only when
// `mayBeEmpty` (a region that can be left unset).
std::optional<QString> regionEntryProblem(const QString &text, bool mayBeEmpty);

} // namespace tessera
