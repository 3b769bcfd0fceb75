// `tolctl apply`: one profile sent to many printers, several at a time.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "transport/SendCmd.h"

struct ApplyOptions {
    std::string profile;               // the profile's file
    std::vector<std::string> targets;  // --target values
    std::string targetsFile;           // --targets
    std::vector<std::string> labels;   // --label NAME=VALUE: only the lines of --targets with these
    std::vector<std::string> only;     // --only KEY,...: the keys and groups sent
    int jobs = 32;                     // printers served at a time
    int gapMs = 300;                   // pause between two commands to the same printer
    std::string report;                // --report: the JSON report's file
    std::string resume;                // --resume or --retry-failed: the report resumed from
    std::string retryFailed;           // --retry-failed as given
    bool failedOnly = false;           // --retry-failed
    bool force = false;                // --force: resume with a profile not the report's
    bool verify = false;               // --verify: read each printer's status before it moves
    int timeoutMs = 1000;              // --timeout: for each status answer
    int canary = 0;                    // --canary N: the first N printers alone first; 0: none
    std::string maxFailed;             // --max-failed N or P%: the failure budget; empty: none
    bool dryRun = false;
    // --dry-run shows passwords as they are sent
    bool showSecrets = false;
    bool progress = false;  // one live line on `err` while printers are served
    bool skipSame = false;  // --skip-same: leave out what the record says each printer has
    // The fleet record's file (every command written to it before it is sent); empty: none
    std::string recordPath;
};

/// Opens the record (`options.recordPath`; with --dry-run only to read it), plans the roll-out
/// (fleet/Plan.h) and only when everything is sound applies it
/// (fleet/Apply.h): prints the result table on `out`, a progress line on `err` with
/// `options.progress`, and with a report file the JSON report there; with `options.dryRun` each
/// printer's commands instead, sending nothing. `send` gives the baud rate and the connect
/// time-out. Answers 0 when every printer got everything, 1 when any failed (or the report or
/// the record could not be written; a record that cannot be opened sends nothing), 2 when anything was
/// refused before sending (then nothing was sent), 128 + the signal's number when a stop request cut it
/// short.
int RunApply(const ApplyOptions& options,
             const SendOptions& send,
             std::istream& in,
             std::ostream& out,
             std::ostream& err);

/// The version that reports name.
const char* TolctlVersion();
