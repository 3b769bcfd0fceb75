#include "tests/tolctl/DecodedBytes.h"

#include <cstdint>

#include "commands/Commands.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A reader over one line.
class Cursor {
  public:
    explicit Cursor(const std::string& line) : m_line(line) {}

    bool Eat(const std::string& literal) {
        if (m_line.compare(m_pos, literal.size(), literal) != 0) {
            return false;
        }
        m_pos += literal.size();
        return true;
    }
    bool End() const { return m_pos == m_line.size(); }
    bool Letter() {
        if (m_pos < m_line.size() && m_line[m_pos] >= 'a' && m_line[m_pos] <= 'z') {
            ++m_pos;
            return true;
        }
        return false;
    }

    // A decimal number written the plain way ("0", "17", never "017").
    bool Number(uint64_t& value) {
        const size_t start = m_pos;
        value = 0;
        while (m_pos < m_line.size() && m_line[m_pos] >= '0' && m_line[m_pos] <= '9' && value < 1000000) {
            value = value * 10 + static_cast<uint64_t>(m_line[m_pos++] - '0');
        }
        return m_pos > start && !(m_line[start] == '0' && m_pos - start > 1);
    }
    bool Byte(unsigned char& value) {
        uint64_t number = 0;
        if (!Number(number) || number > 255) {
            return false;
        }
        value = static_cast<unsigned char>(number);
        return true;
    }
    bool Address(Bytes& out) {
        for (int i = 0; i < 4; ++i) {
            unsigned char byte = 0;
            if ((i > 0 && !Eat(".")) || !Byte(byte)) {
                return false;
            }
            out.push_back(byte);
        }
        return true;
    }
    // Two hex digits per byte, single blanks between them.
    bool Hex(Bytes& out) {
        size_t count = 0;
        int value = 0;
        while (HexPair(m_pos + (count > 0 ? 1 : 0), value)) {
            m_pos += count > 0 ? 3 : 2;
            out.push_back(static_cast<unsigned char>(value));
            ++count;
            if (m_pos >= m_line.size() || m_line[m_pos] != ' ') {
                break;
            }
        }
        return count > 0;
    }
    // A double-quoted text with \" \\ and \xNN escapes, converted to the OEM code page; `length`
    // gets its byte count, which the commands send in one byte.
    bool Text(Bytes& out, unsigned char& length) {
        if (!Eat("\"")) {
            return false;
        }
        std::string utf8;
        while (m_pos < m_line.size() && m_line[m_pos] != '"') {
            char c = m_line[m_pos++];
            if (c == '\\') {
                if (Eat("\\") || Eat("\"")) {
                    c = m_line[m_pos - 1];
                } else if (Eat("x")) {
                    int value = 0;
                    if (!HexPair(m_pos, value)) {
                        return false;
                    }
                    m_pos += 2;
                    c = static_cast<char>(value);
                } else {
                    return false;
                }
            }
            utf8 += c;
        }
        WideString wide;
        if (!Eat("\"") || !Utf8ToWide(utf8, wide)) {
            return false;
        }
        Bytes oem(wide.size() * 4 + 1);
        const int count = ConvertToOem(wide, oem.data(), static_cast<int>(oem.size()));
        if (count > 255) {
            return false;
        }
        length = static_cast<unsigned char>(count);
        out.insert(out.end(), oem.begin(), oem.begin() + count);
        return true;
    }

  private:
    bool HexPair(size_t at, int& value) const {
        value = 0;
        for (size_t i = at; i < at + 2; ++i) {
            const char c = i < m_line.size() ? m_line[i] : '\0';
            const int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
            if (digit < 0) {
                return false;
            }
            value = value * 16 + digit;
        }
        return true;
    }

    const std::string& m_line;
    size_t m_pos = 0;
};

Bytes Of(const Cmd& cmd) {
    return Bytes(cmd.GetData(), cmd.GetData() + cmd.GetLength());
}

// "... (N bytes ..." / "(N byte ..." with N the number of hex bytes before it.
bool CountMatches(Cursor& cursor, const char* lead, size_t count) {
    uint64_t stated = 0;
    return cursor.Eat(lead) && cursor.Number(stated) && stated == count &&
           cursor.Eat(count == 1 ? " byte" : " bytes");
}

bool RebuildLine(const std::string& line, bool last, Bytes& out) {
    static const std::pair<const char*, Bytes> fixed[] = {
        {"test-print", Of(PrintTestCmd())},    {"cut", Of(CutPaper())},
        {"open-drawer", Of(OpenCashBoxCmd())}, {"factory-mode", Of(FacModeCmd())},
        {"hex-mode", Of(HexModeCmd())},        {"wifi-factory", Of(WifiRefacCmd())},
        {"bt-read-pin", Of(ReadPinCmd())},     {"bt-check", Of(CheckSpeedCmd())},
    };
    for (const auto& command : fixed) {
        if (line == command.first) {
            out.insert(out.end(), command.second.begin(), command.second.end());
            return true;
        }
    }

    Cursor c(line);
    Bytes bytes;
    unsigned char mode = 0, length = 0;
    if (c.Eat("wifi-ap mode=")) {
        Bytes name;
        if (!c.Byte(mode) || !c.Eat(" name=") || !c.Text(name, length) || !c.End()) {
            return false;
        }
        bytes = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x0A, 0x0B, 0x0C, mode, length};
        bytes.insert(bytes.end(), name.begin(), name.end());
    } else if (c.Eat("wifi-station auth=")) {
        unsigned char auth = 0, enc = 0, ssidLength = 0, passwordLength = 0, addressLength = 0;
        Bytes ssid, password, address;
        if (!c.Byte(auth) || !c.Eat(" enc=") || !c.Byte(enc) || !c.Eat(" ssid=") ||
            !c.Text(ssid, ssidLength) || !c.Eat(" password=") || !c.Text(password, passwordLength) ||
            !c.Eat(" ")) {
            return false;
        }
        if (c.Eat("ip=")) {
            Bytes fields[3];
            if (!c.Address(fields[0]) || !c.Eat(" mask=") || !c.Address(fields[1]) || !c.Eat(" gateway=") ||
                !c.Address(fields[2])) {
                return false;
            }
            for (const Bytes& f : fields) {
                const std::string text = std::to_string(f[0]) + "." + std::to_string(f[1]) + "." +
                                         std::to_string(f[2]) + "." + std::to_string(f[3]);
                address.insert(address.end(), text.begin(), text.end());
                address.push_back(',');
            }
            address.pop_back();
            addressLength = static_cast<unsigned char>(address.size());
        } else if (!c.Eat("address=") || !c.Text(address, addressLength)) {
            return false;
        }
        if (!c.End()) {
            return false;
        }
        bytes = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F,       0x03,           0x07,
                 0x08, 0x09, auth, enc,  ssidLength, passwordLength, addressLength};
        for (const Bytes* part : {&ssid, &password, &address}) {
            bytes.insert(bytes.end(), part->begin(), part->end());
        }
    } else if (c.Eat("status-request n=")) {
        if (!c.Byte(mode) || !c.End()) {
            return false;
        }
        bytes = {0x10, 0x04, mode};
    } else if (c.Eat("lan-dhcp ")) {
        if (!c.Byte(mode) || !c.End()) {
            return false;
        }
        bytes = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x1B, 0x08, mode};
    } else if (c.Eat("bt-name ") || c.Eat("bt-pin ")) {
        Bytes text;
        if (!c.Text(text, length) || !c.End()) {
            return false;
        }
        bytes = {0x1F, 0x1B, 0x1F, static_cast<unsigned char>(line[3] == 'n' ? 0xF0 : 0x09), length};
        bytes.insert(bytes.end(), text.begin(), text.end());
    } else if (c.Eat("lan-ip ") || c.Eat("lan-mask ") || c.Eat("lan-gateway ") || c.Eat("lan-mac ")) {
        const char kind = line[4];  // i, m(ask), g, m(ac)
        bytes = {0x1F, 0x1B, 0x1D};
        if (line.compare(0, 8, "lan-mac ") == 0) {
            bytes.insert(bytes.end(), {0x03, 0xBC, 0x20});
        } else {
            bytes.push_back(kind == 'i' ? 0x00 : kind == 'm' ? 0x01 : 0x02);
        }
        if (!c.Address(bytes) || !c.End()) {
            return false;
        }
    } else if (c.Eat("unknown: ")) {
        if (!c.Hex(bytes) || !CountMatches(c, " (", bytes.size()) ||
            !c.Eat(" that begin no known command)") || !c.End()) {
            return false;
        }
    } else if (c.Eat("truncated")) {
        // Only the end of the input can cut a command short.
        if (!last) {
            return false;
        }
        if (c.Eat(" ")) {
            // The command's name, when its whole header is there.
            while (!c.End() && !c.Eat(":")) {
                if (!(c.Eat("-") || c.Letter())) {
                    return false;
                }
            }
            if (!c.Eat(" ")) {
                return false;
            }
        } else if (!c.Eat(": ")) {
            return false;
        }
        if (!c.Hex(bytes) || !CountMatches(c, " (input ends after ", bytes.size())) {
            return false;
        }
    } else {
        return false;
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

}  // namespace

bool RebuildDecodedBytes(const std::vector<std::string>& lines,
                         std::vector<unsigned char>& bytes,
                         std::string& problem) {
    bytes.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!RebuildLine(lines[i], i + 1 == lines.size(), bytes)) {
            problem = "line " + std::to_string(i + 1) + " does not stand for exact bytes: " + lines[i];
            return false;
        }
    }
    return true;
}
