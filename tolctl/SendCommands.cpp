// The subcommands that build one printer command from their arguments and send it to --port,
// or print its bytes with --dry-run: one per button of the dialogs.
#include <CLI/CLI.hpp>

#include <functional>
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
        auto passwordFile = std::make_shared<std::string>();
        CLI::Option* password = nullptr;
        CLI::Option* fromFile = nullptr;
        for (const SingleCmdArg& arg : info.args) {
            std::string& value = (*values)[arg.name];
            if (arg.defaultValue != nullptr) {
                value = arg.defaultValue;
            }
            const bool positional = std::string(arg.name) == "value";
            CLI::Option* option =
                sub->add_option(positional ? arg.label : "--" + std::string(arg.name), value, arg.help);
            if (arg.required) {
                option->required();
            }
            if (std::string(arg.name) == "password") {
                password = option;
                // The command line alone may read a password from a file, or from standard input.
                fromFile = sub->add_option(
                                  "--password-file", *passwordFile,
                                  "Read the password from FILE, or - for standard input, so that it does not "
                                  "appear in the process list or the shell history; one trailing line end is "
                                  "removed")
                               ->type_name("FILE")
                               ->excludes(password);
            }
        }
        const SingleCmdInfo* chosen = &info;
        list.push_back({sub, BuildAndSend([chosen, values, passwordFile, fromFile](std::istream& in) {
                            SingleCmdValues given;
                            for (const SingleCmdArg& arg : chosen->args) {
                                given[arg.name] = values->at(arg.name);
                            }
                            std::string passwordPlace = "--password";
                            if (fromFile != nullptr && fromFile->count() > 0) {
                                std::string problem;
                                if (!ReadSecretFile(*passwordFile, in, given["password"], problem)) {
                                    throw Refusal{"--password-file: " + problem};
                                }
                                passwordPlace =
                                    "--password-file " + ShownText(*passwordFile, std::string::npos);
                            }
                            return BuildSingleCmd(*chosen, given, passwordPlace);
                        })});
    }
}
