// OEM conversion on Windows through WideCharToMultiByte / MultiByteToWideChar.
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include "system/OemText.h"

namespace {

UINT g_codePage = CP_OEMCP;

UINT ActualCodePage() {
    return g_codePage == CP_OEMCP ? GetOEMCP() : g_codePage;
}

int Measure(const WideChar* text, int units) {
    if (units <= 0) {
        return 0;
    }
    return WideCharToMultiByte(g_codePage, 0, text, units, nullptr, 0, nullptr, nullptr);
}

}  // namespace

int ConvertToOem(const WideString& text, unsigned char* out, int capacity) {
    if (out == nullptr || capacity <= 0 || text.empty()) {
        return 0;
    }
    const int units = static_cast<int>(text.size());
    if (Measure(text.data(), units) <= capacity) {
        return WideCharToMultiByte(g_codePage, 0, text.data(), units, reinterpret_cast<char*>(out), capacity,
                                   nullptr, nullptr);
    }
    // The whole text does not fit: take whole characters one by one while they fit, so that a
    // character of two bytes is never split.
    int written = 0;
    for (int i = 0; i < units;) {
        const bool pair = i + 1 < units && IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1]);
        const int take = pair ? 2 : 1;
        char bytes[8];
        const int size =
            WideCharToMultiByte(g_codePage, 0, text.data() + i, take, bytes, sizeof bytes, nullptr, nullptr);
        if (size <= 0 || written + size > capacity) {
            break;
        }
        memcpy(out + written, bytes, static_cast<size_t>(size));
        written += size;
        i += take;
    }
    return written;
}

int OemByteCount(const WideString& text) {
    return Measure(text.data(), static_cast<int>(text.size()));
}

WideString ConvertFromOem(const unsigned char* bytes, int count) {
    if (bytes == nullptr || count <= 0) {
        return WideString();
    }
    const char* in = reinterpret_cast<const char*>(bytes);
    const int units = MultiByteToWideChar(g_codePage, 0, in, count, nullptr, 0);
    if (units <= 0) {
        return WideString();
    }
    WideString result(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(g_codePage, 0, in, count, &result[0], units);
    return result;
}

bool SetOemCodePage(const std::string& name) {
    std::string digits = name;
    if (digits.size() > 2 && (digits[0] == 'c' || digits[0] == 'C') &&
        (digits[1] == 'p' || digits[1] == 'P')) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 5) {
        return false;
    }
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    const UINT page = static_cast<UINT>(std::stoul(digits));
    if (!IsValidCodePage(page)) {
        return false;
    }
    g_codePage = page;
    return true;
}

std::string OemCodePageName() {
    return "CP" + std::to_string(ActualCodePage());
}
