#include "system/WideText.h"

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

bool Utf8ToWide(const std::string& utf8, WideString& out) {
    out.clear();
    WideString result;
    size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0;
        int extra = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F, extra = 1, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F, extra = 2, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07, extra = 3, min = 0x10000;
        } else {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= utf8.size()) {
                return false;
            }
            const unsigned char c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            result += static_cast<WideChar>(0xD800 + (cp >> 10));
            result += static_cast<WideChar>(0xDC00 + (cp & 0x3FF));
        } else {
            result += static_cast<WideChar>(cp);
        }
        i += extra + 1;
    }
    out = std::move(result);
    return true;
}

std::string WideToUtf8(const WideString& wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        const char32_t unit = static_cast<char16_t>(wide[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size()) {
            const char32_t low = static_cast<char16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
    }
    return out;
}

WideString WidenAscii(const std::string& ascii) {
    WideString out;
    out.reserve(ascii.size());
    for (unsigned char c : ascii) {
        out += static_cast<WideChar>(c);
    }
    return out;
}
