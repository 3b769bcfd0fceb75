// Many IPv4 addresses written as one: a range of the last field or a whole network block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Most addresses one range or network may name (a /16).
constexpr size_t kMaxRangeAddresses = 65536;

/// Reads `text` as
///   A.B.C.D      one address,
///   A.B.C.D-E    the last field from D to E (D <= E <= 255),
///   A.B.C.D/NN   every address of the block of prefix length NN (16-32), the first and the last
///                included (a /24 is 256 addresses); any address of the block may stand before /NN.
/// Every field is decimal, as in ParseAddress. Answers the addresses in host order (A in bits
/// 31-24), ascending; on failure false, with `error` saying what is wrong.
bool ParseAddressRange(const std::string& text, std::vector<uint32_t>& addresses, std::string& error);

/// True when `text` is written as a range or a network (holds '-' or '/' after a dotted address),
/// rather than as a single address or host name.
bool LooksLikeAddressRange(const std::string& text);
