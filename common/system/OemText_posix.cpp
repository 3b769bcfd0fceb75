// OEM conversion on POSIX through glibc iconv.
#include <errno.h>
#include <iconv.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "system/OemText.h"

namespace {

std::string g_codePage = "CP437";

// iconv descriptor that closes itself.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

std::string NormalizeName(const std::string& name) {
    std::string upper;
    for (char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!upper.empty() && std::isdigit(static_cast<unsigned char>(upper[0]))) {
        upper = "CP" + upper;
    }
    return upper;
}

// UTF-16LE bytes of the text, independent of the host's byte order.
std::vector<char> ToUtf16Le(const WideString& text) {
    std::vector<char> bytes;
    bytes.reserve(text.size() * 2);
    for (WideChar unit : text) {
        const auto u = static_cast<unsigned>(unit);
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

// Length in bytes of the UTF-16LE code point starting at `in` (2 or 4).
size_t CodePointBytes(const char* in, size_t left) {
    if (left >= 4) {
        const unsigned hi = static_cast<unsigned char>(in[0]) | (static_cast<unsigned char>(in[1]) << 8);
        const unsigned lo = static_cast<unsigned char>(in[2]) | (static_cast<unsigned char>(in[3]) << 8);
        if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) {
            return 4;
        }
    }
    return left >= 2 ? 2 : left;
}

// Converts as much as fits into `capacity` bytes; `out` may be null to only count.
int Convert(const WideString& text, unsigned char* out, size_t capacity) {
    Iconv cd(g_codePage.c_str(), "UTF-16LE");
    if (!cd.ok() || text.empty()) {
        return 0;
    }
    std::vector<char> input = ToUtf16Le(text);
    char* in = input.data();
    size_t inLeft = input.size();
    // iconv may leave the first byte of a character that does not fit in the output before it
    // stops; converting into a scratch buffer keeps that half character out of the caller's.
    std::vector<char> scratch(capacity);
    char* dst = scratch.data();
    size_t outLeft = capacity;
    while (inLeft > 0) {
        if (iconv(cd.get(), &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            break;  // iconv stops before a character that does not fit whole
        }
        // EILSEQ (not in the code page, or a lone surrogate) or EINVAL (cut surrogate pair):
        // the default character stands in for each UTF-16 unit of the character, as Windows
        // does, so a character outside the BMP becomes "??".
        const size_t skip = CodePointBytes(in, inLeft);
        const size_t marks = (skip + 1) / 2;
        if (outLeft < marks) {
            break;
        }
        for (size_t i = 0; i < marks; ++i) {
            *dst++ = '?';
        }
        outLeft -= marks;
        in += skip;
        inLeft -= skip;
    }
    const size_t produced = capacity - outLeft;
    if (out != nullptr && produced > 0) {
        std::memcpy(out, scratch.data(), produced);
    }
    return static_cast<int>(produced);
}

}  // namespace

int ConvertToOem(const WideString& text, unsigned char* out, int capacity) {
    if (out == nullptr || capacity <= 0) {
        return 0;
    }
    return Convert(text, out, static_cast<size_t>(capacity));
}

int OemByteCount(const WideString& text) {
    // No OEM code page takes more than 4 bytes for one UTF-16 code unit.
    return Convert(text, nullptr, text.size() * 4);
}

WideString ConvertFromOem(const unsigned char* bytes, int count) {
    WideString result;
    if (bytes == nullptr || count <= 0) {
        return result;
    }
    Iconv cd("UTF-16LE", g_codePage.c_str());
    if (!cd.ok()) {
        return result;
    }
    std::vector<char> input(bytes, bytes + count);
    std::vector<char> output(static_cast<size_t>(count) * 4 + 4);
    char* in = input.data();
    size_t inLeft = input.size();
    char* dst = output.data();
    size_t outLeft = output.size();
    while (inLeft > 0) {
        if (iconv(cd.get(), &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG || outLeft < 2) {
            break;
        }
        // A byte the code page does not define: U+FFFD, then go on with the next byte.
        *dst++ = static_cast<char>(0xFD);
        *dst++ = static_cast<char>(0xFF);
        outLeft -= 2;
        ++in;
        --inLeft;
    }
    const size_t produced = output.size() - outLeft;
    for (size_t i = 0; i + 1 < produced; i += 2) {
        const unsigned unit =
            static_cast<unsigned char>(output[i]) | (static_cast<unsigned char>(output[i + 1]) << 8);
        result += static_cast<WideChar>(unit);
    }
    return result;
}

bool SetOemCodePage(const std::string& name) {
    const std::string normalized = NormalizeName(name);
    if (normalized.empty()) {
        return false;
    }
    Iconv probe(normalized.c_str(), "UTF-16LE");
    if (!probe.ok()) {
        return false;
    }
    g_codePage = normalized;
    return true;
}

std::string OemCodePageName() {
    return g_codePage;
}
