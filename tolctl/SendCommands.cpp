// The subcommands that build one printer command from their arguments and send it to --port,
// or print its bytes with --dry-run: one per button of the dialogs.
#include <CLI/CLI.hpp>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "commands/CmdBuild.h"
#include "commands/Commands.h"
#include "commands/ShownCmd.h"
#include "commands/SingleCmds.h"
#include "system/SecretFile.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/DeviceFile.h"
#include "transport/PortUri.h"
#include "values/Values.h"

namespace {

// Builds the chosen subcommand's command once the arguments are parsed; throws Refusal.
// `in` is read by wifi-station --password-file -.
using Builder = std::function<std::unique_ptr<Cmd>(std::istream& in)>;

// Sends `cmd` to the port; failures are explained on `err`, naming the port as typed and the
// system's reason.
int SendToPort(const SendOptions& options, const std::string& portText, const Cmd& cmd, std::ostream& err) {
    const SendOutcome outcome = SendCmd(options, cmd);
    if (outcome.result == SendOutcome::Result::TimedOut) {
        err << "tolctl: " << portText << " : " << outcome.reason << "; the command may be cut short\n";
        return kExitTimeout;
    }
    if (!outcome.Sent()) {
        err << "tolctl: " << portText << " : " << outcome.reason << '\n';
        return kExitPort;
    }
    return kExitOk;
}

// How a subcommand runs that builds its command with `build`: then prints it (--dry-run) or
// sends it to --port.
Subcommand::Run BuildAndSend(Builder build) {
    return
        [build](const GlobalOptions& global, std::istream& in, std::ostream& out, std::ostream& err) -> int {
            SendOptions send = global.send;
            if (!global.portText.empty()) {
                std::string problem;
                if (!ParsePortUri(global.portText, kWindowsPortNames, send.port, problem)) {
                    err << "tolctl: --port: " << problem << '\n';
                    return kExitUsage;
                }
                // Never a file of this computer written as a port.
                problem = send.port.device.empty() ? "" : NotADevice(send.port.device);
                if (!problem.empty()) {
                    err << "tolctl: --port: " << problem << "; nothing was sent\n";
                    return kExitUsage;
                }
            }
            std::unique_ptr<Cmd> cmd;
            try {
                cmd = build(in);
            } catch (const Refusal& refusal) {
                err << "tolctl: " << refusal.message << "; nothing was sent\n";
                return kExitUsage;
            }
            if (global.dryRun) {
                out << ShownHex(*cmd, PasswordSpan(*cmd), global.showSecrets) << '\n';
                return kExitOk;
            }
            if (global.portText.empty()) {
                err << "tolctl: no port to send to; give --port, or --dry-run to print the bytes instead\n";
                return kExitUsage;
            }
            return SendToPort(send, global.portText, *cmd, err);
        };
}

}  // namespace

void AddSendCommands(CLI::App& app, Subcommands& list) {
    // One subcommand per single command, its arguments from the same table as the console's.
    for (const SingleCmdInfo& info : SingleCmds()) {
        CLI::App* sub = app.add_subcommand(info.name, info.help);
        // Read by the builder; kept as long as the subcommand that runs it.
        auto values = std::make_shared<SingleCmdValues>();
        auto files = std::make_shared<std::map<std::string, std::string>>();  // a file option's path
        std::map<std::string, CLI::Option*> options;
        for (const SingleCmdArg& arg : info.args) {
            if (!arg.fills.empty()) {
                // The command line alone reads a secret from a file, or from standard input.
                options[arg.name] = sub->add_option("--" + arg.name, (*files)[arg.name], arg.help)
                                        ->type_name(arg.typeName)
                                        ->excludes(options.at(arg.fills));
                continue;
            }
            std::string& value = (*values)[arg.name];
            if (arg.defaultValue != nullptr) {
                value = arg.defaultValue;
            }
            CLI::Option* option = sub->add_option(arg.label, value, arg.help);
            if (arg.setting->option != nullptr) {
                option->type_name(arg.typeName);
            }
            if (arg.required) {
                option->required();
            }
            options[arg.name] = option;
        }
        const SingleCmdInfo* chosen = &info;
        list.push_back({sub, BuildAndSend([chosen, values, files, options](std::istream& in) {
                            SingleCmdValues given = *values;
                            std::map<std::string, std::string> places;
                            for (const SingleCmdArg& arg : chosen->args) {
                                if (arg.fills.empty() || options.at(arg.name)->count() == 0) {
                                    continue;
                                }
                                const std::string& path = files->at(arg.name);
                                std::string problem;
                                if (!ReadSecretFile(path, in, given[arg.fills], problem)) {
                                    throw Refusal{arg.label + ": " + problem};
                                }
                                places[arg.fills] = arg.label + " " + ShownText(path, std::string::npos);
                            }
                            return BuildSingleCmd(*chosen, given, places);
                        })});
    }
}
