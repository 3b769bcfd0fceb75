#include "Values.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace {

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

// 1 to `maxDigits` digits of `base`, value within 0-255.
bool ParseByte(const std::string& text, int base, size_t maxDigits, uint32_t& value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    uint32_t result = 0;
    for (char c : text) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0 || digit >= base) {
            return false;
        }
        result = result * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    }
    if (result > 255) {
        return false;
    }
    value = result;
    return true;
}

bool ParseFourFields(const std::string& text, char separator, int base, size_t maxDigits, uint32_t& value) {
    const std::vector<std::string> parts = Split(text, separator);
    if (parts.size() != 4) {
        return false;
    }
    uint32_t result = 0;
    for (const std::string& part : parts) {
        uint32_t byte = 0;
        if (!ParseByte(part, base, maxDigits, byte)) {
            return false;
        }
        result = (result << 8) | byte;
    }
    value = result;
    return true;
}

}  // namespace

bool ParseAddress(const std::string& text, uint32_t& value) {
    return ParseFourFields(text, '.', 10, 3, value);
}

bool ParseMacTail(const std::string& text, uint32_t& value) {
    if (text.find(':') != std::string::npos || text.find('-') != std::string::npos) {
        const char separator = text.find(':') != std::string::npos ? ':' : '-';
        return ParseFourFields(text, separator, 16, 2, value);
    }
    return ParseAddress(text, value);
}

int ParseChoice(const std::string& text, std::initializer_list<const char*> names) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
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
