#include "values/AddressRange.h"

#include "values/Values.h"

bool ParseAddressRange(const std::string& text, std::vector<uint32_t>& addresses, std::string& error) {
    addresses.clear();
    const size_t split = text.find_first_of("-/");
    uint32_t start = 0;
    if (!ParseAddress(text.substr(0, split), start)) {
        const std::string zeros = LeadingZerosProblem(text.substr(0, split));
        error = !zeros.empty() ? zeros
                               : ShownText(text) +
                                     ": not an address (A.B.C.D), a range (A.B.C.D-E) or a network "
                                     "(A.B.C.D/NN); each address is four decimal fields 0-255";
        return false;
    }
    uint32_t first = start;
    uint32_t last = start;
    if (split != std::string::npos) {
        const bool range = text[split] == '-';
        int64_t value = 0;
        std::string problem;
        const std::string end = text.substr(split + 1);
        if (range && end.size() > 1 && end[0] == '0') {
            error = ShownText(text) +
                    ": the range's last field: leading zeros are ambiguous (some programs "
                    "read 010 as octal, 8); write it without them";
            return false;
        }
        if (!ParseDecimal(end, range ? 0 : 16, range ? 255 : 32, value, problem)) {
            error = ShownText(text) +
                    (range ? ": the range's last field " : ": the network's prefix length ") + problem;
            return false;
        }
        if (range) {
            last = (start & 0xFFFFFF00u) | static_cast<uint32_t>(value);
            if (last < start) {
                error = ShownText(text) + ": the range ends before it starts";
                return false;
            }
        } else {
            const uint32_t hostBits = 32 - static_cast<uint32_t>(value);
            const uint32_t hostMask = hostBits == 0 ? 0 : (1u << hostBits) - 1;
            first = start & ~hostMask;
            last = start | hostMask;
        }
    }
    addresses.reserve(static_cast<size_t>(last - first) + 1);
    for (uint64_t address = first; address <= last; ++address) {
        addresses.push_back(static_cast<uint32_t>(address));
    }
    return true;
}

std::string FormatAddressSpan(const std::vector<uint32_t>& addresses) {
    if (addresses.empty()) {
        return "";
    }
    std::string text = FormatAddress(addresses.front());
    if (addresses.size() > 1) {
        text += "-" + FormatAddress(addresses.back());
    }
    return text;
}

bool LooksLikeAddressRange(const std::string& text) {
    const size_t mark = text.find_first_of("-/");
    if (mark == std::string::npos || mark == 0) {
        return false;
    }
    for (size_t i = 0; i < mark; ++i) {
        if (!((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) {
            return false;
        }
    }
    return true;
}
