// The parsers of addresses, hosts, numbers and seconds on any text, each held against an
// independent reading: the C library's, or printing the value back.
#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "tests/fuzz/FuzzCheck.h"
#include "values/Values.h"

namespace {

bool AllDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// A field written with a leading zero ("010"), which C's inet_aton reads as octal.
bool HasPaddedField(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '0' && (i == 0 || text[i - 1] == '.') && text[i + 1] != '.') {
            return true;
        }
    }
    return false;
}

void CheckAddress(const std::string& text) {
    uint32_t value = 0;
    const bool address = ParseAddress(text, value);
    if (address) {
        // It prints back as the same text: never padded with zeros, which could be read as octal.
        uint32_t again = 0;
        const std::string printed = FormatAddress(value);
        FUZZ_CHECK(ParseAddress(printed, again) && again == value, text + " -> " + printed);
        FUZZ_CHECK(!HasPaddedField(text) && printed == text, text + " -> " + printed);
        FUZZ_CHECK(CheckHost(text).empty(), text);
    }
    in_addr numeric{};
    const bool resolverNumber =
        inet_aton(text.c_str(), &numeric) != 0 && text.find('\0') == std::string::npos;
    if (CheckHost(text).empty() && !address) {
        // A host name that passes must be one that no resolver reads as a number.
        FUZZ_CHECK(!resolverNumber, "a resolver reads as a number: " + text);
        FUZZ_CHECK(!IsNumericHost(text), text);
    }
    if (address && resolverNumber) {
        FUZZ_CHECK(ntohl(numeric.s_addr) == value, text);
    }
    uint32_t mac = 0;
    if (ParseMacTail(text, mac) && !address) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02X:%02X:%02X:%02X", mac >> 24, (mac >> 16) & 0xFF,
                      (mac >> 8) & 0xFF, mac & 0xFF);
        uint32_t again = 0;
        FUZZ_CHECK(ParseMacTail(hex, again) && again == mac, text);
    }
}

void CheckDecimal(const std::string& text, int64_t min, int64_t max) {
    int64_t value = 0;
    std::string error;
    const bool ok = ParseDecimal(text, min, max, value, error);
    FUZZ_CHECK(ok || (!error.empty() && error.size() < 200), "message: " + error);

    // strtoll in base 10 on text that is nothing but an optional '-' and digits.
    const bool negative = !text.empty() && text[0] == '-';
    const bool shaped = AllDigits(negative ? text.substr(1) : text);
    if (!shaped) {
        FUZZ_CHECK(!ok, "took a number that is not decimal: " + text);
        return;
    }
    errno = 0;
    const long long reference = std::strtoll(text.c_str(), nullptr, 10);
    const bool fits = errno != ERANGE && reference >= min && reference <= max && !(negative && min >= 0);
    FUZZ_CHECK(ok == fits, text);
    FUZZ_CHECK(!ok || value == reference, text);
}

void CheckSeconds(const std::string& text) {
    int ms = -1;
    std::string error;
    const bool ok = ParseSeconds(text, 1, 3600 * 1000, ms, error);
    const size_t point = text.find('.');
    const bool shaped =
        AllDigits(text.substr(0, point)) && (point == std::string::npos || AllDigits(text.substr(point + 1)));
    FUZZ_CHECK(!ok || shaped, "took seconds that are not plain decimal: " + text);
    FUZZ_CHECK(!ok || (ms >= 1 && ms <= 3600 * 1000), text);
    if (shaped && text.size() < 16) {
        // Short enough for a double to hold exactly enough: within a millisecond of strtod.
        const double reference = std::strtod(text.c_str(), nullptr) * 1000;
        if (reference >= 1.5 && reference <= 3600 * 1000 - 0.5) {
            FUZZ_CHECK(ok && std::fabs(ms - reference) <= 0.5 + 1e-6, text);
        }
        if (reference < 0.49 || reference > 3600 * 1000 + 0.51) {
            FUZZ_CHECK(!ok, text);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckAddress(text);
    CheckDecimal(text, 0, 65535);
    CheckDecimal(text, 1, std::numeric_limits<int>::max());
    CheckDecimal(text, -20, 20);
    CheckDecimal(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    CheckSeconds(text);

    const int choice = ParseChoice(text, {"open", "shared", "wpapsk", "wpa2psk"});
    FUZZ_CHECK(choice >= -1 && choice <= 3, text);
    FUZZ_CHECK(choice < 0 || text.size() == 1 || text.size() >= 4, text);

    const std::string shown = ShownText(text);
    FUZZ_CHECK(shown.size() <= 2 + 32 * 4 + 3, shown);
    for (char c : shown) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control character shown");
    }
    return 0;
}
