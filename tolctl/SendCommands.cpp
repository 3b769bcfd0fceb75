// The subcommands that build one printer command from their arguments and send it to --port,
// or print its bytes with --dry-run: one per button of the dialogs.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

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
#include "record/Record.h"
#include "system/SecretFile.h"
#include "tolctl/Recording.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/DeviceFile.h"
#include "transport/PortUri.h"
#include "values/Values.h"

namespace {

// The settings a single command sends by dotted key, with their values, as the record notes
// them; for a command of its own ("cut") its name without a value.
using SentSettings = std::vector<std::pair<std::string, RecordValue>>;

// Builds the chosen subcommand's command once the arguments are parsed, and tells the settings it
// sends; throws Refusal. `in` is read by wifi-station --password-file -.
using Builder = std::function<std::unique_ptr<Cmd>(std::istream& in, SentSettings& settings)>;

// Sends `cmd` to the port, noted in `record` (when there is one) as roll-out `kind` "send" of its
// `settings` before its first byte leaves; failures are explained on `err`, naming the port as
// typed and the system's reason.
int SendToPort(const SendOptions& options,
               const std::string& portText,
               const Cmd& cmd,
               const std::string& name,
               const SentSettings& settings,
               Record* record,
               std::ostream& err) {
    RecordRollout rollout;
    std::vector<RecordSend> sends;
    BeforeWrite hook;
    if (record != nullptr) {
        RolloutStart start;
        start.kind = "send";
        start.options = nlohmann::json({{"command", name}, {"port", portText}}).dump();
        rollout = record->BeginRollout(start);
        if (rollout.id == 0) {
            err << "tolctl: cannot write the record: " << record->Problem() << kNoRecordHint << '\n';
            return kExitPort;
        }
        const std::string printer = PrinterName(options.port);
        for (const auto& setting : settings) {
            sends.push_back(record->StartCommand(rollout, printer, setting.first, setting.second));
        }
        hook = [&](std::string& reason) {
            for (RecordSend& send : sends) {
                if (!record->AwaitCommand(send)) {
                    reason = "not sent: the record could not note it (" + record->Problem() + ")";
                    return false;
                }
            }
            return true;
        };
    }
    const SendOutcome outcome = SendCmd(options, cmd, 0, hook);
    int code = kExitOk;
    if (outcome.result == SendOutcome::Result::TimedOut) {
        err << "tolctl: " << portText << " : " << outcome.reason << "; the command may be cut short\n";
        code = kExitTimeout;
    } else if (!outcome.Sent()) {
        err << "tolctl: " << portText << " : " << outcome.reason << '\n';
        code = kExitPort;
    }
    if (record != nullptr) {
        for (const RecordSend& send : sends) {
            record->CommandEnded(send, outcome.Sent() ? SendResult::Sent : SendResult::Failed,
                                 outcome.reason);
        }
        record->EndRollout(rollout, nlohmann::json({{"printers", 1},
                                                    {"ok", outcome.Sent() ? 1 : 0},
                                                    {"failed", outcome.Sent() ? 0 : 1},
                                                    {"changed", outcome.Sent() ? 1 : 0}})
                                        .dump());
        if (!record->Flush()) {
            err << "tolctl: the record lacks this command's result: " << record->Problem() << '\n';
            code = code == kExitOk ? kExitPort : code;
        }
    }
    return code;
}

// How a subcommand runs that builds its command with `build`: then prints it (--dry-run) or
// sends it to --port.
Subcommand::Run BuildAndSend(const std::string& name, Builder build) {
    return [name, build](const GlobalOptions& global, std::istream& in, std::ostream& out,
                         std::ostream& err) -> int {
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
        SentSettings settings;
        try {
            cmd = build(in, settings);
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
        std::string recordPath;
        std::unique_ptr<Record> record;
        int code = kExitPort;
        if (!RecordPathFor(global, name, recordPath, err) ||
            !OpenRecordToWrite(recordPath, name, record, code, err)) {
            return code;
        }
        return SendToPort(send, global.portText, *cmd, name, settings, record.get(), err);
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
        list.push_back(
            {sub, BuildAndSend(
                      info.name, [chosen, values, files, options](std::istream& in, SentSettings& settings) {
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
                          for (const SingleCmdArg& arg : chosen->args) {
                              if (arg.fills.empty() && arg.setting.row != nullptr) {
                                  settings.emplace_back(arg.setting->key,
                                                        RecordValue{given[arg.name], IsSecret(arg.setting)});
                              }
                          }
                          if (settings.empty()) {
                              settings.emplace_back(chosen->name, RecordValue{});
                          }
                          return BuildSingleCmd(*chosen, given, places);
                      })});
    }
}
