#include "Plan.h"

#include <map>
#include <utility>

#include "Files.h"
#include "Values.h"

namespace {

using Plan = std::shared_ptr<const std::vector<PlannedCmd>>;

// The static addresses that `settings` give a printer: "lan.ip" and "wifi-station.ip".
std::vector<std::pair<std::string, uint32_t>> StaticAddresses(const Settings& settings) {
    std::vector<std::pair<std::string, uint32_t>> found;
    for (const char* key : {"lan.ip", "wifi-station.ip"}) {
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

RolloutPlan PlanRollout(const RolloutInputs& inputs, std::istream& in) {
    RolloutPlan rollout;
    std::vector<std::string>& errors = rollout.errors;
    SecretSource secrets(in);
    Settings profile;
    const bool profileOk = LoadProfile(inputs.profile, secrets, profile, errors);
    const std::string profileName = FileLabel(inputs.profile);

    std::vector<TargetLine> lines;
    for (const std::string& target : inputs.targets) {
        lines.push_back(TargetLine{"--target", target, {}});
    }
    if (!inputs.targetsFile.empty()) {
        std::string text, problem;
        if (ReadFileBytes(inputs.targetsFile, kMaxTargetsBytes, text, problem)) {
            ParseTargetsText(text, FileLabel(inputs.targetsFile), lines, errors);
        } else {
            errors.push_back("--targets: " + problem);
        }
    }
    if (lines.empty() && errors.empty()) {
        errors.push_back("no printers: give --target PORT or --targets FILE");
    }

    Plan profilePlan;
    bool profilePlanned = false;
    std::map<std::string, std::string> seen;                         // identity -> where it was given
    std::map<std::pair<std::string, uint32_t>, std::string> owners;  // a static address -> its printer
    for (const TargetLine& line : lines) {
        std::vector<Target> targets;
        std::string problem;
        if (!ExpandTarget(line.target, kWindowsPortNames, targets, problem)) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        Plan plan;
        std::vector<std::pair<std::string, uint32_t>> addresses;
        if (profileOk && line.overrides.empty()) {
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
            }
            plan = profilePlan;
            addresses = StaticAddresses(profile);
        } else if (profileOk) {
            Settings settings = profile;
            const size_t before = errors.size();
            SetOverrides(line.overrides, line.origin, inputs.targetsFile, secrets, settings, errors);
            addresses = StaticAddresses(settings);
            std::vector<PlannedCmd> commands;
            if (errors.size() == before && PlanCommands(settings, line.origin, commands, errors)) {
                if (commands.empty()) {
                    errors.push_back(line.origin +
                                     ": nothing to send: the profile and the overrides set nothing");
                } else {
                    plan = std::make_shared<const std::vector<PlannedCmd>>(std::move(commands));
                }
            }
        }
        for (Target& target : targets) {
            const std::string identity = TargetIdentity(target);
            const auto known = seen.emplace(identity, line.origin);
            if (!known.second) {
                errors.push_back(line.origin + ": " + target.name + " is already a target (" +
                                 known.first->second + "); a printer is set up once");
                continue;
            }
            for (const auto& address : addresses) {
                const auto owner = owners.emplace(address, target.name + " (" + line.origin + ")");
                if (!owner.second) {
                    errors.push_back(line.origin + ": " + target.name + " and " + owner.first->second +
                                     " are both given " + address.first + " " +
                                     FormatAddress(address.second) +
                                     "; a static address belongs to one printer");
                }
            }
            rollout.printers.push_back(RolloutPrinter{std::move(target), plan});
        }
    }
    if (!inputs.report.empty()) {
        CheckReport(inputs, secrets, errors);
    }
    return rollout;
}
