#include "commands/SettingRegistry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "commands/CmdBuild.h"
#include "commands/Commands.h"
#include "values/Values.h"

namespace {

using K = SettingKind;

// The texts and their lengths.
constexpr TextSize kApName{CmdTextField::ApName, 0, kMaxApNameUnits};
constexpr TextSize kBtName{CmdTextField::BtName, 0, kMaxBtTextUnits};
constexpr TextSize kBtPin{CmdTextField::BtPin, 1, kMaxBtTextUnits};
constexpr TextSize kNetworkName{CmdTextField::StationText, 1, kMaxStationTextUnits};
constexpr TextSize kPassphrase{CmdTextField::StationText,
                               0,
                               kMaxStationTextUnits,
                               "auth",
                               kFirstPassphraseAuth,
                               kMinPassphrase,
                               kMaxPassphrase};

template <typename C, typename... A>
std::unique_ptr<Cmd> Make(A&&... args) {
    return std::unique_ptr<Cmd>(new C(std::forward<A>(args)...));
}

// The encoders: what each command sends, from its settings' values.

std::unique_ptr<Cmd> SendsAccessPoint(const SettingArgs& a) {
    return Make<SetAPParaCmd>(a.Index("mode"), static_cast<int>(a.Text("name").size()), a.Text("name"));
}

std::unique_ptr<Cmd> SendsBtName(const SettingArgs& a) {
    return Make<SetBtNameCmd>(a.Text());
}

std::unique_ptr<Cmd> SendsBtPin(const SettingArgs& a) {
    return Make<SetBtPinCmd>(a.Text());
}

// "wifi-station.ssid/password" from "wifi-station.ssid" and "wifi-station.password"; "--ssid/--password".
std::string BothPlaces(const std::string& first, const std::string& second) {
    const size_t dot = first.find('.');
    const bool sameGroup = dot != std::string::npos && second.compare(0, dot + 1, first, 0, dot + 1) == 0;
    return first + "/" + (sameGroup ? second.substr(dot + 1) : second);
}

std::unique_ptr<Cmd> SendsStation(const SettingArgs& a) {
    return BuildStationCmd(
        a.Index("auth"), a.Index("enc"), a.Text("ssid"), a.Text("password"), a.Number("ip"), a.Number("mask"),
        a.Number("gateway"),
        StationPlaces{a.Place("ssid"), a.Place("password"), a.Place("ip"), a.Place("gateway"),
                      BothPlaces(a.Place("ssid"), a.Place("password"))});
}

std::unique_ptr<Cmd> SendsLanIp(const SettingArgs& a) {
    return Make<SetIPCmd>(a.Number());
}

std::unique_ptr<Cmd> SendsLanMask(const SettingArgs& a) {
    return Make<SetMASKCmd>(a.Number());
}

std::unique_ptr<Cmd> SendsLanGateway(const SettingArgs& a) {
    return Make<SetGATECmd>(a.Number());
}

std::unique_ptr<Cmd> SendsLanMac(const SettingArgs& a) {
    return Make<SetMACCmd>(a.Number());
}

std::unique_ptr<Cmd> SendsLanDhcp(const SettingArgs& a) {
    return Make<SetLanDHCPCmd>(a.Index());
}

// Constant data, fixed at compile time. The order of the commands is the profile's, and the
// order in which each SendPlace sends them.
constexpr SettingCmdRow kRegistry[] = {
    {CmdId::WifiAp,
     "Set the access point name and the Wi-Fi mode",
     "Access point",
     SendPlace::Keeps,
     SendsAccessPoint,
     {{"wifi-ap.name", "name", K::Text, "Name", "access point name", true, nullptr, "Shop Printer", nullptr,
       kApName},
      {"wifi-ap.mode",
       "mode",
       K::Choice,
       "Mode",
       "Wi-Fi mode",
       false,
       "ap",
       "apsta",
       "To join a network (wifi-station), the mode is sta or apsta.",
       {},
       {"its own access point only", "only joins the network of wifi-station", "both"}}}},
    {CmdId::BtName,
     "Set the Bluetooth name",
     "Bluetooth",
     SendPlace::Keeps,
     SendsBtName,
     {{"bt-name", nullptr, K::Text, "Name", "Bluetooth name", true, nullptr, "Printer", nullptr, kBtName}}},
    {CmdId::BtPin,
     "Set the Bluetooth PIN",
     "Bluetooth",
     SendPlace::Keeps,
     SendsBtPin,
     {{"bt-pin", nullptr, K::Text, "PIN", "Bluetooth PIN", true, nullptr, "6042", nullptr, kBtPin}}},
    {CmdId::WifiStation,
     "Set the Wi-Fi network the printer joins",
     "Wi-Fi network",
     SendPlace::Keeps,
     SendsStation,
     {{"wifi-station.ssid", "ssid", K::Text, "Network (SSID)", "network name", true, nullptr, "Shop", nullptr,
       kNetworkName},
      {"wifi-station.password", "password", K::Text, "Password", "password", false, "", "change-me", nullptr,
       kPassphrase},
      {"wifi-station.password-file", "password-file", K::SecretFile, "Password file",
       "a file holding the password (- for standard input), so that it is in no profile, process list or "
       "shell history; one trailing line end is removed",
       false, nullptr, nullptr,
       "In place of password, \"password-file\": \"wifi.pw\" reads it from a file beside the profile, so "
       "that it is not in the profile."},
      {"wifi-station.auth", "auth", K::Choice, "Security", "authentication", false, "wpa2psk", "wpa2psk"},
      {"wifi-station.enc", "enc", K::Choice, "Encryption", "encryption", false, "aes", "aes"},
      {"wifi-station.ip", "ip", K::HostAddress, "Address", "the printer's static address in that network",
       true, nullptr, "192.168.1.200",
       "An address of its own for each printer: give it in the targets file, e.g. socket://192.168.1.51 "
       "wifi-station.ip=192.168.1.201"},
      {"wifi-station.mask", "mask", K::Mask, "Mask", "subnet mask", false, "255.255.255.0", "255.255.255.0"},
      {"wifi-station.gateway", "gateway", K::Address, "Gateway", "gateway address", true, nullptr,
       "192.168.1.1"}}},
    {CmdId::LanIp,
     "Set the Ethernet address",
     "Ethernet",
     SendPlace::Moves,
     SendsLanIp,
     {{"lan.ip", nullptr, K::HostAddress, "Address", "Ethernet address", true, nullptr, nullptr}}},
    {CmdId::LanMask,
     "Set the Ethernet subnet mask",
     "Ethernet",
     SendPlace::Keeps,
     SendsLanMask,
     {{"lan.mask", nullptr, K::Mask, "Mask", "Ethernet subnet mask", true, nullptr, "255.255.255.0"}}},
    {CmdId::LanGateway,
     "Set the Ethernet gateway",
     "Ethernet",
     SendPlace::Keeps,
     SendsLanGateway,
     {{"lan.gateway", nullptr, K::Address, "Gateway", "Ethernet gateway", true, nullptr, "192.168.1.1"}}},
    {CmdId::LanMac,
     "Set the last four bytes of the Ethernet MAC (BC 20 fixed)",
     "Ethernet",
     SendPlace::Keeps,
     SendsLanMac,
     {{"lan.mac", nullptr, K::MacTail, "MAC (last 4)", "the MAC address's last four bytes (BC 20 are fixed)",
       true, nullptr, nullptr}}},
    {CmdId::LanDhcp,
     "Switch DHCP of the Ethernet port on or off",
     "Ethernet",
     SendPlace::Moves,
     SendsLanDhcp,
     {{"lan.dhcp", nullptr, K::Switch, "DHCP", "DHCP of the Ethernet port", true, nullptr, "false"}}},
};

// The commands sent after the settings: a setting of no command of its own.
constexpr SettingRow kAfter{
    "after", nullptr, K::Commands,     "Then send", "commands sent after the settings, in the order given",
    false,   nullptr, "test-print,cut"};

constexpr SettingGroupRow kGroups[] = {
    {"wifi-ap", "The printer's own access point", nullptr},
    {"wifi-station", "The network the printer joins", nullptr},
    {"lan", "The Ethernet port",
     "ip and mac belong to one printer each: give them in the targets file (lan.ip=..., lan.mac=...)."},
};

// The catalogue field that `setting` is (null: none, as for a setting of a made-up command).
const CmdField* FieldOf(const SettingRef& setting) {
    if (setting.cmd == nullptr) {
        return nullptr;
    }
    const char* option = setting->option;
    for (const CmdField& field : CmdRowOf(setting.cmd->id).fields) {
        if (field.kind == FieldKind::Length) {
            continue;
        }
        if (option == nullptr ? field.name == nullptr
                              : field.name != nullptr && std::strcmp(field.name, option) == 0) {
            return &field;
        }
        for (const char* name :
             field.kind == FieldKind::Addresses ? field.names : std::initializer_list<const char*>{}) {
            if (option != nullptr && std::strcmp(name, option) == 0) {
                return &field;  // one of the station's three addresses
            }
        }
    }
    return nullptr;
}

std::initializer_list<const char*> CatalogueNames(const SettingRef& setting) {
    const CmdField* field = FieldOf(setting);
    return field != nullptr && (field->kind == FieldKind::Choice || field->kind == FieldKind::Switch)
               ? field->names
               : std::initializer_list<const char*>{};
}

// "a, b or c", each word between `quote`s.
std::string Listed(const std::vector<std::string>& words, const char* quote, const char* last = " or ") {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + (quote + words[i] + quote);
    }
    return text;
}

std::string Capitalized(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

}  // namespace

const SettingArgs::Value& SettingArgs::Find(const char* option) const {
    for (const Value& value : m_values) {
        const char* own = value.row->option;
        if (option == nullptr ? own == nullptr : own != nullptr && std::strcmp(own, option) == 0) {
            return value;
        }
    }
    static const Value none;
    return none;  // the encoder asked for a setting its command does not have
}

const SettingCmdRow* SettingRegistry::begin() {
    return kRegistry;
}

const SettingCmdRow* SettingRegistry::end() {
    return kRegistry + sizeof kRegistry / sizeof kRegistry[0];
}

const SettingGroupRow* FindSettingGroup(const std::string& name) {
    for (const SettingGroupRow& group : kGroups) {
        if (name == group.name) {
            return &group;
        }
    }
    return nullptr;
}

const char* SettingCmdName(const SettingCmdRow& cmd) {
    return cmd.name != nullptr ? cmd.name : CmdRowOf(cmd.id).name;
}

const std::vector<SettingRef>& AllSettings() {
    static const std::vector<SettingRef> all = [] {
        std::vector<SettingRef> list;
        for (const SettingCmdRow& cmd : SettingRegistry()) {
            for (const SettingRow& row : cmd.settings) {
                list.push_back(SettingRef{&row, &cmd});
            }
        }
        list.push_back(SettingRef{&kAfter, nullptr});
        return list;
    }();
    return all;
}

const SettingRef* FindSetting(const std::string& key) {
    for (const SettingRef& setting : AllSettings()) {
        if (key == setting->key) {
            return &setting;
        }
    }
    return nullptr;
}

std::vector<SettingRef> SettingsOf(const SettingCmdRow& cmd) {
    std::vector<SettingRef> list;
    for (const SettingRow& row : cmd.settings) {
        list.push_back(SettingRef{&row, &cmd});
    }
    return list;
}

std::vector<std::string> SettingChoices(const SettingRef& setting) {
    std::vector<std::string> names;
    if (setting->kind == K::Commands) {
        for (const FixedCmdInfo& info : FixedCmds()) {
            names.push_back(info.name);
        }
    }
    for (const char* name : CatalogueNames(setting)) {
        names.push_back(name);
    }
    return names;
}

bool IsSecret(const SettingRef& setting) {
    const CmdField* field = FieldOf(setting);
    return setting->kind == K::Text && field != nullptr && field->secret;
}

const SettingRef* SecretFilled(const SettingRef& file) {
    if (file->kind != K::SecretFile) {
        return nullptr;
    }
    for (const SettingRef& setting : AllSettings()) {
        if (setting.cmd == file.cmd && IsSecret(setting)) {
            return &setting;
        }
    }
    return nullptr;
}

const SettingRef* SecretFileOf(const SettingRef& secret) {
    for (const SettingRef& setting : AllSettings()) {
        if (setting.cmd == secret.cmd && setting->kind == K::SecretFile) {
            return &setting;
        }
    }
    return nullptr;
}

SettingArgs::Value ParseSetting(const SettingRef& setting,
                                const std::string& place,
                                const std::string& text) {
    SettingArgs::Value value;
    value.row = setting.row;
    value.place = place;
    switch (setting->kind) {
        case K::Text:
            // A text that fits its field alone is checked as its command does; a part of the
            // station's text as text, the whole by its command.
            value.text = setting->text.field == CmdTextField::StationText
                             ? Utf8Value(place, text, IsSecret(setting))
                             : CheckedText(setting->text.field, place, text);
            break;
        case K::Choice:
            value.number = static_cast<uint32_t>(ChoiceValue(place, text, CatalogueNames(setting)));
            break;
        case K::Switch:
            value.number = static_cast<uint32_t>(SwitchValue(place, text, CatalogueNames(setting)));
            break;
        case K::Address:
            value.number = AddressValue(place, text);
            break;
        case K::HostAddress:
            value.number = HostAddressValue(place, text);
            break;
        case K::Mask:
            value.number = MaskValue(place, text);
            break;
        case K::MacTail:
            value.number = MacValue(place, text);
            break;
        case K::SecretFile:
        case K::Commands:
            break;
    }
    return value;
}

std::unique_ptr<Cmd> EncodeSettings(const SettingCmdRow& cmd, const std::vector<GivenSetting>& values) {
    std::vector<SettingArgs::Value> parsed;
    size_t i = 0;
    for (const SettingRow& row : cmd.settings) {
        const GivenSetting& given = values.at(i++);
        if (row.kind != K::SecretFile) {
            parsed.push_back(ParseSetting(SettingRef{&row, &cmd}, given.place, given.text));
        }
    }
    return cmd.encode(SettingArgs(std::move(parsed)));
}

std::string AfterCommandsText(const char* quote) {
    return Listed(SettingChoices(SettingRef{&kAfter, nullptr}), quote);
}

std::string MovingCommandsText(const char* quote) {
    std::vector<std::string> names;
    for (const SettingCmdRow& cmd : SettingRegistry()) {
        if (cmd.place == SendPlace::Moves) {
            names.push_back(SettingCmdName(cmd));
        }
    }
    return Listed(names, quote, " and ");
}

std::string SettingTypeName(const SettingRef& setting) {
    switch (setting->kind) {
        case K::Text:
            return "TEXT";
        case K::SecretFile:
            return "FILE";
        case K::Choice:
        case K::Switch: {
            std::string names;
            for (const std::string& name : SettingChoices(setting)) {
                names += (names.empty() ? "" : "|") + name;
            }
            return names;
        }
        case K::Address:
        case K::HostAddress:
        case K::Mask:
            return "A.B.C.D";
        case K::MacTail:
            return "BYTES";
        case K::Commands:
            return "COMMAND,...";
    }
    return "TEXT";
}

std::string ChoiceMeanings(const SettingRef& setting) {
    const std::vector<std::string> names = SettingChoices(setting);
    std::vector<std::string> meant;
    size_t i = 0;
    for (const char* means : setting->means) {
        if (i < names.size()) {
            meant.push_back(names[i++] + " (" + means + ")");
        }
    }
    return meant.size() == names.size() ? Listed(meant, "") : std::string();
}

std::string SettingText(const SettingRef& setting, SettingTextFor use) {
    const SettingRow& row = *setting;
    const bool markdown = use == SettingTextFor::Markdown;
    const char* q = markdown ? "`" : "";
    // What it takes, beyond what its help says.
    std::string takes;
    const std::vector<std::string> choices = SettingChoices(setting);
    switch (row.kind) {
        case K::Text: {
            const TextSize& size = row.text;
            const bool alone = size.field != CmdTextField::StationText;  // else a part of a longer text
            if (size.minLength > 0 && alone) {
                takes = std::to_string(size.minLength) + "-" + std::to_string(size.maxLength) + " characters";
            } else if (size.maxLength > 0 && alone) {
                takes = "at most " + std::to_string(size.maxLength) + " characters";
            } else if (size.minLength > 0) {
                takes = "not empty";
            }
            if (size.whenChoice != nullptr) {
                std::vector<std::string> from;
                for (const SettingRef& other : SettingsOf(*setting.cmd)) {
                    const char* option = other->option;
                    if (option != nullptr && std::strcmp(option, size.whenChoice) == 0) {
                        const std::vector<std::string> names = SettingChoices(other);
                        from.assign(names.begin() + std::min<size_t>(size.whenFrom, names.size()),
                                    names.end());
                    }
                }
                takes += (takes.empty() ? "" : "; ") + std::to_string(size.whenMin) + "-" +
                         std::to_string(size.whenMax) + " characters with " + Listed(from, q);
            }
            break;
        }
        case K::Choice: {
            const std::string meanings = use == SettingTextFor::Help ? ChoiceMeanings(setting) : "";
            takes =
                (meanings.empty() ? Listed(choices, q) + " (any case) or " : meanings + "; any case, or ") +
                q + "0" + q + "-" + q + std::to_string(choices.size() - 1) + q;
            break;
        }
        case K::Switch: {
            const std::string on = kSwitchJsonWords[1], off = kSwitchJsonWords[0];
            takes = markdown ? "`" + on + "` or `" + off + "` (also `\"" + choices[1] + "\"`, `\"" +
                                   choices[0] + "\"`, `\"1\"`, `\"0\"`)"
                             : choices[1] + " or " + choices[0] + " (also " + on + " or " + off + ", 1 or 0)";
            break;
        }
        case K::Address:
            takes = use == SettingTextFor::Hint && row.example != nullptr ? std::string("e.g. ") + row.example
                                                                          : "";
            break;
        case K::HostAddress:
            takes = use == SettingTextFor::Hint
                        ? (row.example != nullptr ? std::string("e.g. ") + row.example : "")
                        : std::string("not ") + q + "0.0.0.0" + q + " nor " + q + "255.255.255.255" + q;
            break;
        case K::Mask:
            takes = use == SettingTextFor::Hint ? "" : "its one-bits first";
            break;
        case K::MacTail:
            takes = std::string(use == SettingTextFor::Hint ? "e.g. " : "") + q + "158.34.86.28" + q +
                    " or " + q + "9E:22:56:1C" + q;
            break;
        case K::SecretFile:
            break;
        case K::Commands:
            takes = Listed(choices, q);
            break;
    }
    std::string fallback;
    if (row.fallback != nullptr) {
        fallback =
            std::string("default ") + (*row.fallback != '\0' ? q + std::string(row.fallback) + q : "empty");
    }
    const bool needed = row.required && setting.cmd != nullptr && setting.cmd->settings.size() > 1;
    const bool listing = row.kind == K::Choice || row.kind == K::Switch || row.kind == K::Commands;
    switch (use) {
        case SettingTextFor::Values:
            return takes;
        case SettingTextFor::Hint:
            // A choice is chosen from its list: only its default is worth saying.
            return listing || takes.empty() ? fallback : fallback.empty() ? takes : takes + "; " + fallback;
        case SettingTextFor::Help:
            return Capitalized(row.help) + (takes.empty() ? "" : (listing ? ": " : ", ") + takes) +
                   (fallback.empty() ? "" : " (" + fallback + ")");
        case SettingTextFor::Markdown:
            break;
    }
    std::string text = row.help;
    if (!takes.empty()) {
        text += (listing ? ": " : ", ") + takes;
    }
    if (!fallback.empty()) {
        text += "; " + fallback;
    }
    if (needed) {
        const std::string key = row.key;
        text += "; needed when `" + key.substr(0, key.find('.')) + "` is given";
    }
    return text;
}
