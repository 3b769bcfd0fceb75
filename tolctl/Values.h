// Parsing of the values an operator types on tolctl's command line.
#pragma once

#include <cstdint>
#include <string>

/// "A.B.C.D", four decimal fields 0-255, into an address value (A in bits 31-24).
bool ParseAddress(const std::string& text, uint32_t& value);

/// The MAC address's last four bytes: "158.34.86.28" (as the dialog shows them) or "9E:22:56:1C".
bool ParseMacTail(const std::string& text, uint32_t& value);

/// A name from `names` (case-insensitive) or its index as a decimal number; -1 when neither.
int ParseChoice(const std::string& text, std::initializer_list<const char*> names);

/// Lower-case hex of the bytes, two digits each, separated by single spaces.
std::string HexBytes(const unsigned char* data, size_t count);
