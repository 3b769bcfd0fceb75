// A secret (the Wi-Fi password) read from a file or standard input, so that it need not appear
// on the command line, where the process list and the shell history would keep it.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

/// More than this is not a password; reading stops there (a device that never ends stays harmless).
constexpr size_t kMaxSecretBytes = 4096;

/// Reads all of `path` ("-": `in`) as bytes and removes exactly one trailing line end (LF or
/// CRLF). A 00 byte, a UTF-8 byte order mark or a line end left after that is refused. On failure answers
/// false with `error` naming the file and the reason; the content is never part of a message.
bool ReadSecretFile(const std::string& path, std::istream& in, std::string& secret, std::string& error);
