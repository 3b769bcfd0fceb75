// The one description of what tolctl sets on a printer, beside the catalogue of the bytes
// (CmdCatalog.h): each command that sets something, with its settings and its place in the order
// a profile sends them; each setting with the option of its single command, its profile key, its
// label in the console's form, its help, its values, default, whether it is needed and whether it
// is a secret. Made from it: the single commands (SingleCmds.h), the profile's keys, checks and
// plan (fleet/Profile.h), the console's form (GET /api/settings), the profile's JSON Schema and the
// table of its keys (tolctl profile schema, tolctl profile keys) and the values the bash
// completion offers. A new setting is a row here and its encoder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "commands/Cmd.h"
#include "commands/CmdCatalog.h"
#include "commands/TextCheck.h"

/// What a setting's value is: how it is checked, written and shown.
enum class SettingKind : unsigned char {
    Text,         // printable text of the printer's code page, as `text` says
    SecretFile,   // a file holding its command's secret, read in its place (not by the console)
    Choice,       // one of its catalogue field's names (any case), or that name's number
    Switch,       // off|on (as its catalogue field names them), false|true or 0|1
    Address,      // an IPv4 address, four decimal fields
    HostAddress,  // an address a printer can have; each printer's own (two printers never share one)
    Mask,         // a subnet mask, its one-bits first
    MacTail,      // the MAC address's last four bytes
    Commands,     // commands without arguments (FixedCmds), sent after the settings
};

/// Where a command comes in the order a profile sends its commands.
enum class SendPlace : unsigned char {
    Keeps,  // first, in the registry's order: the printer stays at the address it is reached at
    After,  // then the commands of the "after" list
    Moves,  // last, in the registry's order: it can move the printer off that address
};

/// A text setting: the command field it must fit alone (StationText: a part of the station's text,
/// which its command fits as a whole), its length in characters, and a length that depends on a
/// choice of the same command (a WPA passphrase).
struct TextSize {
    CmdTextField field = CmdTextField::StationText;
    int minLength = 0;
    int maxLength = 0;                 // 0: none of its own
    const char* whenChoice = nullptr;  // with this choice at `whenFrom` or above:
    int whenFrom = 0;                  //   whenMin-whenMax characters
    int whenMin = 0;
    int whenMax = 0;
};

/// One setting.
struct SettingRow {
    const char* key;     // the profile's dotted key: "wifi-ap.name", "bt-pin", "lan.ip"
    const char* option;  // the single command's option without dashes ("name"); null: its one value
    SettingKind kind;
    const char* label;           // its label in the console's form: "Name"
    const char* help;            // what it is, a phrase that begins in lower case: "access point name"
    bool required;               // its command is not made without it
    const char* fallback;        // the value taken when it is not given; null: none
    const char* example;         // its value in the example profile; null: left out
    const char* note = nullptr;  // a remark the example profile writes before it
    TextSize text = {};          // Text
    std::initializer_list<const char*> means = {};  // Choice: what each value does, by value
};

/// The values of one command's settings, checked, as its encoder takes them; each by its option
/// (null: the command's one value).
class SettingArgs {
  public:
    struct Value {
        const SettingRow* row = nullptr;
        std::string place;    // where it was given, for messages: "--name", "wifi-ap.name"
        WideString text;      // Text
        uint32_t number = 0;  // Choice and Switch: the value; addresses and the MAC tail: the bytes
    };
    explicit SettingArgs(std::vector<Value> values) : m_values(std::move(values)) {}
    const WideString& Text(const char* option = nullptr) const { return Find(option).text; }
    uint32_t Number(const char* option = nullptr) const { return Find(option).number; }
    int Index(const char* option = nullptr) const { return static_cast<int>(Find(option).number); }
    const std::string& Place(const char* option = nullptr) const { return Find(option).place; }

  private:
    const Value& Find(const char* option) const;
    std::vector<Value> m_values;
};

/// Builds a command from its settings' values.
using SettingEncoder = std::unique_ptr<Cmd> (*)(const SettingArgs& args);

/// One command that sets something: what it sends is its encoder's.
struct SettingCmdRow {
    CmdId id;          // its catalogue row: the name, and its fields' names and secrets
    const char* help;  // the single command's help
    const char* form;  // the part of the console's form it is shown in
    SendPlace place;
    SettingEncoder encode;
    std::initializer_list<SettingRow> settings;
    const char* name = nullptr;  // the single command's name where it is not the catalogue's
};

/// The commands that set something, in the registry's order.
struct SettingRegistry {
    static const SettingCmdRow* begin();
    static const SettingCmdRow* end();
};

/// The group of a dotted key ("lan" of "lan.ip"); empty for a key of the top level ("bt-pin").
inline std::string KeyGroup(const std::string& key) {
    const size_t dot = key.find('.');
    return dot == std::string::npos ? std::string() : key.substr(0, dot);
}
/// A key within its group ("ip" of "lan.ip"; a key of the top level whole).
inline std::string KeyName(const std::string& key) {
    return key.substr(key.find('.') + 1);
}

/// A group of keys that a profile writes as one object ("wifi-ap": {"name": ...}): what the
/// example profile and the schema say of it besides its settings.
struct SettingGroupRow {
    const char* name;         // the keys' part before the dot
    const char* description;  // "The printer's own access point"
    const char* note;         // a remark after what its settings say; null: none
};
/// The group named `name`, or null.
const SettingGroupRow* FindSettingGroup(const std::string& name);

/// The single command's name: the catalogue's, unless the row names another.
const char* SettingCmdName(const SettingCmdRow& cmd);

/// One setting and the command that sends it (none for "after", whose value is commands).
struct SettingRef {
    const SettingRow* row = nullptr;
    const SettingCmdRow* cmd = nullptr;
    const SettingRow& operator*() const { return *row; }
    const SettingRow* operator->() const { return row; }
};

/// Every setting, command by command in the registry's order, "after" last: the profile's order.
const std::vector<SettingRef>& AllSettings();
/// The setting whose profile key is `key`, or null.
const SettingRef* FindSetting(const std::string& key);
/// The settings of `cmd` as references.
std::vector<SettingRef> SettingsOf(const SettingCmdRow& cmd);

/// The names a Choice or Switch takes, by value (its catalogue field's); the commands "after" takes.
std::vector<std::string> SettingChoices(const SettingRef& setting);
/// A secret: a text its catalogue field keeps secret (never shown, nor written to a report).
bool IsSecret(const SettingRef& setting);
/// The secret that a SecretFile setting fills (the secret text of its command), or null.
const SettingRef* SecretFilled(const SettingRef& file);
/// The SecretFile setting that fills `secret`, or null.
const SettingRef* SecretFileOf(const SettingRef& secret);

/// Checks `text`, given at `place`, as `setting`'s value (the command line's checks and
/// messages): throws Refusal. Not for SecretFile and Commands.
SettingArgs::Value ParseSetting(const SettingRef& setting, const std::string& place, const std::string& text);

/// One setting's value as given, and where.
struct GivenSetting {
    std::string text;
    std::string place;
};

/// `cmd`'s command from the values of its settings, one for each in its order (a SecretFile's
/// is not read: the secret it fills holds its value). Throws Refusal.
std::unique_ptr<Cmd> EncodeSettings(const SettingCmdRow& cmd, const std::vector<GivenSetting>& values);

/// The single commands without arguments sent by "after", in FixedCmds' order, as "a, b or c"
/// with `quote` around each.
std::string AfterCommandsText(const char* quote = "");
/// The commands sent last, as "lan-ip and lan-dhcp" with `quote` around each.
std::string MovingCommandsText(const char* quote = "");

/// How texts describe a setting.
enum class SettingTextFor : unsigned char {
    Help,      // the command line's help: "Access point name, at most 31 characters"
    Markdown,  // the table in docs/profiles.md, names in `backticks`
    Hint,      // the console form's short hint beside a field: "at most 31 characters"
    Values,    // only the values it takes: "ap, sta or apsta (any case) or 0-2"
};
/// The option's type name: "TEXT", "A.B.C.D", "BYTES", "FILE", or its choices "ap|sta|apsta".
std::string SettingTypeName(const SettingRef& setting);
/// What `setting` is and takes, for `use`; its default too.
std::string SettingText(const SettingRef& setting, SettingTextFor use);
/// What its choices do, for the example profile: "ap (its own access point only), ..."; empty
/// when the row says nothing of them.
std::string ChoiceMeanings(const SettingRef& setting);
