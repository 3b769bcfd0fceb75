// The system's text for an error, as the messages of the programs quote it.
#pragma once

#include <string>

/// The system's text for an errno value, its first letter in lower case to sit inside a sentence
/// ("connection refused"); a word that is all capitals ("I/O") keeps them.
std::string ErrnoText(int code);
