#include "fleet/ProfileSchema.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <iterator>
#include <map>
#include <vector>

#include "commands/CmdBuild.h"
#include "commands/Commands.h"
#include "commands/SettingRegistry.h"
#include "fleet/Profile.h"

namespace {

using Json = nlohmann::ordered_json;

// A pattern that takes one of `words` in any case, or a number `low` to `high`.
std::string ChoicePattern(const std::vector<std::string>& words, size_t low, size_t high) {
    std::string pattern = "^(";
    for (const std::string& word : words) {
        for (const char c : word) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (std::isalpha(u)) {
                pattern += std::string("[") + static_cast<char>(std::toupper(u)) +
                           static_cast<char>(std::tolower(u)) + "]";
            } else {
                pattern += std::string(std::isalnum(u) || c == '-' ? "" : "\\") + c;
            }
        }
        pattern += "|";
    }
    return pattern + "[" + std::to_string(low) + "-" + std::to_string(high) + "])$";
}

// An address field 0-255 without leading zeros.
const char kByte[] = "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])";
// What a subnet mask's field may be where its one-bits end.
const char kMaskByte[] = "(0|128|192|224|240|248|252|254";

Json Defs() {
    const std::string byte = kByte, end = kMaskByte;
    return {
        {"address",
         {{"description",
           "An IPv4 address: four decimal fields 0-255 without leading zeros (which some programs read as "
           "octal); no 127.1 or hex shorthand."},
          {"type", "string"},
          {"pattern", "^" + byte + "(\\." + byte + "){3}$"}}},
        {"host",
         {{"description", "An address a printer can have: not 0.0.0.0 nor 255.255.255.255."},
          {"$ref", "#/$defs/address"},
          {"not", {{"enum", {"0.0.0.0", "255.255.255.255"}}}}}},
        {"mask",
         {{"description", "A subnet mask: its one-bits first, like 255.255.255.0."},
          {"type", "string"},
          {"pattern", "^((255\\.){3}" + end + "|255)|(255\\.){2}" + end + ")\\.0|255\\." + end +
                          ")\\.0\\.0|" + end + ")\\.0\\.0\\.0)$"}}},
    };
}

// The schema of one setting's value.
Json ValueSchema(const SettingRef& setting) {
    Json schema = {{"description", SettingText(setting, SettingTextFor::Help) + "."}};
    const std::vector<std::string> choices = SettingChoices(setting);
    const std::string byte = kByte, hex = "[0-9A-Fa-f]{1,2}";
    switch (setting->kind) {
        case SettingKind::Text:
            schema["type"] = "string";
            if (setting->text.minLength > 0) {
                schema["minLength"] = setting->text.minLength;
            }
            if (setting->text.maxLength > 0) {
                schema["maxLength"] = setting->text.maxLength;
            }
            break;
        case SettingKind::SecretFile:
            schema["type"] = "string";
            schema["minLength"] = 1;
            break;
        case SettingKind::Choice:
            schema["type"] = "string";
            schema["pattern"] = ChoicePattern(choices, 0, choices.size() - 1);
            break;
        case SettingKind::Switch: {
            std::vector<std::string> words = choices;
            words.insert(words.end(), std::begin(kSwitchJsonWords), std::end(kSwitchJsonWords));
            schema["oneOf"] = {
                {{"type", "boolean"}},
                {{"type", "string"}, {"pattern", ChoicePattern(words, 0, choices.size() - 1)}}};
            break;
        }
        case SettingKind::Address:
            schema["$ref"] = "#/$defs/address";
            break;
        case SettingKind::HostAddress:
            schema["$ref"] = "#/$defs/host";
            break;
        case SettingKind::Mask:
            schema["$ref"] = "#/$defs/mask";
            break;
        case SettingKind::MacTail:
            schema["type"] = "string";
            schema["pattern"] = "^(" + byte + "(\\." + byte + "){3}|" + hex + "(:" + hex + "){3}|" + hex +
                                "(-" + hex + "){3})$";
            break;
        case SettingKind::Commands:
            schema["type"] = "array";
            schema["items"] = {{"enum", choices}};
            break;
    }
    return schema;
}

// What a schema cannot check of `object`'s settings together: a secret given both itself and by
// its file; a text whose length depends on a choice.
void AddRules(Json& object, const std::vector<SettingRef>& settings) {
    for (const SettingRef& setting : settings) {
        const SettingRef* file = IsSecret(setting) ? SecretFileOf(setting) : nullptr;
        if (file != nullptr) {
            object["not"] = {{"required", {KeyName(setting->key), KeyName(file->row->key)}}};
        }
        const TextSize& size = setting->text;
        if (setting->kind != SettingKind::Text || size.whenChoice == nullptr) {
            continue;
        }
        for (const SettingRef& choice : SettingsOf(*setting.cmd)) {
            if (choice->option == nullptr || std::string(choice->option) != size.whenChoice) {
                continue;
            }
            const std::vector<std::string> names = SettingChoices(choice);
            const std::vector<std::string> from(names.begin() + size.whenFrom, names.end());
            const std::string pattern = ChoicePattern(from, size.whenFrom, names.size() - 1);
            Json when = {{"properties", {{KeyName(choice->key), {{"pattern", pattern}}}}}};
            // Without the choice given its default holds: the rule applies without it only if
            // the default is one of those it applies to.
            int fallback = -1;
            for (size_t i = 0; choice->fallback != nullptr && i < names.size(); ++i) {
                fallback = names[i] == choice->fallback ? static_cast<int>(i) : fallback;
            }
            if (fallback < size.whenFrom) {
                when["required"] = {KeyName(choice->key)};
            }
            object["if"] = when;
            object["then"] = {
                {"properties",
                 {{KeyName(setting->key), {{"minLength", size.whenMin}, {"maxLength", size.whenMax}}}}}};
        }
    }
}

void Close(Json& object) {
    object["patternProperties"] = {{"^//", Json::object()}};
    object["additionalProperties"] = false;
}

}  // namespace

std::string ProfileSchema() {
    Json schema = {
        {"$schema", "https://json-schema.org/draft/2020-12/schema"},
        {"$id", "profile.schema.json"},
        {"title", "tolctl settings profile"},
        {"description",
         "What `tolctl apply` sets on every printer. Every key is optional; a key not listed here is an "
         "error. "
         "Keys that begin with // are comments, in any object. Names and values are those of tolctl's "
         "options. "
         "tolctl also checks what a schema cannot: that the printer's code page writes the text as itself, "
         "one "
         "byte per character, that the station's name, password and addresses together are at most " +
             std::to_string(kMaxStationTextUnits) +
             " characters, and that a static address is neither the network nor the broadcast address of its "
             "mask."},
        {"type", "object"},
        {"properties", Json::object()},
    };
    // The settings of each object: a group's, and the top level's ("").
    std::map<std::string, std::vector<SettingRef>> members;
    for (const SettingRef& setting : AllSettings()) {
        const std::string group = KeyGroup(setting->key);
        members[group].push_back(setting);
        if (group.empty()) {
            schema["properties"][setting->key] = ValueSchema(setting);
            continue;
        }
        if (!schema["properties"].contains(group)) {
            schema["properties"][group] = {
                {"description", GroupComment(group)}, {"type", "object"}, {"properties", Json::object()}};
        }
        schema["properties"][group]["properties"][KeyName(setting->key)] = ValueSchema(setting);
    }
    for (const auto& group : members) {
        Json& object = group.first.empty() ? schema : schema["properties"][group.first];
        bool needs = false;
        for (const SettingRef& setting : group.second) {
            needs =
                needs || (setting->required && setting.cmd != nullptr && setting.cmd->settings.size() > 1);
        }
        if (needs) {
            object["description"] = object["description"].get<std::string>() +
                                    " What it needs may also come from each target's overrides.";
        }
        if (!group.first.empty()) {
            Close(object);
        }
        AddRules(object, group.second);
    }
    Close(schema);
    schema["$defs"] = Defs();
    return schema.dump(2) + "\n";
}

std::string ProfileKeysTable() {
    std::string table = "| Key | Value | Command |\n| --- | --- | --- |\n";
    for (const SettingRef& setting : AllSettings()) {
        std::string command = "those subcommands";
        if (setting.cmd != nullptr) {
            command = std::string("`") + SettingCmdName(*setting.cmd) +
                      (setting->option != nullptr ? std::string(" --") + setting->option : "") + "`";
        }
        table += std::string("| `") + setting->key + "` | " + SettingText(setting, SettingTextFor::Markdown) +
                 " | " + command + " |\n";
    }
    // The order a printer gets them in.
    std::vector<std::string> first, last;
    for (const SettingCmdRow& cmd : SettingRegistry()) {
        (cmd.place == SendPlace::Moves ? last : first)
            .push_back(std::string("`") + SettingCmdName(cmd) + "`");
    }
    std::string order;
    for (const std::string& name : first) {
        order += name + ", ";
    }
    order += "the `after` commands, and last those that can move the printer off the address used: ";
    for (size_t i = 0; i < last.size(); ++i) {
        order += (i == 0 ? "" : i + 1 == last.size() ? " and " : ", ") + last[i];
    }
    return table + "\nA printer gets its commands in this order: " + order + ".\n";
}
