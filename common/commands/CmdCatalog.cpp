#include "commands/CmdCatalog.h"

namespace {

using K = FieldKind;

constexpr CmdField kLength{K::Length};

// Constant data only, fixed at compile time: the dialogs link it with their commands.
constexpr CmdRow kCatalog[] = {
    {"wifi-ap",
     "\x1f\x1a\x1f\x1b\x1f\x03\x0a\x0b\x0c",
     {{K::Choice, "mode", {"ap", "sta", "apsta"}}, kLength, {K::Text, "name"}},
     "wifi-ap"},
    {"wifi-station",
     "\x1f\x1a\x1f\x1b\x1f\x03\x07\x08\x09",
     {{K::Choice, "auth", {"open", "shared", "wpapsk", "wpa2psk"}},
      {K::Choice, "enc", {"none", "wep-h", "wep-a", "tkip", "aes"}},
      kLength,
      kLength,
      kLength,
      {K::Text, "ssid"},
      {K::Text, "password", {}, true},
      {K::Addresses, "address", {"ip", "mask", "gateway"}}},
     "wifi-station"},
    {"bt-name", "\x1f\x1b\x1f\xf0", {kLength, {K::Text}}, "bt-name"},
    {"bt-pin", "\x1f\x1b\x1f\x09", {kLength, {K::Text}}, "bt-pin"},
    {"lan-ip", "\x1f\x1b\x1d\x00", {{K::Address}}, "lan.ip"},
    {"lan-mask", "\x1f\x1b\x1d\x01", {{K::Address}}, "lan.mask"},
    {"lan-gateway", "\x1f\x1b\x1d\x02", {{K::Address}}, "lan.gateway"},
    {"lan-mac", "\x1f\x1b\x1d\x03\xbc\x20", {{K::MacTail}}, "lan.mac"},
    {"lan-dhcp", "\x1f\x1a\x1f\x1b\x1f\x1b\x08", {{K::Switch, nullptr, {"off", "on"}}}, "lan.dhcp"},
    // The test text, twelve CR LF pairs and the text's own terminator, which is sent too.
    {"test-print",
     "Congratulations that the printer is connect success,you can configure the printer now."
     "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\0",
     {},
     "counts.test-print"},
    {"cut", "\x1d\x56\x01", {}, "counts.cut"},
    {"open-drawer", "\x1b\x70\x00\x40\x50", {}, "counts.open-drawer"},
    {"factory-mode", "\x1f\x1a\x1b\x1c", {}, "counts.factory-mode"},
    {"hex-mode", "\x1f\x28\x41", {}, "counts.hex-mode"},
    {"wifi-factory", "\x1f\x1b\x1f\x11", {}, "counts.wifi-factory"},
    {"bt-read-pin", "\x1f\x1b\x1f\x0a", {}, "counts.bt-read-pin"},
    {"bt-check", "\x1f\x1b\x1f\x0b", {}, "counts.bt-check"},
    // The real-time status request DLE EOT n, which a printer answers at once with one byte.
    {"status-request", "\x10\x04", {{K::Byte, "n"}}, "counts.status-requests"},
};

static_assert(sizeof kCatalog / sizeof kCatalog[0] == static_cast<size_t>(CmdId::StatusRequest) + 1,
              "one row per command, in the order of CmdId");

// Each row fits the decoder: at most kMaxCmdFields fields, and a length byte for every text.
constexpr bool RowsFit() {
    for (const CmdRow& row : kCatalog) {
        size_t lengths = 0, texts = 0;
        for (const CmdField& field : row.fields) {
            lengths += field.kind == K::Length ? 1 : 0;
            texts += field.kind == K::Text || field.kind == K::Addresses ? 1 : 0;
        }
        if (row.fields.size() > kMaxCmdFields || lengths != texts) {
            return false;
        }
    }
    return true;
}

static_assert(RowsFit(), "every row fits the decoder");

}  // namespace

const CmdRow* CmdCatalog::begin() {
    return kCatalog;
}

const CmdRow* CmdCatalog::end() {
    return kCatalog + sizeof kCatalog / sizeof kCatalog[0];
}

const CmdRow& CmdRowOf(CmdId id) {
    return kCatalog[static_cast<size_t>(id)];
}
