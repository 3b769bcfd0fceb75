// The one description of the printer commands on the wire: each command's name, its header bytes
// and the fields that follow them. The encoders take their headers from it; decoding, the
// emulator's printer state and the hiding of passwords read every command through it.
#pragma once

#include <cstddef>
#include <initializer_list>

/// What one field after a command's header holds.
enum class FieldKind : unsigned char {
    Byte,       // a number 0-255
    Choice,     // a byte that picks one of `names` by its index; a byte past them has no name
    Switch,     // a byte: 0 off, 1 on
    Length,     // a byte that counts the bytes of a text: the first length byte the command's
                // first text, the second its second, and so on
    Text,       // text in the printer's code page, as many bytes as its length byte says
    Addresses,  // a counted text "ip,mask,gateway": the station's three addresses, named by `names`
    Address,    // an IPv4 address in four bytes, most significant first
    MacTail,    // the MAC address's last four bytes, most significant first
};

/// What a secret (a field whose `secret` is set) is shown as where it is hidden: decoded commands,
/// reports, the console's answers. It is never taken as a secret: a profile, an override, a
/// password file or a request that gives it is refused.
inline constexpr char kHiddenPassword[] = "(hidden)";

struct CmdField {
    FieldKind kind;
    const char* name = nullptr;                     // as tolctl names it; null: the command's one value
    std::initializer_list<const char*> names = {};  // Choice, Switch: the values' names, by value
    bool secret = false;                            // Text: a password, never shown unless asked for
};

/// The bytes every command of a kind begins with. Written as a string literal of hex escapes; the
/// literal's terminating 00 is not part of it.
struct CmdHeader {
    template <size_t N>
    constexpr CmdHeader(const char (&bytes)[N]) : data(bytes), size(N - 1) {}
    const unsigned char* Bytes() const { return reinterpret_cast<const unsigned char*>(data); }
    const char* data;
    size_t size;
};

/// Most fields a command has.
constexpr size_t kMaxCmdFields = 8;

/// One command: the header, then its fields in the order they are sent.
struct CmdRow {
    const char* name;  // as tolctl names it: "wifi-ap", "lan-ip", "status-request"
    CmdHeader header;
    std::initializer_list<CmdField> fields = {};
    /// Where the emulator's state file keeps it: "wifi-ap" (an object of the named fields),
    /// "bt-name", "lan.ip" (the one value); "counts.cut" for a command that only acts, which is
    /// counted.
    const char* state = nullptr;
};

/// The commands, in the catalogue's order.
enum class CmdId : unsigned char {
    WifiAp,
    WifiStation,
    BtName,
    BtPin,
    LanIp,
    LanMask,
    LanGateway,
    LanMac,
    LanDhcp,
    TestPrint,
    Cut,
    OpenDrawer,
    FactoryMode,
    HexMode,
    WifiFactory,
    BtReadPin,
    BtCheck,
    StatusRequest,
};

/// Every command: those that set something in the order the state file lists them, then those
/// that only act in the order of their counts.
struct CmdCatalog {
    static const CmdRow* begin();
    static const CmdRow* end();
};

const CmdRow& CmdRowOf(CmdId id);
