#include "fleet/Profile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <initializer_list>
#include <set>
#include <utility>

#include "commands/CmdBuild.h"
#include "commands/Commands.h"
#include "commands/ShownCmd.h"
#include "json/JsonParse.h"
#include "system/Files.h"
#include "system/SecretFile.h"
#include "values/Values.h"

namespace {

using Json = nlohmann::ordered_json;

// How a setting is written in a profile.
enum class SettingType : unsigned char {
    Text,    // text in double quotes
    Switch,  // true or false (or the text of on|off|1|0)
    List,    // a list of commands
};

// One key of a profile: all that reading, checking, planning and the example know of it.
struct Setting {
    const char* key;   // dotted: "wifi-ap.name", "bt-pin", "after"
    const char* help;  // one line for the documentation
    SettingType type;
    // The check of the value alone, the same as its command-line option's; throws Refusal. Null
    // for a password-file, which is checked as the password it holds, and for the list.
    void (*check)(const std::string& place, const std::string& text);
    bool required;         // its group's command cannot be made without it
    const char* fallback;  // the value planned when it is not given; null: none
    const char* example;   // its value in the example profile, as text; null: not there
    const char* note;      // a "//KEY" comment just before it in the example; null: none
};

// The DHCP switch as on the command line (on|off|1|0), and as JSON writes it (true|false).
int SwitchValue(const std::string& place, const std::string& text) {
    std::string lower;
    for (char c : text) {
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
    }
    if (lower == "true" || lower == "false") {
        return lower == "true" ? 1 : 0;
    }
    try {
        return DhcpValue(place, text);
    } catch (const Refusal&) {
        throw Refusal{place + ": " + ShownText(text) + " is not one of true|false|on|off (or 0-1)"};
    }
}

// Checks by a value's parser, whose value is not needed here.
template <auto Parse>
void Parsed(const std::string& place, const std::string& text) {
    Parse(place, text);
}

// Checks text that must fit a command's text field.
template <CmdTextField Field>
void Fits(const std::string& place, const std::string& text) {
    CheckedText(Field, place, text);
}

void CheckPlainText(const std::string& place, const std::string& text) {
    Utf8Value(place, text);
}

void CheckSecretText(const std::string& place, const std::string& text) {
    Utf8Value(place, text, true);
}

// Group by group in the order of the example, which is the order of the keys' lists in messages.
const Setting kSettings[] = {
    {"wifi-ap.name", "the printer's own access point name, at most 31 characters", SettingType::Text,
     Fits<CmdTextField::ApName>, true, nullptr, "Shop Printer", nullptr},
    {"wifi-ap.mode", "ap|sta|apsta or 0-2 (default ap)", SettingType::Text, Parsed<ModeValue>, false, "ap",
     "apsta", nullptr},
    {"bt-name", "the Bluetooth name, at most 63 characters", SettingType::Text, Fits<CmdTextField::BtName>,
     false, nullptr, "Printer", nullptr},
    {"bt-pin", "the Bluetooth PIN, 1-63 characters", SettingType::Text, Fits<CmdTextField::BtPin>, false,
     nullptr, "6042", nullptr},
    {"wifi-station.ssid", "the network the printer joins", SettingType::Text, CheckPlainText, true, nullptr,
     "Shop", nullptr},
    {"wifi-station.password", "its password (default empty)", SettingType::Text, CheckSecretText, false, "",
     "change-me", nullptr},
    {"wifi-station.password-file",
     "or a file holding the password (beside the profile unless absolute; - for standard input)",
     SettingType::Text, nullptr, false, nullptr, nullptr, nullptr},
    {"wifi-station.auth", "open|shared|wpapsk|wpa2psk or 0-3 (default wpa2psk)", SettingType::Text,
     Parsed<AuthValue>, false, "wpa2psk", "wpa2psk", nullptr},
    {"wifi-station.enc", "none|wep-h|wep-a|tkip|aes or 0-4 (default aes)", SettingType::Text,
     Parsed<EncValue>, false, "aes", "aes", nullptr},
    {"wifi-station.ip", "the printer's static address in that network", SettingType::Text,
     Parsed<HostAddressValue>, true, nullptr, "192.168.1.200",
     "An address of its own for each printer: give it in the targets file, e.g. socket://192.168.1.51 "
     "wifi-station.ip=192.168.1.201"},
    {"wifi-station.mask", "its subnet mask (default 255.255.255.0)", SettingType::Text, Parsed<MaskValue>,
     false, "255.255.255.0", "255.255.255.0", nullptr},
    {"wifi-station.gateway", "its gateway", SettingType::Text, Parsed<AddressValue>, true, nullptr,
     "192.168.1.1", nullptr},
    {"lan.ip", "the Ethernet address (sent last but for dhcp)", SettingType::Text, Parsed<HostAddressValue>,
     false, nullptr, nullptr, nullptr},
    {"lan.mask", "the Ethernet subnet mask", SettingType::Text, Parsed<MaskValue>, false, nullptr,
     "255.255.255.0", nullptr},
    {"lan.gateway", "the Ethernet gateway", SettingType::Text, Parsed<AddressValue>, false, nullptr,
     "192.168.1.1", nullptr},
    {"lan.mac", "the MAC address's last four bytes: 158.34.86.28 or 9E:22:56:1C (BC 20 are fixed)",
     SettingType::Text, Parsed<MacValue>, false, nullptr, nullptr, nullptr},
    {"lan.dhcp", "true|false (or on|off, 1|0): DHCP of the Ethernet port (sent last)", SettingType::Switch,
     Parsed<SwitchValue>, false, nullptr, "false", nullptr},
    {"after",
     "commands sent after the settings: test-print, cut, open-drawer, factory-mode, hex-mode, "
     "wifi-factory, bt-read-pin, bt-check",
     SettingType::List, nullptr, false, nullptr, "test-print,cut",
     "Commands sent after the settings, in this order: test-print, cut, open-drawer, factory-mode, hex-mode, "
     "wifi-factory, bt-read-pin, bt-check."},
};

// A group of keys, written as one object, and the comments the example opens it with.
struct SettingGroup {
    const char* name;
    std::initializer_list<std::pair<const char*, const char*>> comments;
};

const SettingGroup kGroups[] = {
    {"wifi-ap",
     {{"//",
       "The printer's own access point: name at most 31 characters. mode: ap (its own access point only), "
       "sta (only joins the network of wifi-station) or apsta (both); to join a network, sta or apsta."}}},
    {"wifi-station",
     {{"//",
       "The network the printer joins: ssid, ip and gateway are needed. auth: open, shared, wpapsk or "
       "wpa2psk; enc: none, wep-h, wep-a, tkip or aes."},
      {"//password",
       "In place of password, \"password-file\": \"wifi.pw\" reads it from a file beside the profile, so "
       "that it is not in the profile."}}},
    {"lan",
     {{"//",
       "The Ethernet port. mask, gateway and mac are sent with the other settings; ip and dhcp last, since "
       "they can move the printer off the address used. ip and mac belong to one printer each: give them in "
       "the targets file (lan.ip=..., lan.mac=...)."}}},
};

const char kExampleNote[] =
    "A starting profile for tolctl apply. Every key is optional: delete what you do not want to set. Keys "
    "that begin with // are comments and are skipped. Values are those of tolctl's options.";

// The setting of `key`, or null when no setting has that key.
const Setting* FindSetting(const std::string& key) {
    for (const Setting& setting : kSettings) {
        if (key == setting.key) {
            return &setting;
        }
    }
    return nullptr;
}

bool IsComment(const std::string& key) {
    return key.compare(0, 2, "//") == 0;
}

bool IsGroup(const std::string& name) {
    for (const SettingGroup& group : kGroups) {
        if (name == group.name) {
            return true;
        }
    }
    return false;
}

bool IsKey(const std::string& key) {
    return FindSetting(key) != nullptr;
}

// "name, mode" for a group; "wifi-ap, bt-name, ..." for the top level.
std::string KeysOf(const std::string& group) {
    std::string list;
    std::set<std::string> seen;
    for (const ProfileKey& known : ProfileKeys()) {
        const std::string key = known.name;
        const size_t dot = key.find('.');
        std::string shown;
        if (group.empty()) {
            shown = key.substr(0, dot);
        } else if (dot != std::string::npos && key.compare(0, dot, group) == 0) {
            shown = key.substr(dot + 1);
        }
        if (!shown.empty() && seen.insert(shown).second) {
            list += (list.empty() ? "" : ", ") + shown;
        }
    }
    return list;
}

std::string FixedNames() {
    std::string names;
    for (const FixedCmdInfo& info : FixedCmds()) {
        names += (names.empty() ? "" : "|") + std::string(info.name);
    }
    return names;
}

// The check of one value alone, the same as its command-line option's; throws Refusal.
void CheckValue(const std::string& key, const SettingValue& value) {
    const std::string& place = value.place;
    const Setting* found = FindSetting(key);
    if (found == nullptr) {
        throw Refusal{place + ": not a profile key"};  // the callers only pass keys they know
    }
    const Setting& setting = *found;
    if (setting.type == SettingType::List) {
        for (const std::string& name : value.list) {
            if (!MakeFixedCmd(name)) {
                throw Refusal{place + ": " + ShownText(name) + " is not one of " + FixedNames()};
            }
        }
        return;
    }
    if (value.text.find('\0') != std::string::npos) {
        throw Refusal{place + " holds a 00 character, which no command can carry"};
    }
    setting.check(place, value.text);
}

// A value of the JSON profile as a setting; false when its type does not fit the key.
bool ReadJsonValue(const std::string& key, const Json& json, SettingValue& value, std::string& problem) {
    const SettingType type = FindSetting(key)->type;
    if (type == SettingType::List) {
        if (!json.is_array()) {
            problem = "must be a list of commands, like [\"test-print\", \"cut\"]";
            return false;
        }
        for (const Json& item : json) {
            if (!item.is_string()) {
                problem = "each command must be text in double quotes, one of " + FixedNames();
                return false;
            }
            value.list.push_back(item.get<std::string>());
        }
        return true;
    }
    if (type == SettingType::Switch && json.is_boolean()) {
        value.text = json.get<bool>() ? "true" : "false";
        return true;
    }
    if (!json.is_string()) {
        problem = type == SettingType::Switch ? "must be true or false" : "must be text in double quotes";
        return false;
    }
    value.text = json.get<std::string>();
    return true;
}

// Tells of keys given twice in one object, which a JSON reader would otherwise take silently.
class DuplicateKeys {
  public:
    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
                m_objects.push_back(Level{});
                break;
            case Json::parse_event_t::object_end:
                if (!m_objects.empty()) {
                    m_objects.pop_back();
                }
                break;
            case Json::parse_event_t::key:
                if (!m_objects.empty() && parsed.is_string()) {
                    Level& level = m_objects.back();
                    level.current = parsed.get<std::string>();
                    if (!level.keys.insert(level.current).second) {
                        // Not a problem in a comment, nor anywhere inside one's value.
                        std::string path;
                        bool comment = false;
                        for (const Level& outer : m_objects) {
                            path += (path.empty() ? "" : ".") + outer.current;
                            comment = comment || IsComment(outer.current);
                        }
                        if (!comment) {
                            m_twice.push_back(path);
                        }
                    }
                }
                break;
            default:
                break;
        }
        return true;
    }
    const std::vector<std::string>& Twice() const { return m_twice; }

  private:
    struct Level {
        std::set<std::string> keys;
        std::string current;
    };
    std::vector<Level> m_objects;
    std::vector<std::string> m_twice;
};

}  // namespace

const std::vector<ProfileKey>& ProfileKeys() {
    static const std::vector<ProfileKey> keys = [] {
        std::vector<ProfileKey> list;
        for (const Setting& setting : kSettings) {
            list.push_back(ProfileKey{setting.key, setting.help});
        }
        return list;
    }();
    return keys;
}

bool SecretSource::Read(const std::string& path, std::string& secret, std::string& error) {
    const auto found = m_read.find(path);
    if (found != m_read.end()) {
        secret = found->second;
        return true;
    }
    if (!m_files) {
        error = "password files are not read here; give the password itself (wifi-station.password)";
        return false;
    }
    if (!ReadSecretFile(path, m_in, secret, error)) {
        return false;
    }
    m_read[path] = secret;
    return true;
}

std::vector<std::string> SecretSource::Files() const {
    std::vector<std::string> files;
    for (const auto& read : m_read) {
        if (read.first != "-") {
            files.push_back(read.first);
        }
    }
    return files;
}

void Settings::Set(const std::string& key,
                   SettingValue value,
                   const std::string& baseFile,
                   SecretSource& secrets,
                   std::vector<std::string>& errors) {
    std::string stored = key;
    if (key == "wifi-station.password-file") {
        const std::string path = PathBeside(baseFile, value.text);
        std::string secret, problem;
        if (!secrets.Read(path, secret, problem)) {
            errors.push_back(value.origin + ": " + key + ": " + problem);
            return;
        }
        value.place = key + " " + (path == "-" ? "-" : ShownText(path, std::string::npos));
        value.text = std::move(secret);
        stored = "wifi-station.password";
    } else {
        value.place = key;
    }
    if (stored == "wifi-station.password" && value.text == kHiddenPassword) {
        errors.push_back(value.origin + ": " + value.place + ": " + kHiddenPassword +
                         " is how a hidden password is shown, not a password; give the password itself");
        return;
    }
    try {
        CheckValue(stored, value);
    } catch (const Refusal& refusal) {
        errors.push_back(value.origin + ": " + refusal.message);
        return;
    }
    m_values[stored] = std::move(value);
}

const SettingValue* Settings::Find(const std::string& key) const {
    const auto found = m_values.find(key);
    return found == m_values.end() ? nullptr : &found->second;
}

bool ParseProfile(const std::string& text,
                  const std::string& origin,
                  SecretSource& secrets,
                  Settings& settings,
                  std::vector<std::string>& errors) {
    const size_t before = errors.size();
    DuplicateKeys duplicates;
    Json doc;
    std::string problem;
    if (!ParseJson(text, doc, problem, std::ref(duplicates))) {
        errors.push_back(origin + ": " + problem);
        return false;
    }
    for (const std::string& twice : duplicates.Twice()) {
        errors.push_back(origin + ": " + ShownText(twice, 64) + ": given twice");
    }
    if (!doc.is_object()) {
        errors.push_back(origin + ": a profile is a JSON object: { \"bt-name\": \"Printer\", ... }");
        return false;
    }
    auto setValue = [&](const std::string& key, const Json& json) {
        SettingValue value;
        value.origin = origin;
        std::string problem;
        if (!ReadJsonValue(key, json, value, problem)) {
            errors.push_back(origin + ": " + key + ": " + problem);
            return;
        }
        if (settings.Find("wifi-station.password") != nullptr &&
            (key == "wifi-station.password" || key == "wifi-station.password-file")) {
            errors.push_back(origin + ": wifi-station: password and password-file exclude each other");
            return;
        }
        settings.Set(key, std::move(value), origin, secrets, errors);
    };
    for (const auto& item : doc.items()) {
        const std::string& name = item.key();
        if (IsComment(name)) {
            continue;
        }
        if (IsGroup(name)) {
            if (!item.value().is_object()) {
                errors.push_back(origin + ": " + name + ": must be an object { ... } of " + KeysOf(name));
                continue;
            }
            for (const auto& inner : item.value().items()) {
                if (IsComment(inner.key())) {
                    continue;
                }
                const std::string key = name + "." + inner.key();
                if (!IsKey(key)) {
                    errors.push_back(origin + ": " + ShownText(key, 64) + ": not a key of " + name + " (" +
                                     KeysOf(name) + ")");
                    continue;
                }
                setValue(key, inner.value());
            }
        } else if (IsKey(name)) {
            setValue(name, item.value());
        } else {
            errors.push_back(origin + ": " + ShownText(name, 64) + ": not a profile key (" + KeysOf("") +
                             "; keys beginning with // are comments)");
        }
    }
    return errors.size() == before;
}

bool LoadProfile(const std::string& path,
                 SecretSource& secrets,
                 Settings& settings,
                 std::vector<std::string>& errors) {
    std::string text, problem;
    if (path == "-") {
        errors.push_back("profile: - (standard input) cannot be a profile here; name the file");
        return false;
    }
    if (!ReadFileBytes(path, kMaxProfileBytes, text, problem)) {
        errors.push_back("profile: " + problem);
        return false;
    }
    return ParseProfile(text, FileLabel(path), secrets, settings, errors);
}

void SetOverride(const std::string& assignment,
                 const std::string& origin,
                 const std::string& baseFile,
                 SecretSource& secrets,
                 Settings& settings,
                 std::vector<std::string>& errors) {
    const size_t equals = assignment.find('=');
    const std::string key = assignment.substr(0, equals);
    if (equals == std::string::npos) {
        // The word itself is not shown: after a stray blank ("password= x") it is a password.
        errors.push_back(origin +
                         ": an override without '=': write KEY=VALUE (like lan.ip=192.168.1.51), "
                         "and quote a value that holds blanks");
        return;
    }
    if (!IsKey(key)) {
        errors.push_back(
            origin + ": " + ShownText(key, 64) + ": not a profile key (" +
            (IsGroup(key) ? key + "." + KeysOf(key) : "dotted names like wifi-ap.name, lan.ip, bt-pin") +
            ")");
        return;
    }
    SettingValue value;
    value.origin = origin;
    value.text = assignment.substr(equals + 1);
    if (FindSetting(key)->type == SettingType::List) {
        size_t start = 0;
        while (!value.text.empty() && start <= value.text.size()) {
            const size_t comma = value.text.find(',', start);
            value.list.push_back(value.text.substr(start, comma - start));
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
        value.text.clear();
    }
    settings.Set(key, std::move(value), baseFile, secrets, errors);
}

void SetOverrides(const std::vector<std::string>& assignments,
                  const std::string& origin,
                  const std::string& baseFile,
                  SecretSource& secrets,
                  Settings& settings,
                  std::vector<std::string>& errors) {
    std::set<std::string> given;
    for (const std::string& assignment : assignments) {
        std::string key = assignment.substr(0, assignment.find('='));
        if (key == "wifi-station.password-file") {
            key = "wifi-station.password";  // one password, whichever way it is given
        }
        if (IsKey(key) && !given.insert(key).second) {
            errors.push_back(origin + ": " + key + ": given twice on one line");
            continue;
        }
        SetOverride(assignment, origin, baseFile, secrets, settings, errors);
    }
}

bool PlanCommands(const Settings& settings,
                  const std::string& origin,
                  std::vector<PlannedCmd>& plan,
                  std::vector<std::string>& errors) {
    const size_t before = errors.size();
    auto find = [&settings](const char* key) { return settings.Find(key); };
    // The value given, else the setting's fallback, else empty.
    auto text = [&settings](const char* key) {
        const SettingValue* value = settings.Find(key);
        const char* fallback = FindSetting(key)->fallback;
        return value != nullptr ? value->text : std::string(fallback != nullptr ? fallback : "");
    };
    // True when the group's command is not to be made: none of its keys is set, or one it
    // requires is missing (an error then).
    auto missing = [&](const std::string& group) {
        const std::string prefix = group + ".";
        bool any = false;
        std::string needs;
        std::vector<std::string> lacking;
        for (const Setting& setting : kSettings) {
            const std::string key = setting.key;
            if (key.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            any = any || settings.Find(key) != nullptr;
            if (setting.required) {
                needs += (needs.empty() ? "" : ", ") + key.substr(prefix.size());
                if (settings.Find(key) == nullptr) {
                    lacking.push_back(key);
                }
            }
        }
        if (!any) {
            return true;  // the group is not set at all: nothing to send
        }
        for (const std::string& key : lacking) {
            errors.push_back(origin + ": " + key + ": missing; " + group + " needs " + needs);
        }
        return !lacking.empty();
    };
    auto add = [&plan](const char* name, Cmd* cmd) {
        plan.push_back(PlannedCmd{name, std::shared_ptr<const Cmd>(cmd), 0, 0});
    };
    try {
        if (!missing("wifi-ap")) {
            const WideString name = CheckedText(CmdTextField::ApName, "wifi-ap.name", text("wifi-ap.name"));
            add("wifi-ap", new SetAPParaCmd(ModeValue("wifi-ap.mode", text("wifi-ap.mode")),
                                            static_cast<int>(name.size()), name));
        }
        if (find("bt-name")) {
            add("bt-name", new SetBtNameCmd(CheckedText(CmdTextField::BtName, "bt-name", text("bt-name"))));
        }
        if (find("bt-pin")) {
            add("bt-pin", new SetBtPinCmd(CheckedText(CmdTextField::BtPin, "bt-pin", text("bt-pin"))));
        }
        if (!missing("wifi-station")) {
            const SettingValue* password = find("wifi-station.password");
            const std::string passwordPlace = password ? password->place : "wifi-station.password";
            std::unique_ptr<Cmd> station = BuildStationCmd(
                AuthValue("wifi-station.auth", text("wifi-station.auth")),
                EncValue("wifi-station.enc", text("wifi-station.enc")),
                Utf8Value("wifi-station.ssid", text("wifi-station.ssid")),
                Utf8Value(passwordPlace, text("wifi-station.password"), true),
                HostAddressValue("wifi-station.ip", text("wifi-station.ip")),
                MaskValue("wifi-station.mask", text("wifi-station.mask")),
                AddressValue("wifi-station.gateway", text("wifi-station.gateway")),
                StationPlaces{
                    "wifi-station.ssid", passwordPlace, "wifi-station.ip", "wifi-station.gateway",
                    "wifi-station.ssid/" + passwordPlace.substr(std::string("wifi-station.").size())});
            const SecretSpan secret = PasswordSpan(*station);
            plan.push_back(PlannedCmd{"wifi-station", std::shared_ptr<const Cmd>(std::move(station)),
                                      secret.begin, secret.end});
        }
        if (find("lan.ip") && find("lan.mask")) {
            const uint32_t ip = HostAddressValue("lan.ip", text("lan.ip"));
            const uint32_t mask = MaskValue("lan.mask", text("lan.mask"));
            CheckAddressInNetwork("lan.ip", ip, mask);
            if (find("lan.gateway")) {
                CheckGateway("lan.gateway", AddressValue("lan.gateway", text("lan.gateway")), ip, mask);
            }
        }
        if (find("lan.mask")) {
            add("lan-mask", new SetMASKCmd(MaskValue("lan.mask", text("lan.mask"))));
        }
        if (find("lan.gateway")) {
            add("lan-gateway", new SetGATECmd(AddressValue("lan.gateway", text("lan.gateway"))));
        }
        if (find("lan.mac")) {
            add("lan-mac", new SetMACCmd(MacValue("lan.mac", text("lan.mac"))));
        }
        if (const SettingValue* after = find("after")) {
            for (const std::string& name : after->list) {
                for (const FixedCmdInfo& info : FixedCmds()) {
                    if (name == info.name) {
                        plan.push_back(PlannedCmd{info.name, std::shared_ptr<const Cmd>(info.make()), 0, 0});
                    }
                }
            }
        }
        if (find("lan.ip")) {
            add("lan-ip", new SetIPCmd(HostAddressValue("lan.ip", text("lan.ip"))));
        }
        if (find("lan.dhcp")) {
            add("lan-dhcp", new SetLanDHCPCmd(SwitchValue("lan.dhcp", text("lan.dhcp"))));
        }
    } catch (const Refusal& refusal) {
        errors.push_back(origin + ": " + refusal.message);
    }
    return errors.size() == before;
}

std::string ExampleProfile() {
    // One line per comment and per key that has an example; a group's keys inside its object.
    auto line = [](const std::string& indent, const std::string& key, const std::string& value) {
        return indent + Json(key).dump() + ": " + value;
    };
    auto shown = [](const Setting& setting) {
        if (setting.type == SettingType::Switch) {
            return std::string(setting.example);
        }
        if (setting.type == SettingType::Text) {
            return Json(setting.example).dump();
        }
        std::string list;
        const std::string items = setting.example;
        for (size_t start = 0; start <= items.size();) {
            const size_t comma = std::min(items.find(',', start), items.size());
            list += (list.empty() ? "[" : ", ") + Json(items.substr(start, comma - start)).dump();
            start = comma + 1;
        }
        return list + "]";
    };
    std::vector<std::string> top = {line("  ", "//", Json(kExampleNote).dump())};
    std::string openGroup;  // the group whose object is being written
    std::vector<std::string> inner;
    auto closeGroup = [&] {
        if (!openGroup.empty()) {
            std::string object = "{\n";
            for (size_t i = 0; i < inner.size(); ++i) {
                object += inner[i] + (i + 1 < inner.size() ? ",\n" : "\n");
            }
            top.push_back(line("  ", openGroup, object + "  }"));
            openGroup.clear();
            inner.clear();
        }
    };
    for (const Setting& setting : kSettings) {
        const std::string key = setting.key;
        const size_t dot = key.find('.');
        const std::string group = dot == std::string::npos ? "" : key.substr(0, dot);
        if (group != openGroup) {
            closeGroup();
            openGroup = group;
            for (const SettingGroup& known : kGroups) {
                for (const auto& comment : known.comments) {
                    if (group == known.name) {
                        inner.push_back(line("    ", comment.first, Json(comment.second).dump()));
                    }
                }
            }
        }
        if (setting.example == nullptr) {
            continue;
        }
        std::vector<std::string>& lines = group.empty() ? top : inner;
        const std::string name = key.substr(dot + 1);  // the whole key when there is no dot
        const std::string indent = group.empty() ? "  " : "    ";
        if (setting.note != nullptr) {
            lines.push_back(line(indent, "//" + name, Json(setting.note).dump()));
        }
        lines.push_back(line(indent, name, shown(setting)));
    }
    closeGroup();
    std::string text = "{\n";
    for (size_t i = 0; i < top.size(); ++i) {
        text += top[i] + (i + 1 < top.size() ? ",\n" : "\n");
    }
    return text + "}\n";
}
