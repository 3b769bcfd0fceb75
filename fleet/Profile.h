// A settings profile: what to set on every printer, read from a JSON file, and the overrides a
// targets file gives single printers. Names and values are those of tolctl's options; each
// value is checked by the same code as on the command line.
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/Cmd.h"
#include "commands/SettingRegistry.h"
#include "fleet/Labels.h"

struct Target;

/// Largest profile read; anything bigger is not a profile.
constexpr size_t kMaxProfileBytes = 1024 * 1024;

/// A key of a profile in its dotted form ("wifi-ap.name", "bt-pin", "lan.dhcp", "after").
struct ProfileKey {
    const char* name;
    const char* help;  // what it is
};

/// Every key a profile may hold (those of the settings registry, SettingRegistry.h), group by
/// group in the order of the example.
const std::vector<ProfileKey>& ProfileKeys();

/// Reads secrets named by password-file keys: files once each, standard input ("-") at most once.
class SecretSource {
  public:
    /// Without `files`, every password file is refused (a profile sent to the console may not
    /// name files of the computer it runs on).
    explicit SecretSource(std::istream& in, bool files = true) : m_in(in), m_files(files) {}
    /// The secret in `path`; false with `error` naming the file (never the content).
    bool Read(const std::string& path, std::string& secret, std::string& error);
    /// Whether password files are read here at all.
    bool ReadsFiles() const { return m_files; }
    /// The files read so far (standard input aside).
    std::vector<std::string> Files() const;

  private:
    std::istream& m_in;
    bool m_files;
    std::map<std::string, std::string> m_read;
};

/// One value and where it was given.
struct SettingValue {
    std::string text;               // as written; a JSON true/false as "true"/"false"
    std::vector<std::string> list;  // the commands of "after"
    std::string origin;             // "shop.json", "targets.txt:3"
    std::string place;              // the key as messages name it ("wifi-station.password-file 'pw'")
    bool templated = false;         // a template (TakesTemplates), checked once filled in per printer
};

/// Whether `setting` takes templates ({label.NAME}, {n}): the text settings that are no secret.
/// A password is taken as written, braces and all.
bool TakesTemplates(const SettingRef& setting);

/// The settings of one printer by dotted key. A password-file is read when it is set, and its
/// password held under "wifi-station.password"; password and password-file replace each other.
class Settings {
  public:
    /// Checks and sets one value given at `origin`; `baseFile` is the file that gave it, beside
    /// which a relative password-file is found. Problems are added to `errors` as
    /// "ORIGIN: KEY: what is wrong".
    void Set(const std::string& key,
             SettingValue value,
             const std::string& baseFile,
             SecretSource& secrets,
             std::vector<std::string>& errors);

    /// The value of `key`, or null when it is not set.
    const SettingValue* Find(const std::string& key) const;
    bool Empty() const { return m_values.empty(); }
    /// Whether a value is a template still to be filled in.
    bool HasTemplates() const;
    /// Fills in each template for the printer `target` (its labels and number) of the targets line
    /// `origin`, and checks what it makes as a value given so; problems are added to `errors` as
    /// "ORIGIN TARGET: KEY: ...", with "(FILE)" after the key when the template came from
    /// elsewhere (the profile). False then.
    bool FillTemplates(const Target& target, const std::string& origin, std::vector<std::string>& errors);
    /// Every value set, by key.
    const std::map<std::string, SettingValue>& Values() const { return m_values; }
    /// Leaves out every value whose key is not one of `keys` (apply --only); the keys left out are
    /// added to `leftOut`.
    void KeepOnly(const std::set<std::string>& keys, std::set<std::string>& leftOut);

  private:
    std::map<std::string, SettingValue> m_values;
};

/// Reads the profile text of the file `origin` into `settings`. False when anything is wrong;
/// every problem found is added to `errors`, each naming its key: not JSON (with line and column,
/// never the text read), a key not known, a value of the wrong type or refused by its check, a key
/// given twice, objects and lists nested more than 64 deep. Keys that begin with "//" are comments,
/// anywhere, and are skipped.
bool ParseProfile(const std::string& text,
                  const std::string& origin,
                  SecretSource& secrets,
                  Settings& settings,
                  std::vector<std::string>& errors);

/// Reads the profile file `path` ("-" is not allowed: standard input may hold a password).
bool LoadProfile(const std::string& path,
                 SecretSource& secrets,
                 Settings& settings,
                 std::vector<std::string>& errors);

/// Sets "KEY=VALUE" (a targets file's override, dotted key) over `settings`; the value text is
/// read as in a profile ("after" takes a comma-separated list, "" for none; lan.dhcp on|off|true|
/// false|1|0). Problems are added to `errors` as "ORIGIN: KEY: what is wrong".
void SetOverride(const std::string& assignment,
                 const std::string& origin,
                 const std::string& baseFile,
                 SecretSource& secrets,
                 Settings& settings,
                 std::vector<std::string>& errors);

/// The keys that apply --only NAME,... sends: a dotted key with the other keys of the command that
/// sends it (the printer takes them in one command), a group's name ("wifi-station") with its
/// keys, and "after" the commands sent after the settings. False with `unknown` naming the first
/// name that is none of these.
bool OnlyKeys(const std::vector<std::string>& names, std::set<std::string>& keys, std::string& unknown);

/// Whether one of `assignments` (KEY=VALUE) gives a template to a key that takes one.
bool OverridesHaveTemplates(const std::vector<std::string>& assignments);

/// Sets each of one targets line's overrides (SetOverride); a key given twice on the line (a
/// password and a password-file count as one key) is an error instead.
void SetOverrides(const std::vector<std::string>& assignments,
                  const std::string& origin,
                  const std::string& baseFile,
                  SecretSource& secrets,
                  Settings& settings,
                  std::vector<std::string>& errors);

/// One setting a planned command sends, as the fleet record notes it.
struct PlannedSetting {
    std::string key;      // the profile's dotted key: "wifi-station.password", "lan.ip"
    std::string value;    // as given, else the setting's default; a secret's own text
    bool secret = false;  // a password: the record keeps only its fingerprint
};

/// One command of a printer's plan.
struct PlannedCmd {
    std::string name;                // tolctl's subcommand: "wifi-ap", "lan-mask", "cut", ...
    std::shared_ptr<const Cmd> cmd;  // the very command a single tolctl call builds
    size_t secretBegin = 0;          // bytes [secretBegin, secretEnd) are a password, never shown
    size_t secretEnd = 0;
    bool movesAddress = false;  // it can move the printer off the address it is reached at
    // The settings it sends, in the registry's order; none for a command of its own ("cut")
    std::vector<PlannedSetting> settings;
};

/// The commands `settings` make, in the order that keeps a printer reachable at the address
/// used for as long as possible: the registry's order (SendPlace), those that can move it last.
/// Problems of the values together (a command without its required keys, a station text too
/// long, a passphrase that does not fit the auth, an address that is the network or broadcast
/// address of its mask) are added to `errors` as "ORIGIN: KEY: ..." with `origin` naming the
/// target or profile; false then. A command with a template among its values is left out (its
/// keys still checked): it is planned for each printer once filled in (Settings::FillTemplates).
bool PlanCommands(const Settings& settings,
                  const std::string& origin,
                  std::vector<PlannedCmd>& plan,
                  std::vector<std::string>& errors);

/// A commented starting profile: every key with an example value and "//" comments.
std::string ExampleProfile();

/// The example's values that every printer may share (none of one printer's own addresses, and
/// no command left without a key it needs), as compact JSON without comments.
std::string SharedExampleProfile();

/// What the example says of a group of keys ("wifi-ap"), and the schema of that object: what
/// it is, which keys it needs, what its choices mean and which of its commands are sent last.
std::string GroupComment(const std::string& group);
