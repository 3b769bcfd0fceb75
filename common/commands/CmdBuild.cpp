#include "commands/CmdBuild.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "commands/Commands.h"
#include "system/OemText.h"
#include "values/Values.h"

namespace {

// The value names of the field of `id` called `name` (null: the command's one value).
std::initializer_list<const char*> NamesOf(CmdId id, const char* name) {
    for (const CmdField& field : CmdRowOf(id).fields) {
        if (field.name == name ||
            (field.name != nullptr && name != nullptr && std::strcmp(field.name, name) == 0)) {
            return field.names;
        }
    }
    return {};
}

template <typename C>
std::unique_ptr<Cmd> Make() {
    return std::unique_ptr<Cmd>(new C());
}

}  // namespace

WideString Utf8Value(const std::string& place, const std::string& utf8, bool secret) {
    WideString wide;
    if (!Utf8ToWide(utf8, wide)) {
        throw Refusal{place + " is not valid UTF-8"};
    }
    // A line break or other control character would reach the printer inside the field (from a
    // spreadsheet's cell, say): text values hold printable characters only.
    for (const wchar_t c : wide) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            throw Refusal{place + " holds a control character (" + code +
                          (c == '\n' || c == '\r' ? ", a line break"
                           : c == '\t'            ? ", a tab"
                                                  : "") +
                          "); only printable characters can be sent"};
        }
    }
    const WideString unwritable = UnwritableCharacters(wide);
    if (!unwritable.empty()) {
        throw Refusal{place + ": " +
                      (secret ? std::string("it holds characters") : "'" + WideToUtf8(unwritable) + "'") +
                      " that code page " + OemCodePageName() +
                      " cannot write; they would reach the printer as other characters"};
    }
    return wide;
}

WideString CheckedText(CmdTextField field, const std::string& place, const std::string& utf8) {
    WideString wide = Utf8Value(place, utf8);
    const bool bluetooth = field == CmdTextField::BtName || field == CmdTextField::BtPin;
    if (bluetooth && wide.size() > static_cast<size_t>(kMaxBtTextUnits)) {
        // The command would cut it; a name or PIN that is not the one given is refused instead.
        throw Refusal{place + ": The " + CmdTextFieldName(field) + " has " + std::to_string(wide.size()) +
                      " characters; at most " + std::to_string(kMaxBtTextUnits) + " fit."};
    }
    if (field == CmdTextField::BtPin && wide.empty()) {
        throw Refusal{place + ": the Bluetooth PIN is empty"};
    }
    const std::string problem = CheckCmdText(field, wide);
    if (!problem.empty()) {
        throw Refusal{place + ": " + problem};
    }
    return wide;
}

uint32_t AddressValue(const std::string& place, const std::string& text) {
    uint32_t value = 0;
    if (!ParseAddress(text, value)) {
        const std::string zeros = LeadingZerosProblem(text);
        throw Refusal{place + ": " +
                      (!zeros.empty()
                           ? zeros
                           : ShownText(text) + " is not an IPv4 address (four decimal fields 0-255, like "
                                               "192.168.1.100)")};
    }
    return value;
}

uint32_t HostAddressValue(const std::string& place, const std::string& text) {
    const uint32_t value = AddressValue(place, text);
    if (value == 0 || value == 0xFFFFFFFFu) {
        throw Refusal{place + ": " + FormatAddress(value) + " cannot be a printer's address"};
    }
    return value;
}

uint32_t MaskValue(const std::string& place, const std::string& text) {
    const uint32_t value = AddressValue(place, text);
    // The one-bits first, then only zeros: ~value + 1 is then a power of two (or zero).
    const uint32_t hostPart = ~value;
    if ((hostPart & (hostPart + 1)) != 0) {
        throw Refusal{place + ": " + FormatAddress(value) +
                      " is not a subnet mask (its one-bits must come first, like 255.255.255.0)"};
    }
    return value;
}

void CheckAddressInNetwork(const std::string& place, uint32_t address, uint32_t mask) {
    const uint32_t hostPart = ~mask;
    // A /31 or /32 has no network or broadcast address of its own to avoid.
    if (hostPart < 3) {
        return;
    }
    const uint32_t host = address & hostPart;
    if (host == 0 || host == hostPart) {
        throw Refusal{place + ": " + FormatAddress(address) + " is the " +
                      (host == 0 ? "network" : "broadcast") + " address of its network " +
                      FormatAddress(address & mask) + " with mask " + FormatAddress(mask) +
                      ", not a printer's"};
    }
}

uint32_t MacValue(const std::string& place, const std::string& text) {
    uint32_t value = 0;
    if (!ParseMacTail(text, value)) {
        const std::string zeros = LeadingZerosProblem(text);
        throw Refusal{
            place + ": " +
            (!zeros.empty() ? zeros : ShownText(text) + " is not four bytes (158.34.86.28 or 9E:22:56:1C)")};
    }
    return value;
}

int ChoiceValue(const std::string& place, const std::string& text, std::initializer_list<const char*> names) {
    const int index = ParseChoice(text, names);
    if (index < 0) {
        std::string allowed;
        for (const char* name : names) {
            allowed += (allowed.empty() ? "" : "|") + std::string(name);
        }
        throw Refusal{place + ": " + ShownText(text) + " is not one of " + allowed + " (or 0-" +
                      std::to_string(names.size() - 1) + ")"};
    }
    return index;
}

int SwitchValue(const std::string& place, const std::string& text, std::initializer_list<const char*> names) {
    // As JSON writes a switch, too.
    const int truth = ParseChoice(text, {kSwitchJsonWords[0], kSwitchJsonWords[1]});
    if (truth >= 0 && text.find_first_not_of("0123456789") != std::string::npos) {
        return truth;
    }
    try {
        return ChoiceValue(place, text, names);
    } catch (const Refusal&) {
        std::string allowed;
        for (const char* name : names) {
            allowed += std::string(name) + "|";
        }
        throw Refusal{place + ": " + ShownText(text) + " is not one of " + allowed + kSwitchJsonWords[0] +
                      "|" + kSwitchJsonWords[1] + " (or 0-" + std::to_string(names.size() - 1) + ")"};
    }
}

void CheckGateway(const std::string& place, uint32_t gateway, uint32_t address, uint32_t mask) {
    if (gateway == 0) {
        return;
    }
    const std::string network = FormatAddress(address & mask) + " with mask " + FormatAddress(mask);
    const uint32_t hostPart = ~mask;
    const uint32_t host = gateway & hostPart;
    std::string problem;
    if (gateway == address) {
        problem = "is the printer's own address";
    } else if ((gateway & mask) != (address & mask)) {
        problem = "is outside the printer's network " + network;
    } else if (hostPart >= 3 && (host == 0 || host == hostPart)) {
        problem = std::string("is the ") + (host == 0 ? "network" : "broadcast") +
                  " address of the network " + network;
    }
    if (!problem.empty()) {
        throw Refusal{place + ": " + FormatAddress(gateway) + " " + problem +
                      "; a gateway is another address in the printer's network (or 0.0.0.0 for none)"};
    }
}

std::unique_ptr<Cmd> BuildStationCmd(int auth,
                                     int enc,
                                     const WideString& ssid,
                                     const WideString& password,
                                     uint32_t ip,
                                     uint32_t mask,
                                     uint32_t gateway,
                                     const StationPlaces& places) {
    if (ssid.empty()) {
        throw Refusal{places.ssid + ": the network name is empty"};
    }
    // WPA and WPA2 personal take a passphrase of 8-63 characters; open and shared networks take
    // none or a WEP key, whose lengths are left to the printer.
    const size_t length = password.size();
    if (auth >= kFirstPassphraseAuth && (length < kMinPassphrase || length > kMaxPassphrase)) {
        throw Refusal{places.password + ": " + NamesOf(CmdId::WifiStation, "auth").begin()[auth] +
                      " needs a passphrase of " + std::to_string(kMinPassphrase) + "-" +
                      std::to_string(kMaxPassphrase) + " characters, not " + std::to_string(length) +
                      (password.empty() ? " (give one, or choose auth open)" : "")};
    }
    CheckAddressInNetwork(places.ip, ip, mask);
    CheckGateway(places.gateway, gateway, ip, mask);
    const StationText st = BuildStationText(ssid, password, ip, mask, gateway);
    const std::string problem = CheckCmdText(CmdTextField::StationText, st.text);
    if (!problem.empty()) {
        throw Refusal{places.text + ": " + problem};
    }
    return std::unique_ptr<Cmd>(
        new WifiTestParaCmd(auth, enc, st.nameLength, st.passwordLength, st.addressLength, st.text));
}

const std::vector<FixedCmdInfo>& FixedCmds() {
    // The names are the catalogue's.
    static const std::vector<FixedCmdInfo> list = {
        {CmdRowOf(CmdId::TestPrint).name, "Print the connection-test text", Make<PrintTestCmd>},
        {CmdRowOf(CmdId::Cut).name, "Cut the paper", Make<CutPaper>},
        {CmdRowOf(CmdId::OpenDrawer).name, "Pulse the cash drawer", Make<OpenCashBoxCmd>},
        {CmdRowOf(CmdId::FactoryMode).name, "Switch the printer into factory mode", Make<FacModeCmd>},
        {CmdRowOf(CmdId::HexMode).name, "Switch the printer into hex-dump mode", Make<HexModeCmd>},
        {CmdRowOf(CmdId::WifiFactory).name, "Return the Wi-Fi module to factory settings",
         Make<WifiRefacCmd>},
        {CmdRowOf(CmdId::BtReadPin).name, "Ask the Bluetooth module for its PIN", Make<ReadPinCmd>},
        {CmdRowOf(CmdId::BtCheck).name, "Ask the Bluetooth module to check its link", Make<CheckSpeedCmd>},
    };
    return list;
}

std::unique_ptr<Cmd> MakeFixedCmd(const std::string& name) {
    for (const FixedCmdInfo& info : FixedCmds()) {
        if (name == info.name) {
            return info.make();
        }
    }
    return nullptr;
}
