// What tolctl's subcommands share: tolctl's own options, and the way numbers are read.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "transport/SendCmd.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

/// tolctl's own options, which may stand before or after the subcommand.
struct GlobalOptions {
    bool dryRun = false;
    bool showSecrets = false;  // with --dry-run: a password's bytes too
    std::string codePage;
    std::string portText;    // --port as typed, for the messages
    SendOptions send;        // --baud and --connect-timeout; the port is read from portText where used
    std::string recordFile;  // --record: the fleet record's file
    bool noRecord = false;   // --no-record: keep no record
};

/// Adds tolctl's own options (--dry-run, --port, ...) to `app`, to be read into `global`.
void AddGlobalOptions(CLI::App& app, GlobalOptions& global);

/// The fleet record's file: --record, else the environment's TOLCTL_RECORD, else
/// $XDG_STATE_HOME/tolctl/record.sqlite (~/.local/state/tolctl/record.sqlite; on Windows
/// %LOCALAPPDATA%\tolctl\record.sqlite). Empty with --no-record. False with `problem` when no
/// place can be found (no home folder).
bool RecordPath(const GlobalOptions& global, std::string& path, std::string& problem);

/// Adds an integer option read by tolctl's own decimal parser (ParseDecimal) and kept within
/// [min, max]: CLI11's would also read 0x, 0o and 0b prefixes, and a value read in another base
/// than the operator meant goes to the wrong place.
CLI::Option* AddInteger(CLI::App& app,
                        const std::string& name,
                        int& target,
                        int min,
                        int max,
                        const std::string& help);

/// Adds --label NAME=VALUE (repeatable) to `command`: only the lines of --targets with those
/// labels are taken (ReadTargetLines checks the values).
void AddLabelOption(CLI::App& command, std::vector<std::string>& labels);

/// `args` with each "--name=" split into "--name" and an empty value: CLI11 would take the
/// argument after it as the value instead, so that `--name= --mode=sta` set the name
/// "--mode=sta".
std::vector<std::string> SplitEmptyValues(const std::vector<std::string>& args);

/// For a subcommand that sends nothing: true when --port was not given; else false, said on
/// `err` ("tolctl: scan sends nothing: --port has no use here" and `hint`).
bool NoPortGiven(const GlobalOptions& global,
                 const std::string& subcommand,
                 std::ostream& err,
                 const std::string& hint = "");

/// "A.B.C.D:PORT" (a server's --listen) into the address as text and as a value, and the port
/// (0-65535); false when it is not that.
bool ParseListen(const std::string& text, std::string& address, uint32_t& value, int& port);
