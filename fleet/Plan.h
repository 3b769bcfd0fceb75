// A roll-out planned: the profile, the targets and their overrides checked together, and each
// printer's commands, before anything is sent.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "fleet/Profile.h"
#include "fleet/Targets.h"

/// What the report says a printer was given, passwords hidden.
struct PrinterSetup {
    std::vector<std::string> overrides;  // "lan.ip=192.168.1.52": as given, a sequence counted up
    std::vector<std::pair<std::string, std::string>> settings;  // the planned values by dotted key
    size_t number = 0;  // the printer's number its templates were filled in with; 0: it had none
};

/// A printer of a roll-out and the commands it is to get, in order.
struct RolloutPrinter {
    Target target;
    std::shared_ptr<const std::vector<PlannedCmd>> plan;  // shared by the printers of one plan
    std::shared_ptr<const PrinterSetup> setup;            // likewise
};

/// A printer of the report resumed from that is not contacted again: its entry as it was.
struct CarriedPrinter {
    size_t position = 0;  // its place among the report's results
    std::string entry;    // its JSON object
    std::string result;   // "ok", "failed", "interrupted"
};

/// What a roll-out is made of, as the operator named it.
struct RolloutInputs {
    std::string profile;               // the profile's file
    std::vector<std::string> targets;  // single targets ("--target")
    std::string targetsFile;           // a file of targets with overrides; empty for none
    std::vector<std::string> labels;   // --label NAME=VALUE: only the file's lines with these
    std::string report;                // the report's file, which must be none of the inputs; or empty
    std::string resume;                // a report whose printers that were not ok are served again
    bool failedOnly = false;           // of those, only the ones that failed (not the interrupted)
    bool force = false;                // resume although the profile is not the report's
    std::vector<std::string>
        only;  // --only: the keys and groups sent; empty: all (when resuming: the report's)
    // The profile's text itself, read in place of the file (`profile` then only names it in
    // messages); null to read the file.
    const std::string* profileText = nullptr;
    bool passwordFiles = true;  // password-file keys read their files (else they are refused)
    std::vector<TargetLine>
        lines;  // printers with their own values, given as lines (the console's kept ones)
    // The fingerprint of a secret (the fleet record's, Record::Fingerprint), which the profile's
    // digest includes so that a new password makes a new digest; null: the digest leaves
    // secrets out (no record).
    std::function<std::string(const std::string&)> fingerprint;
};

/// The printers with their plans, or every problem found: then `printers` is not to be served.
struct RolloutPlan {
    std::vector<RolloutPrinter> printers;
    std::vector<std::string> errors;      // "shop.json: wifi-ap.name: ...", in the order found
    std::string profileDigest;            // ProfileDigest of the profile
    std::string targetsFile;              // the file the overrides came from (when resuming, the report's)
    std::vector<CarriedPrinter> carried;  // when resuming: the printers kept as they were, in order
    std::vector<std::string> only;        // --only as given (or as the report resumed gave it); empty: all
    std::vector<std::string> leftOut;     // with --only: the keys of the profile and overrides not sent
};

/// Where a verifying apply reads a printer's status in `plan`: before the first command that moves
/// the printer away from the address it is reached at (SendPlace::Moves), else after the last.
size_t VerifyPosition(const std::vector<PlannedCmd>& plan);

/// A digest of a profile's values that tells whether a report was written for it. A password is
/// part of it as its `fingerprint` (the record's keyed one, never the password itself), so that a
/// new password makes a new digest; without `fingerprint` passwords are left out.
std::string ProfileDigest(const Settings& profile,
                          const std::function<std::string(const std::string&)>& fingerprint = nullptr);

/// Reads and checks the profile, the targets and their overrides (password files through `in`
/// when one is "-"), and plans each printer's commands. Refused as well: no printers, a plan
/// that sends nothing, a printer given twice, one static address given to two printers, and a
/// report that would overwrite one of the inputs. When resuming, the targets and overrides come
/// from the report, whose printers that need nothing more are carried over instead; the printers
/// served again are checked against the carried ones as against one another. Prints nothing.
RolloutPlan PlanRollout(const RolloutInputs& inputs, std::istream& in);
