// tolctl with every subcommand, in the order of its help.
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"

namespace {

void AddEverySubcommand(CLI::App& app, Subcommands& list) {
    for (const auto add : {AddSendCommands, AddDecodeCommand, AddListenCommand, AddScanCommand,
                           AddPortsCommand, AddApplyCommand, AddStatusCommand, AddMonitorCommand,
                           AddConsoleCommand, AddProfileCommand, AddRecordCommand}) {
        add(app, list);
    }
}

}  // namespace

int RunTolctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    return RunSubcommands(AddEverySubcommand, args, in, out, err);
}
