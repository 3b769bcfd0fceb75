// Profiles and targets files of any content: they load or are refused with a message for each
// problem, never crash; what loads plans commands that decode back, one command each, named as
// planned, with any password inside the command's bytes.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "commands/Decode.h"
#include "fleet/Profile.h"
#include "fleet/Targets.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // A password-file names a file to read: not for a fuzzer, which could name a device.
    if (input.find("password-file") != std::string::npos) {
        return 0;
    }
    // The profile, then after a line "---" a targets file.
    const size_t split = input.find("\n---\n");
    const std::string profileText = input.substr(0, split);
    const std::string targetsText = split == std::string::npos ? std::string() : input.substr(split + 5);

    std::istringstream in;
    SecretSource secrets(in);
    Settings profile;
    std::vector<std::string> errors;
    const bool loaded = ParseProfile(profileText, "p.json", secrets, profile, errors);
    FUZZ_CHECK(loaded == errors.empty(), "ParseProfile's answer and its messages disagree");

    std::vector<TargetLine> lines;
    ParseTargetsText(targetsText, "t.txt", lines, errors);
    lines.push_back(TargetLine{"--target", "socket://127.0.0.1", {}});
    for (const TargetLine& line : lines) {
        std::vector<Target> targets;
        std::string problem;
        ExpandTarget(line.target, false, targets, problem);
        Settings settings = profile;
        std::vector<std::string> lineErrors;
        for (const std::string& assignment : line.overrides) {
            SetOverride(assignment, line.origin, "t.txt", secrets, settings, lineErrors);
        }
        std::vector<PlannedCmd> plan;
        const bool planned = PlanCommands(settings, line.origin, plan, lineErrors);
        FUZZ_CHECK(planned == lineErrors.empty() || !line.overrides.empty(), "PlanCommands' answer");
        if (!planned) {
            continue;
        }
        for (const PlannedCmd& command : plan) {
            const unsigned char* bytes = command.cmd->GetData();
            const std::vector<unsigned char> sent(bytes, bytes + command.cmd->GetLength());
            const std::vector<std::string> decoded = DecodeCommands(sent);
            FUZZ_CHECK(
                decoded.size() == 1 && decoded[0].compare(0, command.name.size(), command.name) == 0,
                command.name + " decodes as " + (decoded.empty() ? std::string("nothing") : decoded[0]));
            FUZZ_CHECK(command.secretBegin <= command.secretEnd && command.secretEnd <= sent.size(),
                       "the password's bytes lie outside " + command.name);
        }
    }
    return 0;
}
