// tolctl's subcommands: each adds itself and its options to the command line, and once chosen
// runs by calling the libraries.
#pragma once

#include <iosfwd>
#include <memory>

#include "Options.h"

namespace CLI {
class App;
}  // namespace CLI

/// One subcommand, or one family of them that runs the same way.
class Subcommand {
  public:
    virtual ~Subcommand() = default;
    /// True when the parsed command line chose it.
    virtual bool Chosen() const = 0;
    /// Runs it and answers tolctl's exit code (Tolctl.h): data to `out`, diagnostics to `err`.
    virtual int Run(const GlobalOptions& global, std::istream& in, std::ostream& out, std::ostream& err) = 0;
};

// Each adds its subcommands to `app`; tolctl's help lists them in the order they are added.

/// SendCommands.cpp: the commands that build one printer command and send it, or print it
/// with --dry-run (test-print ... lan-dhcp).
std::unique_ptr<Subcommand> AddSendCommands(CLI::App& app);
/// DecodeCommand.cpp: decode.
std::unique_ptr<Subcommand> AddDecodeCommand(CLI::App& app);
/// ListenCommand.cpp: listen, the emulator.
std::unique_ptr<Subcommand> AddListenCommand(CLI::App& app);
/// ScanCommand.cpp: scan.
std::unique_ptr<Subcommand> AddScanCommand(CLI::App& app);
/// PortsCommand.cpp: ports.
std::unique_ptr<Subcommand> AddPortsCommand(CLI::App& app);
/// ApplyCommand.cpp: apply.
std::unique_ptr<Subcommand> AddApplyCommand(CLI::App& app);
/// ProfileCommand.cpp: profile example.
std::unique_ptr<Subcommand> AddProfileCommand(CLI::App& app);
