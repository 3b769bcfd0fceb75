// Parsing of the values an operator types on tolctl's command line. Everything is read strictly:
// a value that could be read two ways (an octal or hex number, a shortened address) is refused
// rather than guessed, because a wrong guess sends a setting to the wrong printer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

/// "A.B.C.D", exactly four decimal fields 0-255, into an address value (A in bits 31-24).
/// A field with a leading zero ("010", "00") is refused: some programs read it as octal.
bool ParseAddress(const std::string& text, uint32_t& value);

/// "a.b.c.d" of an address value whose most significant byte is the leftmost field.
std::string FormatAddress(uint32_t address);

/// What to say of four decimal fields of which one has a leading zero ("'010.0.0.1': leading
/// zeros are ambiguous ..."); empty for any other text.
std::string LeadingZerosProblem(const std::string& text);

/// True when `text` is written like a numeric IPv4 address rather than a host name: it has only
/// digits and dots, begins with 0x, or each of its dot-separated fields is a decimal or 0x number
/// (the shorthand that resolvers read as an address: "127.1", "3232235777", "1.0x2.3.4").
/// Such text is an address only when ParseAddress takes it.
bool IsNumericHost(const std::string& text);

/// Empty when `host` may be used for a TCP port: four decimal fields (ParseAddress), or a host
/// name of letters, digits, '-', '_' and '.' that is not written like a number. Otherwise what is
/// wrong with it.
std::string CheckHost(const std::string& host);

/// The MAC address's last four bytes: "158.34.86.28" (as the dialog shows them; no leading zeros,
/// as in an address) or "9E:22:56:1C".
bool ParseMacTail(const std::string& text, uint32_t& value);

/// A name from `names` (case-insensitive) or its index as a decimal number; -1 when neither.
int ParseChoice(const std::string& text, std::initializer_list<const char*> names);

/// A decimal integer within [min, max]: ASCII digits only, a '-' in front only for a negative
/// number; leading zeros are decimal. No base prefix (0x, 0o, 0b), sign '+', blank, separator or
/// exponent. On failure `error` says why without repeating a long value, e.g. "must be 0-65535",
/// "must be 1 or more" or "'0x10' is not a decimal number".
bool ParseDecimal(const std::string& text, int64_t min, int64_t max, int64_t& value, std::string& error);

/// Seconds as decimal digits with an optional fraction ("5", "0.25"), rounded to whole
/// milliseconds within [minMs, maxMs]. No sign, exponent, hex, nan or inf.
bool ParseSeconds(const std::string& text, int minMs, int maxMs, int& ms, std::string& error);

/// `text` in single quotes for a message: control characters as \xNN, and cut to `maxBytes`
/// (at a character boundary) with "..." when longer, so that a long value is not echoed back.
/// File names are shown whole (maxBytes npos).
std::string ShownText(const std::string& text, size_t maxBytes = 32);

/// Lower-case hex of the bytes, two digits each, separated by single spaces.
std::string HexBytes(const unsigned char* data, size_t count);

/// `text` with its ASCII letters in upper case ("com1" -> "COM1"); other bytes as they are.
std::string UpperCase(std::string text);
/// `text` with its ASCII letters in lower case; other bytes as they are.
std::string LowerCase(std::string text);
