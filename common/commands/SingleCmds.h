// The single commands, one per button of the dialogs, as tolctl's subcommands take them and the
// console's forms show them: the commands without arguments (FixedCmds), then one per row of the
// settings registry (SettingRegistry.h) with its settings as arguments, checked with the
// messages of the command line.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands/Cmd.h"
#include "commands/SettingRegistry.h"

/// One argument of a single command: one setting of its registry row.
struct SingleCmdArg {
    SettingRef setting;
    std::string name;  // the option's name without dashes ("name", "mode"); "value" for the positional
    std::string
        label;  // "--name"; the positional's type name ("TEXT", "A.B.C.D") as the command line shows it
    std::string typeName;  // "TEXT", "A.B.C.D", "FILE", or the choices "ap|sta|apsta"
    std::string help;
    bool required = false;
    const char* defaultValue = nullptr;  // null: none
    std::vector<std::string> choices;    // the named values, when the argument takes only those
    bool secret = false;                 // never shown
    /// A file whose content is the argument `fills` (read by the command line only); empty for
    /// the others.
    std::string fills;
};

/// The values of a command's arguments by name; one not given takes its default.
using SingleCmdValues = std::map<std::string, std::string>;

/// One single command.
struct SingleCmdInfo {
    std::string name;  // tolctl's subcommand
    std::string help;
    std::vector<SingleCmdArg> args;
    const SettingCmdRow* row = nullptr;  // its registry row; null for a command without arguments
};

/// Every single command in the order tolctl lists them: those without arguments (FixedCmds),
/// then those of the settings registry in its order.
const std::vector<SingleCmdInfo>& SingleCmds();

/// The command named `name`, or null.
const SingleCmdInfo* FindSingleCmd(const std::string& name);

/// Builds `info`'s command from `given`: an argument it does not have (or a file, which only the
/// command line reads), or a required one missing, is refused; the others take their defaults.
/// `places` names where an argument came from in messages when it is not its option
/// ("--password-file 'pw'"). Throws Refusal.
std::unique_ptr<Cmd> BuildSingleCmd(const SingleCmdInfo& info,
                                    const SingleCmdValues& given,
                                    const std::map<std::string, std::string>& places = {});
