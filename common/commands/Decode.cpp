#include "Decode.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "Commands.h"
#include "Values.h"

namespace {

using Bytes = std::vector<unsigned char>;

// What one position of the input holds, seen from one kind of command.
struct Span {
    size_t length = 0;  // bytes the command takes; 0 when the header does not match
    bool complete = false;
};

// A command the decoder knows: its fixed header, how long the whole command is once the
// header (and any length bytes) are there, and how to describe it.
struct Known {
    const char* name;
    Bytes header;
    // Total length, given the bytes from the header on; 0 while length bytes are still missing.
    std::function<size_t(const unsigned char*, size_t)> totalLength;
    std::function<std::string(const unsigned char*, size_t)> describe;
};

std::string Quoted(const unsigned char* bytes, size_t count) {
    const std::string utf8 = WideToUtf8(ConvertFromOem(bytes, static_cast<int>(count)));
    std::string out = "\"";
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Splits "ip,mask,gateway" into key=value fields; keeps the raw text when it is anything else.
std::string AddressFields(const unsigned char* bytes, size_t count) {
    uint32_t ip = 0, mask = 0, gateway = 0;
    if (SplitStationAddresses(bytes, count, ip, mask, gateway)) {
        return "ip=" + FormatAddress(ip) + " mask=" + FormatAddress(mask) +
               " gateway=" + FormatAddress(gateway);
    }
    return "address=" + Quoted(bytes, count);
}

size_t Fixed(size_t length, const unsigned char*, size_t) {
    return length;
}

const std::vector<Known>& KnownCommands() {
    using namespace std::placeholders;
    static const std::vector<Known> known = [] {
        std::vector<Known> list;
        auto fixed = [&list](const char* name, const Cmd& cmd) {
            const unsigned char* data = cmd.GetData();
            const size_t length = static_cast<size_t>(cmd.GetLength());
            list.push_back({name, Bytes(data, data + length), std::bind(Fixed, length, _1, _2),
                            [name](const unsigned char*, size_t) { return std::string(name); }});
        };
        fixed("test-print", PrintTestCmd());
        fixed("cut", CutPaper());
        fixed("open-drawer", OpenCashBoxCmd());
        fixed("factory-mode", FacModeCmd());
        fixed("hex-mode", HexModeCmd());
        fixed("wifi-factory", WifiRefacCmd());
        fixed("bt-read-pin", ReadPinCmd());
        fixed("bt-check", CheckSpeedCmd());
        // The real-time status request DLE EOT n, which a printer answers with one byte.
        list.push_back(
            {"status-request", {0x10, 0x04}, std::bind(Fixed, 3, _1, _2), [](const unsigned char* b, size_t) {
                 return "status-request n=" + std::to_string(b[2]);
             }});

        list.push_back(
            {"wifi-ap",
             {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x0A, 0x0B, 0x0C},
             [](const unsigned char* b, size_t have) -> size_t { return have < 11 ? 0 : 11 + b[10]; },
             [](const unsigned char* b, size_t) {
                 return "wifi-ap mode=" + std::to_string(b[9]) + " name=" + Quoted(b + 11, b[10]);
             }});
        list.push_back({"wifi-station",
                        {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x07, 0x08, 0x09},
                        [](const unsigned char* b, size_t have) -> size_t {
                            return have < 14 ? 0 : 14 + size_t{b[11]} + b[12] + b[13];
                        },
                        [](const unsigned char* b, size_t) {
                            const unsigned char* text = b + 14;
                            return "wifi-station auth=" + std::to_string(b[9]) +
                                   " enc=" + std::to_string(b[10]) + " ssid=" + Quoted(text, b[11]) +
                                   " password=" + Quoted(text + b[11], b[12]) + " " +
                                   AddressFields(text + b[11] + b[12], b[13]);
                        }});
        list.push_back({"lan-dhcp",
                        {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x1B, 0x08},
                        std::bind(Fixed, 8, _1, _2),
                        [](const unsigned char* b, size_t) { return "lan-dhcp " + std::to_string(b[7]); }});
        auto btText = [&list](const char* name, unsigned char kind) {
            list.push_back(
                {name,
                 {0x1F, 0x1B, 0x1F, kind},
                 [](const unsigned char* b, size_t have) -> size_t { return have < 5 ? 0 : 5 + b[4]; },
                 [name](const unsigned char* b, size_t) {
                     return std::string(name) + " " + Quoted(b + 5, b[4]);
                 }});
        };
        btText("bt-name", 0xF0);
        btText("bt-pin", 0x09);
        auto lanAddress = [&list](const char* name, Bytes header) {
            const size_t length = header.size() + 4;
            list.push_back({name, std::move(header), std::bind(Fixed, length, _1, _2),
                            [name, length](const unsigned char* b, size_t) {
                                return std::string(name) + " " + FormatAddress(AddressAt(b + length - 4));
                            }});
        };
        lanAddress("lan-ip", {0x1F, 0x1B, 0x1D, 0x00});
        lanAddress("lan-mask", {0x1F, 0x1B, 0x1D, 0x01});
        lanAddress("lan-gateway", {0x1F, 0x1B, 0x1D, 0x02});
        lanAddress("lan-mac", {0x1F, 0x1B, 0x1D, 0x03, 0xBC, 0x20});
        return list;
    }();
    return known;
}

// Does the input at `at` (with `have` bytes left) begin with this command's header?
// A header cut by the end of the input counts as a truncated match.
Span Match(const Known& cmd, const unsigned char* at, size_t have, bool atEnd) {
    Span span;
    if (at[0] != cmd.header[0]) {
        return span;  // the common case, decided without comparing the whole header
    }
    const size_t compare = std::min(have, cmd.header.size());
    if (!std::equal(cmd.header.begin(), cmd.header.begin() + static_cast<std::ptrdiff_t>(compare), at)) {
        return span;
    }
    // A cut header only counts when it starts with a control byte, or when enough of the
    // test print's text is there; a stray trailing "C" is not the start of a test print.
    if (atEnd && have < cmd.header.size() && cmd.header[0] >= 0x20 && have < 16) {
        return span;
    }
    const size_t total = have < cmd.header.size() ? 0 : cmd.totalLength(at, have);
    span.complete = total != 0 && total <= have;
    span.length = span.complete ? total : have;
    return span;
}

// The first known command that the input at `at` begins with, or null.
const Known* FindCommand(const unsigned char* at, size_t have, bool atEnd, Span& span) {
    for (const Known& cmd : KnownCommands()) {
        span = Match(cmd, at, have, atEnd);
        if (span.length > 0) {
            return &cmd;
        }
    }
    return nullptr;
}

}  // namespace

uint32_t AddressAt(const unsigned char* at) {
    return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

bool SplitStationAddresses(const unsigned char* bytes,
                           size_t count,
                           uint32_t& ip,
                           uint32_t& mask,
                           uint32_t& gateway) {
    const std::string text(reinterpret_cast<const char*>(bytes), count);
    const size_t first = text.find(',');
    const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    const auto plain = [](const std::string& field, uint32_t& value) {
        return ParseAddress(field, value) && FormatAddress(value) == field;
    };
    return second != std::string::npos && text.find(',', second + 1) == std::string::npos &&
           plain(text.substr(0, first), ip) && plain(text.substr(first + 1, second - first - 1), mask) &&
           plain(text.substr(second + 1), gateway);
}

DecodeStep NextDecodeStep(const unsigned char* at, size_t have, bool atEnd) {
    DecodeStep step;
    Span span;
    const Known* found = have > 0 ? FindCommand(at, have, atEnd, span) : nullptr;
    if (found == nullptr) {
        step.kind = DecodeStep::Kind::Unknown;
        step.length = have > 0 ? 1 : 0;
    } else if (span.complete) {
        step.kind = DecodeStep::Kind::Command;
        step.name = found->name;
        step.length = span.length;
    } else {
        step.kind = atEnd ? DecodeStep::Kind::Truncated : DecodeStep::Kind::NeedMore;
        step.name = have >= found->header.size() ? found->name : nullptr;
        step.length = atEnd ? have : 0;
    }
    return step;
}

bool ReadHexText(const std::vector<unsigned char>& input, std::vector<unsigned char>& bytes) {
    std::vector<unsigned char> read;
    int high = -1;  // the first digit of a pair, while its second is awaited
    for (const unsigned char c : input) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit >= 0) {
            if (high < 0) {
                high = digit;
            } else {
                read.push_back(static_cast<unsigned char>(high * 16 + digit));
                high = -1;
            }
        } else if (high >= 0 || (c != ' ' && c != '\t' && c != '\r' && c != '\n')) {
            return false;  // half a pair, or a byte that is no part of hex text
        }
    }
    if (read.empty() || high >= 0) {
        return false;
    }
    bytes = std::move(read);
    return true;
}

std::vector<std::string> DecodeCommands(const std::vector<unsigned char>& bytes) {
    std::vector<std::string> lines;
    size_t unknownStart = 0;
    size_t unknownLength = 0;
    auto flushUnknown = [&] {
        if (unknownLength > 0) {
            lines.push_back("unknown: " + HexBytes(bytes.data() + unknownStart, unknownLength) + " (" +
                            std::to_string(unknownLength) + (unknownLength == 1 ? " byte" : " bytes") +
                            " that begin no known command)");
            unknownLength = 0;
        }
    };

    size_t pos = 0;
    while (pos < bytes.size()) {
        const unsigned char* at = bytes.data() + pos;
        const size_t have = bytes.size() - pos;
        Span span;
        const Known* found = FindCommand(at, have, true, span);
        if (found == nullptr) {
            if (unknownLength == 0) {
                unknownStart = pos;
            }
            ++unknownLength;
            ++pos;
            continue;
        }
        flushUnknown();
        if (!span.complete) {
            // Inside a header several commands may still fit, so only a whole header names one.
            const bool headerWhole = have >= found->header.size();
            const size_t total = headerWhole ? found->totalLength(at, have) : 0;
            std::string line = headerWhole ? "truncated " + std::string(found->name) + ": " : "truncated: ";
            line += HexBytes(at, have) + " (input ends after " + std::to_string(have) + " bytes";
            line += total > 0     ? " of " + std::to_string(total) + ")"
                    : headerWhole ? ", before the command's length bytes)"
                                  : ", inside a command's header)";
            lines.push_back(line);
            break;
        }
        lines.push_back(found->describe(at, span.length));
        pos += span.length;
    }
    flushUnknown();
    return lines;
}
