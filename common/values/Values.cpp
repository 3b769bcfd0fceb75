#include "values/Values.h"

#include <cctype>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool AllDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
    }
    return true;
}

bool HasHexPrefix(const std::string& text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// Decimal digits with a value within 0-255, without a leading zero ("0" alone is zero).
bool ParseDecimalByte(const std::string& text, uint32_t& value) {
    if (!AllDigits(text) || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    uint32_t result = 0;
    for (char c : text) {
        result = result * 10 + static_cast<uint32_t>(c - '0');
        if (result > 255) {
            return false;
        }
    }
    value = result;
    return true;
}

// One or two hex digits.
bool ParseHexByte(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 2) {
        return false;
    }
    uint32_t result = 0;
    for (char c : text) {
        if (!IsHexDigit(c)) {
            return false;
        }
        result = result * 16 + static_cast<uint32_t>(HexValue(c));
    }
    value = result;
    return true;
}

bool ParseFourFields(const std::string& text,
                     char separator,
                     bool (*parseByte)(const std::string&, uint32_t&),
                     uint32_t& value) {
    const std::vector<std::string> parts = Split(text, separator);
    if (parts.size() != 4) {
        return false;
    }
    uint32_t result = 0;
    for (const std::string& part : parts) {
        uint32_t byte = 0;
        if (!parseByte(part, byte)) {
            return false;
        }
        result = (result << 8) | byte;
    }
    value = result;
    return true;
}

// "must be 0-65535"; for a bound that only a mistake reaches (beyond what an int holds) just
// the side that was missed: "must be 1 or more".
std::string RangeText(int64_t min, int64_t max, bool tooSmall) {
    const int64_t huge = std::numeric_limits<int>::max();
    if (tooSmall && max >= huge) {
        return "must be " + std::to_string(min) + " or more";
    }
    if (!tooSmall && min <= -huge) {
        return "must be " + std::to_string(max) + " or less";
    }
    if (min < 0) {
        return "must be from " + std::to_string(min) + " to " + std::to_string(max);
    }
    return "must be " + std::to_string(min) + "-" + std::to_string(max);
}

std::string SecondsText(int ms) {
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", ms % 1000);
        text += fraction;
        while (text.back() == '0') {
            text.pop_back();
        }
    }
    return text;
}

}  // namespace

bool ParseAddress(const std::string& text, uint32_t& value) {
    return ParseFourFields(text, '.', ParseDecimalByte, value);
}

std::string LeadingZerosProblem(const std::string& text) {
    const std::vector<std::string> fields = Split(text, '.');
    bool zero = false;
    for (const std::string& field : fields) {
        if (!AllDigits(field)) {
            return std::string();
        }
        zero = zero || (field.size() > 1 && field[0] == '0');
    }
    if (fields.size() != 4 || !zero) {
        return std::string();
    }
    return ShownText(text) +
           ": leading zeros are ambiguous (some programs read 010 as octal, 8); write the four "
           "decimal fields without them";
}

bool IsNumericHost(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    if (HasHexPrefix(text)) {
        return true;
    }
    for (const std::string& field : Split(text, '.')) {
        bool number = field.empty() || AllDigits(field);
        if (!number && HasHexPrefix(field)) {
            number = true;
            for (size_t i = 2; i < field.size(); ++i) {
                number = number && IsHexDigit(field[i]);
            }
        }
        if (!number) {
            return false;
        }
    }
    return true;
}

std::string CheckHost(const std::string& host) {
    uint32_t address = 0;
    if (ParseAddress(host, address)) {
        return std::string();
    }
    if (host.empty()) {
        return "no host given";
    }
    const std::string zeros = LeadingZerosProblem(host);
    if (!zeros.empty()) {
        return zeros;
    }
    if (IsNumericHost(host)) {
        return ShownText(host) +
               " is not an IPv4 address; write four decimal fields 0-255, like 192.168.1.100";
    }
    const std::string notName =
        ShownText(host) + " is not a host name (letters, digits, '-', '_' and '.', like printer.local)";
    if (host.size() > 253) {
        return notName;
    }
    for (char c : host) {
        if (!IsDigit(c) && !((c | 0x20) >= 'a' && (c | 0x20) <= 'z') && c != '-' && c != '_' && c != '.') {
            return notName;
        }
    }
    std::vector<std::string> labels = Split(host, '.');
    if (labels.size() > 1 && labels.back().empty()) {
        labels.pop_back();  // a fully qualified name ends in a dot
    }
    for (const std::string& label : labels) {
        if (label.empty() || label.size() > 63) {
            return notName;
        }
    }
    return std::string();
}

bool ParseMacTail(const std::string& text, uint32_t& value) {
    if (text.find(':') != std::string::npos || text.find('-') != std::string::npos) {
        const char separator = text.find(':') != std::string::npos ? ':' : '-';
        return ParseFourFields(text, separator, ParseHexByte, value);
    }
    return ParseAddress(text, value);
}

int ParseChoice(const std::string& text, std::initializer_list<const char*> names) {
    const std::string lower = LowerCase(text);
    int index = 0;
    for (const char* name : names) {
        if (lower == name) {
            return index;
        }
        ++index;
    }
    if (lower.size() == 1 && lower[0] >= '0' && lower[0] < '0' + static_cast<int>(names.size())) {
        return lower[0] - '0';
    }
    return -1;
}

bool ParseDecimal(const std::string& text, int64_t min, int64_t max, int64_t& value, std::string& error) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (!AllDigits(digits)) {
        error = ShownText(text) + " is not a decimal number";
        return false;
    }
    // The magnitude, held at 2^63 + 1 once it is larger than any int64_t could be.
    const uint64_t limit = uint64_t{1} << 63;
    uint64_t magnitude = 0;
    for (char c : digits) {
        magnitude = magnitude > limit / 10 ? limit + 1 : magnitude * 10 + static_cast<uint64_t>(c - '0');
        magnitude = magnitude > limit ? limit + 1 : magnitude;
    }
    bool inRange = false;
    int64_t result = 0;
    if (!negative && magnitude < limit) {
        result = static_cast<int64_t>(magnitude);
        inRange = true;
    } else if (negative && min < 0 && magnitude <= limit) {
        result = magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
        inRange = true;
    }
    if (!inRange || result < min || result > max) {
        error = RangeText(min, max, inRange ? result < min : negative);
        return false;
    }
    value = result;
    return true;
}

bool ParseSeconds(const std::string& text, int minMs, int maxMs, int& ms, std::string& error) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    if (!AllDigits(whole) || (point != std::string::npos && !AllDigits(fraction))) {
        error = ShownText(text) + " is not a number of seconds (like 5 or 0.25)";
        return false;
    }
    // Milliseconds, held just above what an int holds once the value is larger.
    const int64_t tooLarge = int64_t{std::numeric_limits<int>::max()} + 1;
    int64_t total = 0;
    for (char c : whole) {
        total = total > tooLarge ? tooLarge : total * 10 + (c - '0');
    }
    total = total > tooLarge / 1000 ? tooLarge : total * 1000;
    for (size_t i = 0; i < 3; ++i) {
        total += (i < fraction.size() ? fraction[i] - '0' : 0) * (i == 0 ? 100 : i == 1 ? 10 : 1);
    }
    if (fraction.size() > 3 && fraction[3] >= '5') {
        ++total;  // to the nearest millisecond
    }
    if (total < minMs || total > maxMs) {
        error = "must be " + SecondsText(minMs) + "-" + SecondsText(maxMs) + " (seconds)";
        return false;
    }
    ms = static_cast<int>(total);
    return true;
}

std::string ShownText(const std::string& text, size_t maxBytes) {
    size_t cut = text.size();
    if (cut > maxBytes) {
        cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a UTF-8 character
        }
    }
    std::string shown = "'";
    for (size_t i = 0; i < cut; ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            shown += escaped;
        } else {
            shown += text[i];
        }
    }
    return shown + (cut < text.size() ? "...'" : "'");
}

std::string HexBytes(const unsigned char* data, size_t count) {
    std::string hex;
    hex.reserve(count * 3);
    char digits[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : " %02x", data[i]);
        hex += digits;
    }
    return hex;
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}
