// `tolctl listen`: the emulator, virtual printers on TCP that show what each connection delivers.
#include <CLI/CLI.hpp>

#include <limits>
#include <memory>
#include <ostream>

#include "ListenCommand.h"
#include "Subcommand.h"
#include "Tolctl.h"

void AddListenCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<ListenOptions>();
    CLI::App* listen =
        app.add_subcommand("listen", "Stand in for a printer on TCP: print the commands received");
    listen->add_option("--bind", options->bind,
                       "IPv4 address, range (A.B.C.D-E) or network (A.B.C.D/NN) to listen on, one virtual "
                       "printer per address (default 127.0.0.1)");
    AddInteger(*listen, "--port", options->port, 0, 65535, "TCP port (default 9100; 0 picks a free one)");
    AddInteger(*listen, "--count", options->count, 1, std::numeric_limits<int>::max(),
               "Stop after N connections (default: until interrupted)");
    AddInteger(*listen, "--idle-timeout", options->idleTimeout, 1, 24 * 3600,
               "Drop a connection that sends nothing for SECONDS (default 10)");
    listen->add_option("--save", options->saveFile, "Append the raw bytes received to FILE");
    listen
        ->add_option("--state", options->stateFile,
                     "Keep every printer's settings as received in FILE (JSON, rewritten as they change)")
        ->type_name("FILE");
    listen
        ->add_option("--fault", options->faults,
                     "Make printers misbehave: ADDRESS=refuse|reset|stall|slow:MS (ADDRESS may be a range or "
                     "network; repeatable)")
        ->type_name("ADDRESS=KIND")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    list.push_back(
        {listen,
         [options](const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) -> int {
             // Left out quietly, --dry-run would have a user who only meant to try listen do
             // it for real.
             if (global.dryRun) {
                 err << "tolctl: listen has no --dry-run: it takes connections as a printer would; "
                        "nothing was done\n";
                 return kExitUsage;
             }
             return RunListen(*options, out, err);
         }});
}
