#pragma once

#include "awsconfig/awsconfigtypes.h"

#include <QString>

// Settings that end up as values in the managed block. The block is plain text shared with
// the AWS CLI, so a value holding a line break would write lines of its own into the file:
// a settings file edited by hand must not be able to do that.
namespace tessera {

// The value as the block writes it: the start URL normalised, a region trimmed and
// lower-cased.
QString writtenAWSConfigValue(AWSConfigValueKind kind, const QString &value);

// Throws AWSConfigManagerError::invalidValue, naming the setting, unless the written value
// holds only characters a web address (start URL) or a region name can hold. Empty values
// pass: whether a setting may be empty is for its own rules. The block renderer refuses
// what this refuses.
void validateAWSConfigValue(AWSConfigValueKind kind, const QString &value);

} // namespace tessera
