// A roll-out planned: the profile, the targets and their overrides checked together, and each
// printer's commands, before anything is sent.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Profile.h"
#include "Targets.h"

/// Largest targets file read.
constexpr size_t kMaxTargetsBytes = 16 * 1024 * 1024;

/// A printer of a roll-out and the commands it is to get, in order.
struct RolloutPrinter {
    Target target;
    std::shared_ptr<const std::vector<PlannedCmd>> plan;  // shared by the printers of one plan
};

/// What a roll-out is made of, as the operator named it.
struct RolloutInputs {
    std::string profile;               // the profile's file
    std::vector<std::string> targets;  // single targets ("--target")
    std::string targetsFile;           // a file of targets with overrides; empty for none
    std::string report;                // the report's file, which must be none of the inputs; or empty
};

/// The printers with their plans, or every problem found: then `printers` is not to be served.
struct RolloutPlan {
    std::vector<RolloutPrinter> printers;
    std::vector<std::string> errors;  // "shop.json: wifi-ap.name: ...", in the order found
};

/// Reads and checks the profile, the targets and their overrides (password files through `in`
/// when one is "-"), and plans each printer's commands. Refused as well: no printers, a plan
/// that sends nothing, a printer given twice, one static address given to two printers, and a
/// report that would overwrite one of the inputs. Prints nothing.
RolloutPlan PlanRollout(const RolloutInputs& inputs, std::istream& in);
