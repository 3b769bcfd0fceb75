// tolctl's subcommands: each file adds its subcommands and their options to the command line,
// and says how each runs once chosen, by calling the libraries.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "tolctl/Options.h"

namespace CLI {
class App;
}  // namespace CLI

/// One subcommand as the dispatch sees it.
struct Subcommand {
    /// Runs the subcommand and answers tolctl's exit code (Tolctl.h): data to `out`,
    /// diagnostics to `err`, `in` for what it reads from standard input.
    using Run = std::function<
        int(const GlobalOptions& global, std::istream& in, std::ostream& out, std::ostream& err)>;

    CLI::App* app;  // chosen when its part of the command line was parsed
    Run run;
};
using Subcommands = std::vector<Subcommand>;

/// Adds subcommands to `app` and to `list`, in the order of the help.
using AddSubcommandsFunction = void (*)(CLI::App& app, Subcommands& list);

/// Runs tolctl with the subcommands that `addSubcommands` adds: RunTolctl (Tolctl.h) with all of
/// them (Subcommands.cpp), a program that needs only some (the dry-run fuzz target) with those.
int RunSubcommands(AddSubcommandsFunction addSubcommands,
                   const std::vector<std::string>& args,
                   std::istream& in,
                   std::ostream& out,
                   std::ostream& err);

// Each adds its subcommands to `app` and to `list`; tolctl's help lists them in the order added.

/// SendCommands.cpp: the commands that build one printer command and send it, or print it with
/// --dry-run (test-print ... lan-dhcp).
void AddSendCommands(CLI::App& app, Subcommands& list);
/// DecodeCommand.cpp: decode.
void AddDecodeCommand(CLI::App& app, Subcommands& list);
/// ListenCommand.cpp: listen, the emulator.
void AddListenCommand(CLI::App& app, Subcommands& list);
/// ScanCommand.cpp: scan.
void AddScanCommand(CLI::App& app, Subcommands& list);
/// PortsCommand.cpp: ports.
void AddPortsCommand(CLI::App& app, Subcommands& list);
/// ApplyCommand.cpp: apply.
void AddApplyCommand(CLI::App& app, Subcommands& list);
/// StatusCommand.cpp: status.
void AddStatusCommand(CLI::App& app, Subcommands& list);
/// MonitorCommand.cpp: monitor.
void AddMonitorCommand(CLI::App& app, Subcommands& list);
/// ConsoleCommand.cpp: console.
void AddConsoleCommand(CLI::App& app, Subcommands& list);
/// ProfileCommand.cpp: profile example.
void AddProfileCommand(CLI::App& app, Subcommands& list);
/// RecordCommand.cpp: record printers, history, rollouts, rollout, export and import.
void AddRecordCommand(CLI::App& app, Subcommands& list);
