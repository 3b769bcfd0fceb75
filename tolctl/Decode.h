// Turns raw bytes, as a printer receives them, back into the commands that made them.
#pragma once

#include <string>
#include <vector>

/// One line per recognised command with its fields, e.g. `wifi-ap mode=0 name="Thermal Printer"`
/// or `lan-ip 192.168.1.123`. Bytes that begin no known command come out as one
/// `unknown: ...` line per run; a command cut short by the end of input as `truncated ...`.
/// Text fields are converted from the OEM code page and shown as UTF-8 in double quotes.
std::vector<std::string> DecodeCommands(const std::vector<unsigned char>& bytes);
