#include "commands/Decode.h"

#include <algorithm>
#include <cstdio>

#include "system/OemText.h"
#include "values/Values.h"

namespace {

// What one position of the input holds, seen from one kind of command.
struct Span {
    size_t length = 0;  // bytes the command takes; 0 when the header does not match
    bool complete = false;
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

// Bytes a field takes; 0 for a text, whose length byte tells.
size_t FixedSize(FieldKind kind) {
    switch (kind) {
        case FieldKind::Text:
        case FieldKind::Addresses:
            return 0;
        case FieldKind::Address:
        case FieldKind::MacTail:
            return 4;
        default:
            return 1;
    }
}

// The whole command's length, once the header and every length byte are there; 0 before.
size_t CommandLength(const CmdRow& row, const unsigned char* at, size_t have) {
    size_t length = row.header.size;
    size_t texts = 0;
    for (const CmdField& field : row.fields) {
        if (field.kind == FieldKind::Length) {
            if (length >= have) {
                return 0;
            }
            texts += at[length];
        }
        length += FixedSize(field.kind);
    }
    return length + texts;
}

// A field's value as decode shows it.
std::string Shown(const CmdField& field, FieldBytes value, bool hideSecrets) {
    switch (field.kind) {
        case FieldKind::Text:
            return field.secret && hideSecrets && value.size > 0 ? kHiddenPassword
                                                                 : Quoted(value.at, value.size);
        case FieldKind::Address:
        case FieldKind::MacTail:
            return FormatAddress(AddressAt(value.at));
        default:
            return std::to_string(value.at[0]);
    }
}

// The command's line: its name and each field but the length bytes, in the order sent.
std::string Describe(const CmdRow& row, const unsigned char* at, bool hideSecrets) {
    std::string line = row.name;
    const CmdFieldBytes bytes = LocateFields(row, at);
    const FieldBytes* value = bytes.data();
    for (const CmdField& field : row.fields) {
        const FieldBytes b = *value++;
        uint32_t addresses[3];
        if (field.kind == FieldKind::Length) {
            continue;
        } else if (field.kind != FieldKind::Addresses) {
            line += std::string(" ") + (field.name != nullptr ? field.name + std::string("=") : "") +
                    Shown(field, b, hideSecrets);
        } else if (SplitStationAddresses(b.at, b.size, addresses[0], addresses[1], addresses[2])) {
            const uint32_t* address = addresses;
            for (const char* name : field.names) {
                line += std::string(" ") + name + "=" + FormatAddress(*address++);
            }
        } else {
            line += std::string(" ") + field.name + "=" + Quoted(b.at, b.size);  // kept whole
        }
    }
    return line;
}

// Does the input at `at` (with `have` bytes left) begin with this command's header?
// A header cut by the end of the input counts as a truncated match.
Span Match(const CmdRow& row, const unsigned char* at, size_t have, bool atEnd) {
    Span span;
    const unsigned char* header = row.header.Bytes();
    const size_t size = row.header.size;
    if (at[0] != header[0]) {
        return span;  // the common case, decided without comparing the whole header
    }
    if (!std::equal(header, header + std::min(have, size), at)) {
        return span;
    }
    // A cut header only counts when it starts with a control byte, or when enough of the
    // test print's text is there; a stray trailing "C" is not the start of a test print.
    if (atEnd && have < size && header[0] >= 0x20 && have < 16) {
        return span;
    }
    const size_t total = have < size ? 0 : CommandLength(row, at, have);
    span.complete = total != 0 && total <= have;
    span.length = span.complete ? total : have;
    return span;
}

// The first command of the catalogue that the input at `at` begins with, or null.
const CmdRow* FindCommand(const unsigned char* at, size_t have, bool atEnd, Span& span) {
    for (const CmdRow& row : CmdCatalog()) {
        span = Match(row, at, have, atEnd);
        if (span.length > 0) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

CmdFieldBytes LocateFields(const CmdRow& row, const unsigned char* command) {
    CmdFieldBytes fields{};
    size_t lengths[kMaxCmdFields] = {};
    size_t counted = 0, texts = 0, pos = row.header.size, i = 0;
    for (const CmdField& field : row.fields) {
        size_t size = FixedSize(field.kind);
        if (field.kind == FieldKind::Length) {
            lengths[counted++] = command[pos];
        } else if (size == 0) {
            size = lengths[texts++];
        }
        fields.at(i++) = FieldBytes{command + pos, size};
        pos += size;
    }
    return fields;
}

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
    const CmdRow* found = have > 0 ? FindCommand(at, have, atEnd, span) : nullptr;
    if (found == nullptr) {
        step.kind = DecodeStep::Kind::Unknown;
        step.length = have > 0 ? 1 : 0;
    } else if (span.complete) {
        step.kind = DecodeStep::Kind::Command;
        step.name = found->name;
        step.row = found;
        step.length = span.length;
    } else {
        step.kind = atEnd ? DecodeStep::Kind::Truncated : DecodeStep::Kind::NeedMore;
        step.row = have >= found->header.size ? found : nullptr;
        step.name = step.row != nullptr ? found->name : nullptr;
        step.length = atEnd ? have : 0;
    }
    return step;
}

bool ReadHexText(const std::vector<unsigned char>& input, std::vector<unsigned char>& bytes, bool* hidden) {
    std::vector<unsigned char> read;
    bool anyHidden = false;
    int high = -1;  // the first digit of a pair, while its second is awaited; kStar for '*'
    constexpr int kStar = 16;
    for (const unsigned char c : input) {
        const int digit = c >= '0' && c <= '9'            ? c - '0'
                          : c >= 'a' && c <= 'f'          ? c - 'a' + 10
                          : c >= 'A' && c <= 'F'          ? c - 'A' + 10
                          : c == '*' && hidden != nullptr ? kStar
                                                          : -1;
        if (digit >= 0) {
            if (high < 0) {
                high = digit;
            } else if ((high == kStar) != (digit == kStar)) {
                return false;  // "*4": neither a byte nor a hidden one
            } else {
                // "**" is a byte of a password that --dry-run hid: it stands in as '*'.
                anyHidden = anyHidden || digit == kStar;
                read.push_back(digit == kStar ? '*' : static_cast<unsigned char>(high * 16 + digit));
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
    if (hidden != nullptr) {
        *hidden = anyHidden;
    }
    return true;
}

std::vector<std::string> DecodeCommands(const std::vector<unsigned char>& bytes, bool hideSecrets) {
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
        const CmdRow* found = FindCommand(at, have, true, span);
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
            const bool headerWhole = have >= found->header.size;
            const size_t total = headerWhole ? CommandLength(*found, at, have) : 0;
            std::string line = headerWhole ? "truncated " + std::string(found->name) + ": " : "truncated: ";
            line += HexBytes(at, have) + " (input ends after " + std::to_string(have) + " bytes";
            line += total > 0     ? " of " + std::to_string(total) + ")"
                    : headerWhole ? ", before the command's length bytes)"
                                  : ", inside a command's header)";
            lines.push_back(line);
            break;
        }
        lines.push_back(Describe(*found, at, hideSecrets));
        pos += span.length;
    }
    flushUnknown();
    return lines;
}
