#include "fleet/Plan.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "json/JsonParse.h"
#include "system/ErrnoText.h"
#include "system/Files.h"
#include "values/Values.h"

namespace {

using Plan = std::shared_ptr<const std::vector<PlannedCmd>>;
using Setup = std::shared_ptr<const PrinterSetup>;

using Json = nlohmann::ordered_json;
using StaticAddresses = std::vector<std::pair<std::string, uint32_t>>;

// A secret's key: its value is never written out.
bool IsSecretKey(const std::string& key) {
    const SettingRef* setting = FindSetting(key);
    return setting != nullptr && IsSecret(*setting);
}

// The keys of the static addresses, each one printer's own: "wifi-station.ip", "lan.ip".
std::vector<std::string> StaticKeys() {
    std::vector<std::string> keys;
    for (const SettingRef& setting : AllSettings()) {
        if (setting->kind == SettingKind::HostAddress) {
            keys.push_back(setting->key);
        }
    }
    return keys;
}

// A printer of the report resumed from that is carried over, as the checks of the plan see it.
struct CarriedTarget {
    std::string origin;  // "r.json: results[3] socket://192.168.1.50 (ok)"
    std::string target;
    StaticAddresses addresses;
};

// What a report shows of a printer's overrides and planned settings.
std::shared_ptr<PrinterSetup> ShownSetup(const std::vector<std::string>& overrides,
                                         const Settings& settings) {
    auto setup = std::make_shared<PrinterSetup>();
    for (const std::string& assignment : overrides) {
        const std::string key = assignment.substr(0, assignment.find('='));
        setup->overrides.push_back(IsSecretKey(key) ? key + "=" + kHiddenPassword : assignment);
    }
    for (const auto& value : settings.Values()) {
        std::string text = value.second.text;
        if (value.first == "after") {
            for (const std::string& command : value.second.list) {
                text += (text.empty() ? "" : ",") + command;
            }
        }
        setup->settings.emplace_back(value.first, IsSecretKey(value.first) ? kHiddenPassword : text);
    }
    return setup;
}

// The static addresses a report's entry says its printer was given: those of its planned
// settings (a report before they were written: of its overrides).
StaticAddresses ReportedAddresses(const Json& entry) {
    StaticAddresses found;
    for (const std::string& key : StaticKeys()) {
        std::string text;
        if (entry.contains("planned") && entry["planned"].is_object()) {
            const Json& planned = entry["planned"];
            text = planned.contains(key) && planned[key].is_string() ? planned[key].get<std::string>() : "";
        } else {
            const std::string prefix = key + "=";
            for (const Json& assignment : entry["overrides"]) {
                const std::string given = assignment.is_string() ? assignment.get<std::string>() : "";
                text = given.compare(0, prefix.size(), prefix) == 0 ? given.substr(prefix.size()) : text;
            }
        }
        uint32_t address = 0;
        if (ParseAddress(text, address)) {
            found.emplace_back(key, address);
        }
    }
    return found;
}

// The printers of a report to serve again, as targets lines, and those to carry over. Problems
// are added to `errors` as "--resume: ...".
void ReadResumed(const RolloutInputs& inputs,
                 std::vector<TargetLine>& lines,
                 std::vector<CarriedPrinter>& carried,
                 std::vector<CarriedTarget>& carriedTargets,
                 std::string& digest,
                 std::string& baseFile,
                 std::vector<std::string>& only,
                 std::vector<std::string>& errors) {
    const std::string option = inputs.failedOnly ? "--retry-failed" : "--resume";
    const std::string label = FileLabel(inputs.resume);
    // Read as it is parsed: a report of many printers is large.
    std::FILE* file = OpenFile(inputs.resume, "rb");
    if (file == nullptr) {
        errors.push_back(option + ": cannot read " + ShownText(inputs.resume, std::string::npos) + ": " +
                         ErrnoText(errno));
        return;
    }
    const std::string notOne = option + ": " + label + ": not a report of tolctl apply that can be resumed";
    Json report;
    std::string problem;
    const bool parsed = ParseJson(file, report, problem);
    std::fclose(file);
    if (!parsed) {
        errors.push_back(notOne + " (" + problem + ")");
        return;
    }
    if (!report.is_object() || !report.contains("results") || !report["results"].is_array() ||
        !report.contains("profile-digest") || !report["profile-digest"].is_string()) {
        errors.push_back(notOne + " (one written by this version of tolctl with --report is)");
        return;
    }
    digest = report["profile-digest"].get<std::string>();
    if (report.contains("targets") && report["targets"].is_string()) {
        baseFile = report["targets"].get<std::string>();
    }
    // The part of the profile it sent, unless another is asked for.
    if (only.empty() && report.contains("only") && report["only"].is_array()) {
        for (const Json& name : report["only"]) {
            if (!name.is_string()) {
                errors.push_back(notOne + " (its only is not a list of keys)");
                return;
            }
            only.push_back(name.get<std::string>());
        }
    }
    const Json& results = report["results"];
    for (size_t i = 0; i < results.size(); ++i) {
        const Json& entry = results[i];
        const std::string where = label + ": results[" + std::to_string(i) + "]";
        const auto isString = [&entry](const char* key) {
            return entry.is_object() && entry.contains(key) && entry[key].is_string();
        };
        if (!isString("target") || !isString("result") || !entry.contains("overrides") ||
            !entry["overrides"].is_array()) {
            errors.push_back(notOne + " (" + where + " lacks its target, result or overrides)");
            return;
        }
        const std::string result = entry["result"].get<std::string>();
        const std::string target = entry["target"].get<std::string>();
        if (result == "ok" || result == "unchanged" || (inputs.failedOnly && result != "failed")) {
            carried.push_back(
                CarriedPrinter{i, entry.dump(2, ' ', false, Json::error_handler_t::replace), result});
            carriedTargets.push_back(
                CarriedTarget{where + " " + target + " (" + result + ")", target, ReportedAddresses(entry)});
            continue;
        }
        TargetLine line{where + " " + target, target, {}, {}};
        // Its labels and number, as its templates were filled in.
        if (entry.contains("labels") && entry["labels"].is_object()) {
            for (const auto& label : entry["labels"].items()) {
                if (!label.value().is_string() || !ValidLabelName(label.key())) {
                    errors.push_back(notOne + " (" + where + " has a label that is not NAME and text)");
                    return;
                }
                line.labels.emplace_back(label.key(), label.value().get<std::string>());
            }
        }
        if (entry.contains("n")) {
            if (!entry["n"].is_number_unsigned() || entry["n"].get<uint64_t>() < 1) {
                errors.push_back(notOne + " (" + where + " has an n that is not a number from 1)");
                return;
            }
            line.firstNumber = entry["n"].get<size_t>();
        }
        for (const Json& assignment : entry["overrides"]) {
            if (!assignment.is_string()) {
                errors.push_back(notOne + " (" + where + " has an override that is not text)");
                return;
            }
            const std::string& given = assignment.get_ref<const std::string&>();
            const std::string key = given.substr(0, given.find('='));
            const SettingRef* secret = FindSetting(key);
            if (secret != nullptr && IsSecret(*secret) && given == key + "=" + kHiddenPassword) {
                const SettingRef* file = SecretFileOf(*secret);
                errors.push_back(line.origin + ": " + key +
                                 ": the report does not hold passwords; to resume, give it with " +
                                 (file != nullptr ? file->row->key : key) +
                                 " in the targets or in the profile");
                continue;
            }
            line.overrides.push_back(assignment.get<std::string>());
        }
        lines.push_back(std::move(line));
    }
}

// The static addresses that `settings` give a printer: "lan.ip" and "wifi-station.ip".
StaticAddresses AddressesOf(const Settings& settings) {
    StaticAddresses found;
    for (const std::string& key : StaticKeys()) {
        const SettingValue* value = settings.Find(key);
        uint32_t address = 0;
        if (value != nullptr && ParseAddress(value->text, address)) {
            found.emplace_back(key, address);
        }
    }
    return found;
}

// The report must not overwrite what it reports on. By file identity: another name for the same
// file (a link, "./shop.json") is the same file.
void CheckReport(const RolloutInputs& inputs, const SecretSource& secrets, std::vector<std::string>& errors) {
    std::vector<std::pair<std::string, std::string>> files = {{"the profile", inputs.profile}};
    if (!inputs.targetsFile.empty()) {
        files.emplace_back("the targets file", inputs.targetsFile);
    }
    for (const std::string& file : secrets.Files()) {
        files.emplace_back("a password file", file);
    }
    for (const auto& input : files) {
        if (SameFile(inputs.report, input.second)) {
            errors.push_back("--report: " + ShownText(inputs.report, std::string::npos) + " is " +
                             input.first + " (" + ShownText(input.second, std::string::npos) +
                             "); the report would overwrite it");
        }
    }
}

}  // namespace

size_t VerifyPosition(const std::vector<PlannedCmd>& plan) {
    for (size_t i = 0; i < plan.size(); ++i) {
        if (plan[i].movesAddress) {
            return i;
        }
    }
    return plan.size();
}

std::string ProfileDigest(const Settings& profile,
                          const std::function<std::string(const std::string&)>& fingerprint) {
    // FNV-1a (64 bits) over each key and value: enough to tell one profile from another.
    uint64_t hash = 14695981039346656037ull;
    auto add = [&hash](const std::string& text) {
        for (const char c : text + '\0') {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
    };
    for (const auto& value : profile.Values()) {
        add(value.first);
        if (!IsSecretKey(value.first)) {
            add(value.second.text);
        } else {
            add(fingerprint && !value.second.text.empty() ? "hmac:" + fingerprint(value.second.text) : "");
        }
        for (const std::string& command : value.second.list) {
            add(command);
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "fnv1a64:%016llx", static_cast<unsigned long long>(hash));
    return text;
}

RolloutPlan PlanRollout(const RolloutInputs& inputs, std::istream& in) {
    RolloutPlan rollout;
    std::vector<std::string>& errors = rollout.errors;
    SecretSource secrets(in, inputs.passwordFiles);
    Settings profile;
    const bool profileOk =
        inputs.profileText != nullptr
            ? ParseProfile(*inputs.profileText, FileLabel(inputs.profile), secrets, profile, errors)
            : LoadProfile(inputs.profile, secrets, profile, errors);
    const std::string profileName = FileLabel(inputs.profile);

    TargetSources sources;
    sources.targets = inputs.targets;
    sources.file = inputs.targetsFile;
    sources.labels = inputs.labels;
    std::vector<TargetLine> lines = ReadTargetLines(sources, errors);
    lines.insert(lines.end(), inputs.lines.begin(), inputs.lines.end());
    rollout.only = inputs.only;
    std::string resumedDigest, baseFile = inputs.targetsFile;
    std::vector<CarriedTarget> carriedTargets;
    if (!inputs.resume.empty()) {
        if (!inputs.targets.empty() || !inputs.targetsFile.empty() || !inputs.labels.empty()) {
            errors.push_back(
                "--resume: the targets come from the report; give no --target or --targets, nor --label");
        } else {
            ReadResumed(inputs, lines, rollout.carried, carriedTargets, resumedDigest, baseFile, rollout.only,
                        errors);
        }
        if (profileOk) {
            rollout.profileDigest = ProfileDigest(profile, inputs.fingerprint);
        }
        if (profileOk && !resumedDigest.empty() && resumedDigest != rollout.profileDigest && !inputs.force) {
            errors.push_back((inputs.failedOnly ? "--retry-failed: " : "--resume: ") +
                             FileLabel(inputs.resume) + " was written for another profile than " +
                             profileName + " (or one since changed); --force resumes with this one");
        }
        rollout.targetsFile = baseFile;
        if (lines.empty()) {
            return rollout;  // every printer is carried over: nothing to plan
        }
    } else if (profileOk) {
        rollout.profileDigest = ProfileDigest(profile, inputs.fingerprint);
        rollout.targetsFile = inputs.targetsFile;
    }
    if (lines.empty() && errors.empty()) {
        errors.push_back("no printers: give --target PORT or --targets FILE");
    }
    // --only: the other keys of the profile and of each line are left out, without a word.
    if (!rollout.only.empty()) {
        std::set<std::string> keys, leftOut;
        std::string unknown;
        if (!OnlyKeys(rollout.only, keys, unknown)) {
            errors.push_back("--only: " + ShownText(unknown, 64) +
                             " is not a profile key, a group of keys (wifi-ap, wifi-station, lan) or after");
        } else {
            profile.KeepOnly(keys, leftOut);
            for (TargetLine& line : lines) {
                auto& overrides = line.overrides;
                overrides.erase(std::remove_if(overrides.begin(), overrides.end(),
                                               [&](const std::string& assignment) {
                                                   const std::string key =
                                                       assignment.substr(0, assignment.find('='));
                                                   if (keys.count(key) != 0) {
                                                       return false;
                                                   }
                                                   leftOut.insert(key);
                                                   return true;
                                               }),
                                overrides.end());
            }
        }
        rollout.leftOut.assign(leftOut.begin(), leftOut.end());
    }

    Plan profilePlan;
    Setup profileSetup;
    bool profilePlanned = false;
    TargetClaims claims;
    std::map<std::pair<std::string, uint32_t>, std::string> owners;  // a static address -> its printer
    // Takes `target` given at `origin` as one printer of the roll-out with its static addresses;
    // false when it is a target already.
    auto claim = [&](const Target& target, const std::string& origin, const StaticAddresses& addresses) {
        if (!claims.Claim(target, origin, errors, "; a printer is set up once")) {
            return false;
        }
        for (const auto& address : addresses) {
            const auto owner = owners.emplace(address, target.name + " (" + origin + ")");
            if (!owner.second) {
                errors.push_back(origin + ": " + target.name + " and " + owner.first->second +
                                 " are both given " + address.first + " " + FormatAddress(address.second) +
                                 "; a static address belongs to one printer");
            }
        }
        return true;
    };
    // A resumed printer is checked against the carried ones as against one another.
    for (const CarriedTarget& carried : carriedTargets) {
        std::vector<Target> targets;
        std::string problem;
        if (!ExpandTarget(carried.target, kWindowsPortNames, targets, problem) || targets.size() != 1) {
            errors.push_back(carried.origin + ": " + (problem.empty() ? "not one printer" : problem));
            continue;
        }
        claim(targets.front(), carried.origin, carried.addresses);
    }
    const bool profileTemplates = profileOk && profile.HasTemplates();
    for (const TargetLine& line : lines) {
        std::vector<Target> targets;
        std::string problem;
        if (!ExpandTargetLine(line, targets, problem)) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        // A line with address sequences gives each of its printers overrides of its own.
        std::vector<std::vector<std::string>> counted;
        if (HasSequence(line.overrides) &&
            !CountSequences(line.overrides, targets.size(), counted, problem)) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        // Templates are filled in for each printer: each then has values of its own.
        const bool templated = profileTemplates || OverridesHaveTemplates(line.overrides);
        // Plans the printers given `overrides` (and `target`'s templates filled in); false when
        // that found problems.
        Plan plan;
        Setup setup;
        StaticAddresses addresses;
        auto planOverrides = [&](const std::vector<std::string>& overrides, const Target* target) {
            Settings settings = profile;
            const size_t before = errors.size();
            SetOverrides(overrides, line.origin, baseFile, secrets, settings, errors);
            if (target != nullptr && errors.size() == before) {
                settings.FillTemplates(*target, line.origin, errors);
            }
            addresses = AddressesOf(settings);
            auto shown = ShownSetup(overrides, settings);
            shown->number = target != nullptr ? target->number : 0;
            setup = std::move(shown);
            std::vector<PlannedCmd> commands;
            plan = nullptr;
            if (errors.size() == before && PlanCommands(settings, line.origin, commands, errors)) {
                if (commands.empty()) {
                    errors.push_back(line.origin +
                                     ": nothing to send: the profile and the overrides set nothing");
                } else {
                    plan = std::make_shared<const std::vector<PlannedCmd>>(std::move(commands));
                }
            }
            return errors.size() == before;
        };
        if (profileOk && line.overrides.empty() && !templated) {
            if (!profilePlanned) {
                profilePlanned = true;
                std::vector<PlannedCmd> commands;
                if (PlanCommands(profile, profileName, commands, errors)) {
                    if (commands.empty()) {
                        errors.push_back(profileName + ": sets nothing, so there is nothing to send");
                    } else {
                        profilePlan = std::make_shared<const std::vector<PlannedCmd>>(std::move(commands));
                    }
                }
                profileSetup = ShownSetup({}, profile);
            }
            plan = profilePlan;
            setup = profileSetup;
            addresses = AddressesOf(profile);
        } else if (profileOk && counted.empty() && !templated) {
            planOverrides(line.overrides, nullptr);
        }
        for (size_t k = 0; k < targets.size(); ++k) {
            Target& target = targets[k];
            if (profileOk && (!counted.empty() || templated) &&
                !planOverrides(counted.empty() ? line.overrides : counted[k],
                               templated ? &target : nullptr)) {
                break;  // the line's other printers would repeat its problems
            }
            if (!claim(target, line.origin, addresses)) {
                continue;
            }
            rollout.printers.push_back(RolloutPrinter{std::move(target), plan, setup});
        }
    }
    if (!inputs.report.empty()) {
        CheckReport(inputs, secrets, errors);
    }
    return rollout;
}
