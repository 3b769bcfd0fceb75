// The profile described for other programs and for readers, made from the settings registry:
// its JSON Schema (docs/profile.schema.json) and the table of its keys (docs/profiles.md).
#pragma once

#include <string>

/// The JSON Schema of a profile (draft 2020-12): every key of the registry with the form of its
/// values, as `tolctl profile schema` prints it.
std::string ProfileSchema();

/// The table of a profile's keys in Markdown (key, value, command), then the order in which a
/// printer gets its commands, as `tolctl profile keys` prints it.
std::string ProfileKeysTable();
