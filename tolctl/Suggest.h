// "Did you mean": the known word closest to a mistyped one.
#pragma once

#include <string>
#include <vector>

/// The word of `known` that `typed` most likely stands for, compared in lower case: the only
/// one that begins with it (from 3 letters on), else the nearest within one edit for short
/// words and two for longer ones (a letter added, left out or changed, or two letters swapped).
/// "" when none is that close.
std::string ClosestWord(const std::string& typed, const std::vector<std::string>& known);
