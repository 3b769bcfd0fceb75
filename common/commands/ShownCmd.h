// A command as tolctl shows it (--dry-run): hex and decoded, with the password hidden.
#pragma once

#include <cstddef>
#include <string>

#include "commands/Cmd.h"

/// The bytes [begin, end) of a command that are a password (begin == end: none).
struct SecretSpan {
    size_t begin = 0;
    size_t end = 0;
};

/// Where the password lies in `cmd`: the station command's; empty for every other command.
SecretSpan PasswordSpan(const Cmd& cmd);

/// The command's bytes as hex; unless `showSecrets`, each byte of `secret` as "**".
std::string ShownHex(const Cmd& cmd, SecretSpan secret, bool showSecrets);

/// The decoded command; unless `showSecrets`, its password as "(hidden)".
std::string ShownDecoded(const Cmd& cmd, SecretSpan secret, bool showSecrets);
