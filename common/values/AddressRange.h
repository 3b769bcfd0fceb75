// Many IPv4 addresses in one argument: one address, a range of the last field, or a network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Addresses at most in one range or network (a /16).
constexpr size_t kMaxRangeAddresses = 65536;

/// Parses `text` into ascending addresses (A in bits 31-24):
///   A.B.C.D      that address
///   A.B.C.D-E    A.B.C.D up to A.B.C.E (D <= E <= 255)
///   A.B.C.D/NN   every address of the /NN block that holds A.B.C.D, NN 16-32, the block's first
///                and last address included (a /24 is 256 addresses)
/// Each address is four decimal fields 0-255 (ParseAddress); E and NN are decimal, E without a
/// leading zero like the address's own fields. On failure
/// answers false with `error` saying what is wrong ("'10.0.0.9-3': the range ends before it
/// starts"); `addresses` is then empty.
bool ParseAddressRange(const std::string& text, std::vector<uint32_t>& addresses, std::string& error);

/// "A.B.C.D" for one address, "A.B.C.D-A.B.C.E" for several (first and last of `addresses`).
std::string FormatAddressSpan(const std::vector<uint32_t>& addresses);

/// True when `text` is written as a range or a network (digits and dots, then '-' or '/'), rather
/// than as one address or a host name ("till-3.shop" is a name).
bool LooksLikeAddressRange(const std::string& text);
