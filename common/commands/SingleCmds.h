// The single commands, one per button of the dialogs, as tolctl's subcommands take them and the
// console's forms show them: each command's arguments, and how its command is built from their
// values with the checks and messages of the command line.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/Cmd.h"

/// One argument of a single command.
struct SingleCmdArg {
    const char* name;   // the option's name without dashes ("name", "mode"); "value" for the positional
    const char* label;  // the positional's name on the command line ("TEXT", "A.B.C.D"), else the option's
    const char* help;
    bool required;
    const char* defaultValue;          // null: none
    std::vector<const char*> choices;  // the named values, when the argument takes only those
};

/// The values of a command's arguments by name; one not given takes its default.
using SingleCmdValues = std::map<std::string, std::string>;

/// One single command.
struct SingleCmdInfo {
    const char* name;  // tolctl's subcommand
    const char* help;
    std::vector<SingleCmdArg> args;
    /// Builds the command from `values` (every argument there, defaults filled in); throws
    /// Refusal with the command line's message. `passwordPlace` names where a password came
    /// from ("--password", "--password-file 'pw'").
    std::unique_ptr<Cmd> (*build)(const SingleCmdValues& values, const std::string& passwordPlace);
};

/// Every single command in the order tolctl lists them: those without arguments (FixedCmds),
/// then wifi-ap, wifi-station, bt-name, bt-pin, lan-ip, lan-mask, lan-gateway, lan-mac, lan-dhcp.
const std::vector<SingleCmdInfo>& SingleCmds();

/// The command named `name`, or null.
const SingleCmdInfo* FindSingleCmd(const std::string& name);

/// Builds `info`'s command from `given`: an argument it does not have, or a required one
/// missing, is refused; the others take their defaults. Throws Refusal.
std::unique_ptr<Cmd> BuildSingleCmd(const SingleCmdInfo& info,
                                    const SingleCmdValues& given,
                                    const std::string& passwordPlace = "--password");
