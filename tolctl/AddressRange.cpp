#include "AddressRange.h"

#include "Values.h"

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

// The first part of a range or network: four decimal fields.
bool ParseStart(const std::string& text, const std::string& start, uint32_t& value, std::string& error) {
    if (!ParseAddress(start, value)) {
        error = ShownText(text) + ": " + ShownText(start) +
                " is not an IPv4 address (four decimal fields 0-255, like 192.168.1.100)";
        return false;
    }
    return true;
}

}  // namespace

bool LooksLikeAddressRange(const std::string& text) {
    const size_t mark = text.find_first_of("-/");
    if (mark == std::string::npos || mark == 0) {
        return false;
    }
    // Digits and dots before the mark: a host name like "till-3.shop" is not a range.
    for (size_t i = 0; i < mark; ++i) {
        if (!((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) {
            return false;
        }
    }
    return true;
}

bool ParseAddressRange(const std::string& text, std::vector<uint32_t>& addresses, std::string& error) {
    addresses.clear();
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    if (dash != std::string::npos && slash != std::string::npos) {
        error = ShownText(text) + " is either a range A.B.C.D-E or a network A.B.C.D/NN, not both";
        return false;
    }
    uint32_t first = 0;
    uint32_t last = 0;
    if (dash != std::string::npos) {
        if (!ParseStart(text, text.substr(0, dash), first, error)) {
            return false;
        }
        int64_t end = 0;
        std::string problem;
        if (!ParseDecimal(text.substr(dash + 1), 0, 255, end, problem)) {
            error = ShownText(text) + ": the range's end " + problem + " (a last field 0-255, like 10-20)";
            return false;
        }
        if (end < static_cast<int64_t>(first & 0xFF)) {
            error = ShownText(text) + ": the range ends before it begins (" + std::to_string(first & 0xFF) +
                    "-" + std::to_string(end) + ")";
            return false;
        }
        last = (first & 0xFFFFFF00u) | static_cast<uint32_t>(end);
    } else if (slash != std::string::npos) {
        uint32_t address = 0;
        if (!ParseStart(text, text.substr(0, slash), address, error)) {
            return false;
        }
        const std::string prefixText = text.substr(slash + 1);
        int64_t prefix = 0;
        std::string problem;
        if (!AllDigits(prefixText) || !ParseDecimal(prefixText, 16, 32, prefix, problem)) {
            error = ShownText(text) + ": the prefix length must be 16-32 (at most " +
                    std::to_string(kMaxRangeAddresses) + " addresses), like /24";
            return false;
        }
        const uint32_t hostBits = prefix == 32 ? 0 : (0xFFFFFFFFu >> prefix);
        first = address & ~hostBits;
        last = address | hostBits;
    } else {
        if (!ParseStart(text, text, first, error)) {
            return false;
        }
        last = first;
    }
    addresses.reserve(static_cast<size_t>(last - first) + 1);
    for (uint64_t a = first; a <= last; ++a) {
        addresses.push_back(static_cast<uint32_t>(a));
    }
    return true;
}
