// What `status` and `monitor` share: the printers they read (tolctl's --port, --target and
// --targets), how many at a time (--jobs), how long an answer may take (--timeout), and the exit
// code of what they read.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "fleet/FleetStatus.h"
#include "tolctl/Options.h"

namespace CLI {
class App;
}  // namespace CLI

struct StatusTargetOptions {
    std::vector<std::string> targets;  // --target values
    std::string targetsFile;           // --targets
    std::vector<std::string> labels;   // --label NAME=VALUE: only the lines of --targets with these
    int jobs = 64;
    int timeoutMs = 1000;
};

/// Adds --target, --targets, --label, --jobs and --timeout to `command`.
void AddStatusTargetOptions(CLI::App& command, StatusTargetOptions& options);

/// The printers named by --port, --target and --targets, with --label those of its lines that
/// have the labels (ReadTargetLines, ExpandTargetLines; a targets file's overrides are ignored, so
/// that the file of an apply serves as it is). When any
/// is wrong, or none is named, each problem is said on `err` (the first 20 of them), then
/// "tolctl: SUBCOMMAND: " and `outcome`, and the answer is false.
bool GatherTargets(const StatusTargetOptions& options,
                   const GlobalOptions& global,
                   const std::string& subcommand,
                   std::vector<Target>& targets,
                   std::ostream& err,
                   const std::string& outcome = "no printer was asked");

/// How the printers are read: --jobs, --timeout, --baud and --connect-timeout.
FleetStatusSettings StatusSettings(const StatusTargetOptions& options, const GlobalOptions& global);

/// The fleet record that status and monitor write the printers' status changes to (RecordPath),
/// opened for writing; null with --no-record, and null with a warning on `err` when it cannot be
/// opened: reading the printers goes on without it.
std::unique_ptr<Record> StatusRecord(const GlobalOptions& global,
                                     const std::string& subcommand,
                                     std::ostream& err);

/// 0 when every printer read is ok or warning, 1 otherwise.
int StatusExitCode(const FleetStatus& found);
