#include "fleet/Profile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "commands/CmdBuild.h"
#include "commands/Commands.h"
#include "commands/ShownCmd.h"
#include "fleet/Targets.h"
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

SettingType TypeOf(const SettingRef& setting) {
    return setting->kind == SettingKind::Switch     ? SettingType::Switch
           : setting->kind == SettingKind::Commands ? SettingType::List
                                                    : SettingType::Text;
}

const char kExampleNote[] =
    "A starting profile for tolctl apply. Every key is optional: delete what you do not want to set. Keys "
    "that begin with // are comments and are skipped. Values are those of tolctl's options.";

bool IsComment(const std::string& key) {
    return key.compare(0, 2, "//") == 0;
}

bool IsGroup(const std::string& name) {
    for (const SettingRef& setting : AllSettings()) {
        if (name == KeyGroup(setting->key)) {
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

// The key of the one setting whose value is the commands sent after the settings.
const SettingRef& AfterSetting() {
    static const SettingRef& after = []() -> const SettingRef& {
        for (const SettingRef& setting : AllSettings()) {
            if (setting->kind == SettingKind::Commands) {
                return setting;
            }
        }
        return AllSettings().back();
    }();
    return after;
}

// The example value of `setting` as JSON: true or false for a switch, a list of commands.
Json ExampleValue(const SettingRef& setting) {
    const std::string text = setting->example;
    if (TypeOf(setting) != SettingType::List) {
        return TypeOf(setting) == SettingType::Switch ? Json(text == kSwitchJsonWords[1]) : Json(text);
    }
    Json list = Json::array();
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        list.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return list;
}

// An example value that every printer may share: not a printer's own address, nor a secret.
bool Shared(const SettingRef& setting) {
    return setting->example != nullptr && setting->kind != SettingKind::HostAddress && !IsSecret(setting);
}

// The check of one value alone, the same as its command-line option's; throws Refusal.
void CheckValue(const std::string& key, const SettingValue& value) {
    const std::string& place = value.place;
    const SettingRef* found = FindSetting(key);
    if (found == nullptr) {
        throw Refusal{place + ": not a profile key"};  // the callers only pass keys they know
    }
    if (TypeOf(*found) == SettingType::List) {
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
    ParseSetting(*found, place, value.text);
}

// Across the commands of one group (the Ethernet port's address, mask and gateway are three): the
// address given must be a printer's in the network of the mask given, a gateway given in that
// network. Within one command its encoder checks them. Throws Refusal.
void CheckNetworks(const Settings& settings) {
    struct Network {
        const SettingRef* address = nullptr;
        const SettingRef* mask = nullptr;
        const SettingRef* gateway = nullptr;
    };
    std::map<std::string, Network> groups;
    for (const SettingRef& setting : AllSettings()) {
        const SettingKind kind = setting->kind;
        if (settings.Find(setting->key) == nullptr ||
            (kind != SettingKind::HostAddress && kind != SettingKind::Mask && kind != SettingKind::Address)) {
            continue;
        }
        Network& network = groups[KeyGroup(setting->key)];
        (kind == SettingKind::HostAddress ? network.address
         : kind == SettingKind::Mask      ? network.mask
                                          : network.gateway) = &setting;
    }
    for (const auto& group : groups) {
        const Network& network = group.second;
        if (network.address == nullptr || network.mask == nullptr ||
            network.address->cmd == network.mask->cmd) {
            continue;
        }
        const SettingValue& address = *settings.Find(network.address->row->key);
        const SettingValue& mask = *settings.Find(network.mask->row->key);
        const uint32_t ip = HostAddressValue(address.place, address.text);
        const uint32_t bits = MaskValue(mask.place, mask.text);
        CheckAddressInNetwork(address.place, ip, bits);
        if (network.gateway != nullptr && network.gateway->cmd != network.address->cmd) {
            const SettingValue& gateway = *settings.Find(network.gateway->row->key);
            CheckGateway(gateway.place, AddressValue(gateway.place, gateway.text), ip, bits);
        }
    }
}

// A value of the JSON profile as a setting; false when its type does not fit the key.
bool ReadJsonValue(const std::string& key, const Json& json, SettingValue& value, std::string& problem) {
    const SettingType type = TypeOf(*FindSetting(key));
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
        for (const SettingRef& setting : AllSettings()) {
            list.push_back(ProfileKey{setting->key, setting->help});
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
        error = "password files are not read here; give the password itself";  // Set names its key
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
    const SettingRef* setting = FindSetting(key);
    const SettingRef* filled = setting != nullptr ? SecretFilled(*setting) : nullptr;
    if (filled != nullptr) {
        // A file holding a secret: its content is the secret's value, named by the file.
        const std::string path = PathBeside(baseFile, value.text);
        std::string secret, problem;
        if (!secrets.Read(path, secret, problem)) {
            errors.push_back(value.origin + ": " + key + ": " + problem +
                             (secrets.ReadsFiles() ? "" : std::string(" (") + filled->row->key + ")"));
            return;
        }
        value.place = key + " " + (path == "-" ? "-" : ShownText(path, std::string::npos));
        value.text = std::move(secret);
        stored = filled->row->key;
    } else {
        value.place = key;
    }
    const SettingRef* kept = FindSetting(stored);
    if (kept != nullptr && IsSecret(*kept) && value.text == kHiddenPassword) {
        errors.push_back(value.origin + ": " + value.place + ": " + kHiddenPassword +
                         " is how a hidden password is shown, not a password; give the password itself");
        return;
    }
    if (kept != nullptr && TakesTemplates(*kept) && IsTemplate(value.text)) {
        // Checked as a value once filled in for each printer; here only its form.
        const std::string problem = TemplateProblem(value.text);
        if (!problem.empty()) {
            errors.push_back(value.origin + ": " + value.place + ": " + problem);
            return;
        }
        value.templated = true;
        m_values[stored] = std::move(value);
        return;
    }
    try {
        CheckValue(stored, value);
    } catch (const Refusal& refusal) {
        // A profile is the same for every printer: an address counts up per line of the targets.
        const bool counted = !value.text.empty() && value.text.back() == '+' && stored.size() > 3 &&
                             stored.compare(stored.size() - 3, 3, ".ip") == 0;
        errors.push_back(value.origin + ": " + refusal.message +
                         (counted ? " (an address counts up in a targets file's line or cell: " + stored +
                                        "=" + value.text + ")"
                                  : ""));
        return;
    }
    m_values[stored] = std::move(value);
}

const SettingValue* Settings::Find(const std::string& key) const {
    const auto found = m_values.find(key);
    return found == m_values.end() ? nullptr : &found->second;
}

bool Settings::HasTemplates() const {
    return std::any_of(m_values.begin(), m_values.end(),
                       [](const auto& value) { return value.second.templated; });
}

bool Settings::FillTemplates(const Target& target,
                             const std::string& origin,
                             std::vector<std::string>& errors) {
    const size_t before = errors.size();
    const std::string printer = origin + " " + target.name;
    for (auto& item : m_values) {
        SettingValue& value = item.second;
        if (!value.templated) {
            continue;
        }
        // The key, and the file the template came from when it is not the printer's own line.
        const std::string place = value.place + (value.origin == origin ? "" : " (" + value.origin + ")");
        std::string filled, problem;
        if (!ExpandTemplate(value.text, LabelsOf(target), target.number, filled, problem)) {
            errors.push_back(printer + ": " + place + ": " + problem);
            continue;
        }
        SettingValue made = value;
        made.text = std::move(filled);
        made.place = place;
        made.templated = false;
        try {
            CheckValue(item.first, made);
        } catch (const Refusal& refusal) {
            errors.push_back(printer + ": " + refusal.message);
            continue;
        }
        made.place = value.place;
        value = std::move(made);
    }
    return errors.size() == before;
}

void Settings::KeepOnly(const std::set<std::string>& keys, std::set<std::string>& leftOut) {
    for (auto it = m_values.begin(); it != m_values.end();) {
        if (keys.count(it->first) != 0) {
            ++it;
            continue;
        }
        leftOut.insert(it->first);
        it = m_values.erase(it);
    }
}

bool OnlyKeys(const std::vector<std::string>& names, std::set<std::string>& keys, std::string& unknown) {
    for (const std::string& name : names) {
        const SettingRef* named = FindSetting(name);
        bool known = named != nullptr;
        for (const SettingRef& setting : AllSettings()) {
            // The key itself, the keys of its command, or those of the group named.
            const bool taken = setting.row == (named != nullptr ? named->row : nullptr) ||
                               (named != nullptr && named->cmd != nullptr && setting.cmd == named->cmd) ||
                               (!name.empty() && KeyGroup(setting->key) == name);
            if (taken) {
                keys.insert(setting->key);
                known = true;
            }
        }
        if (!known) {
            unknown = name;
            return false;
        }
    }
    return true;
}

bool TakesTemplates(const SettingRef& setting) {
    return setting->kind == SettingKind::Text && !IsSecret(setting);
}

bool OverridesHaveTemplates(const std::vector<std::string>& assignments) {
    for (const std::string& assignment : assignments) {
        const size_t equals = assignment.find('=');
        const SettingRef* setting = FindSetting(assignment.substr(0, equals));
        if (equals != std::string::npos && setting != nullptr && TakesTemplates(*setting) &&
            IsTemplate(assignment.substr(equals + 1))) {
            return true;
        }
    }
    return false;
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
        // A secret is given itself or by its file, not both.
        const SettingRef* setting = FindSetting(key);
        const SettingRef* secret = SecretFilled(*setting) != nullptr ? SecretFilled(*setting) : setting;
        const SettingRef* file = SecretFileOf(*secret);
        if (IsSecret(*secret) && file != nullptr && settings.Find(secret->row->key) != nullptr) {
            errors.push_back(origin + ": " + KeyGroup(key) + ": " + KeyName(secret->row->key) + " and " +
                             KeyName(file->row->key) + " exclude each other");
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
    if (TypeOf(*FindSetting(key)) == SettingType::List) {
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
        const SettingRef* setting = FindSetting(key);
        if (setting != nullptr && SecretFilled(*setting) != nullptr) {
            key = SecretFilled(*setting)->row->key;  // one secret, whichever way it is given
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
    // Plans `cmd` when any of its keys is set; a key it needs that is missing is an error.
    auto planOne = [&](const SettingCmdRow& cmd) {
        bool any = false;
        std::string needs, group;
        std::vector<std::string> lacking;
        for (const SettingRow& row : cmd.settings) {
            const bool given = settings.Find(row.key) != nullptr;
            any = any || given;
            group = KeyGroup(row.key);
            if (row.required) {
                needs += (needs.empty() ? "" : ", ") + KeyName(row.key);
                if (!given) {
                    lacking.push_back(row.key);
                }
            }
        }
        if (!any) {
            return;  // not set at all: nothing to send
        }
        for (const std::string& key : lacking) {
            errors.push_back(origin + ": " + key + ": missing; " + (group.empty() ? key : group) + " needs " +
                             needs);
        }
        if (!lacking.empty()) {
            return;
        }
        for (const SettingRow& row : cmd.settings) {
            const SettingValue* value = settings.Find(row.key);
            if (value != nullptr && value->templated) {
                return;  // planned for each printer once its templates are filled in
            }
        }
        // The value given (with where), else the setting's default, else empty.
        std::vector<GivenSetting> values;
        std::vector<PlannedSetting> sent;
        for (const SettingRow& row : cmd.settings) {
            const SettingValue* value = settings.Find(row.key);
            values.push_back(value != nullptr
                                 ? GivenSetting{value->text, value->place}
                                 : GivenSetting{row.fallback != nullptr ? row.fallback : "", row.key});
            if (row.kind != SettingKind::SecretFile) {  // its password is held under the password's key
                sent.push_back(PlannedSetting{row.key, values.back().text, IsSecret(SettingRef{&row, &cmd})});
            }
        }
        std::shared_ptr<const Cmd> made = EncodeSettings(cmd, values);
        const SecretSpan secret = PasswordSpan(*made);
        plan.push_back(PlannedCmd{SettingCmdName(cmd), std::move(made), secret.begin, secret.end,
                                  cmd.place == SendPlace::Moves, std::move(sent)});
    };
    try {
        for (const SendPlace place : {SendPlace::Keeps, SendPlace::After, SendPlace::Moves}) {
            for (const SettingCmdRow& cmd : SettingRegistry()) {
                if (cmd.place == place) {
                    planOne(cmd);
                }
            }
            const SettingValue* after = settings.Find(AfterSetting()->key);
            for (size_t i = 0; place == SendPlace::After && after != nullptr && i < after->list.size(); ++i) {
                for (const FixedCmdInfo& info : FixedCmds()) {
                    if (after->list[i] == info.name) {
                        plan.push_back(
                            PlannedCmd{info.name, std::shared_ptr<const Cmd>(info.make()), 0, 0, false, {}});
                    }
                }
            }
        }
        CheckNetworks(settings);
    } catch (const Refusal& refusal) {
        errors.push_back(origin + ": " + refusal.message);
    }
    return errors.size() == before;
}

std::string GroupComment(const std::string& group) {
    const SettingGroupRow* row = FindSettingGroup(group);
    std::vector<std::string> needed, about, last;
    std::set<const SettingCmdRow*> commands;
    for (const SettingRef& setting : AllSettings()) {
        if (KeyGroup(setting->key) != group) {
            continue;
        }
        const std::string name = KeyName(setting->key);
        commands.insert(setting.cmd);
        if (setting->required && setting.cmd != nullptr && setting.cmd->settings.size() > 1) {
            needed.push_back(name);
        }
        // What its choices mean, or which they are; the length of a text alone in its field.
        const std::string meanings = ChoiceMeanings(setting);
        const bool alone =
            setting->text.field != CmdTextField::StationText || setting->text.whenChoice != nullptr;
        if (!meanings.empty()) {
            about.push_back(name + ": " + meanings);
        } else if (setting->kind == SettingKind::Choice || (setting->kind == SettingKind::Text && alone)) {
            about.push_back(name + ": " + SettingText(setting, SettingTextFor::Values));
        }
        if (setting.cmd != nullptr && setting.cmd->place == SendPlace::Moves) {
            last.push_back(name);
        }
    }
    auto listed = [](const std::vector<std::string>& words) {
        std::string text;
        for (size_t i = 0; i < words.size(); ++i) {
            text += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
        }
        return text;
    };
    std::string text = row != nullptr ? row->description : group;
    text += needed.empty() ? "." : ": " + listed(needed) + (needed.size() == 1 ? " is" : " are") + " needed.";
    for (size_t i = 0; i < about.size(); ++i) {
        text += (i == 0 ? " " : "; ") + about[i] + (i + 1 == about.size() ? "." : "");
    }
    if (!last.empty() && last.size() < commands.size()) {
        text += " " + listed(last) + (last.size() == 1 ? " is" : " are") +
                " sent last, since they can move the printer off the address used.";
    }
    if (row != nullptr && row->note != nullptr) {
        text += std::string(" ") + row->note;
    }
    return text;
}

std::string ExampleProfile() {
    // One line per comment and per key that has an example; a group's keys inside its object.
    auto line = [](const std::string& indent, const std::string& key, const std::string& value) {
        return indent + Json(key).dump() + ": " + value;
    };
    // On one line, a list's items apart.
    auto shown = [](const SettingRef& setting) {
        const Json value = ExampleValue(setting);
        std::string list;
        for (const Json& item : value) {
            list += (list.empty() ? "[" : ", ") + item.dump();
        }
        return value.is_array() ? list + "]" : value.dump();
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
    for (const SettingRef& setting : AllSettings()) {
        const std::string key = setting->key;
        const std::string group = KeyGroup(key);
        if (group != openGroup) {
            closeGroup();
            openGroup = group;
            if (!group.empty()) {
                inner.push_back(line("    ", "//", Json(GroupComment(group)).dump()));
            }
        }
        std::vector<std::string>& lines = group.empty() ? top : inner;
        const std::string name = KeyName(key);
        const std::string indent = group.empty() ? "  " : "    ";
        std::string note = setting->note != nullptr ? setting->note : "";
        if (setting->kind == SettingKind::Commands) {
            note = SettingText(setting, SettingTextFor::Help) + ".";  // they are its choices
        }
        if (!note.empty()) {
            lines.push_back(line(indent, "//" + name, Json(note).dump()));
        }
        if (setting->example != nullptr) {
            lines.push_back(line(indent, name, shown(setting)));
        }
    }
    closeGroup();
    std::string text = "{\n";
    for (size_t i = 0; i < top.size(); ++i) {
        text += top[i] + (i + 1 < top.size() ? ",\n" : "\n");
    }
    return text + "}\n";
}

std::string SharedExampleProfile() {
    Json profile = Json::object();
    // Command by command ("after" alone): a command only with every key it needs.
    auto add = [&profile](const std::vector<SettingRef>& settings) {
        for (const SettingRef& setting : settings) {
            if (setting->required && !Shared(setting)) {
                return;
            }
        }
        for (const SettingRef& setting : settings) {
            const std::string group = KeyGroup(setting->key);
            if (Shared(setting)) {
                (group.empty() ? profile[setting->key] : profile[group][KeyName(setting->key)]) =
                    ExampleValue(setting);
            }
        }
    };
    for (const SettingCmdRow& cmd : SettingRegistry()) {
        add(SettingsOf(cmd));
    }
    add({AfterSetting()});
    return profile.dump();
}
