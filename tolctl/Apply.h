// `tolctl apply`: one profile sent to many printers, several at a time.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "SendCmd.h"

struct ApplyOptions {
    std::string profile;               // the profile's file
    std::vector<std::string> targets;  // --target values
    std::string targetsFile;           // --targets
    int jobs = 32;                     // printers served at a time
    int gapMs = 300;                   // pause between two commands to the same printer
    std::string report;                // --report: the JSON report's file
    bool dryRun = false;
    // --dry-run shows passwords as they are sent
    bool showSecrets = false;
    bool progress = false;  // one live line on `err` while printers are served
};

/// Checks the profile, the targets and their overrides, and only when all of them are sound sends
/// each printer its commands, one connection per command in the planned order, `gapMs` apart; a
/// printer's first failure ends that printer. Up to `jobs` printers at a time; serial, parallel
/// and USB targets one at a time each. Prints the result table on `out`; with a report file, the
/// JSON report there. `send` gives the baud rate and the connect time-out.
/// Answers 0 when every printer got everything, 1 when any failed (or the report could not be
/// written), 2 when anything was refused before sending (then nothing was sent).
int RunApply(const ApplyOptions& options,
             const SendOptions& send,
             std::istream& in,
             std::ostream& out,
             std::ostream& err);

/// True when the process's standard error is a terminal.
bool StderrIsTerminal();

/// The version that reports name.
const char* TolctlVersion();
