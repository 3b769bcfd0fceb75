// `tolctl listen`: the emulator, virtual printers on TCP that show what each connection delivers.
#include <CLI/CLI.hpp>

#include <limits>
#include <ostream>

#include "ListenCommand.h"
#include "Subcommand.h"
#include "Tolctl.h"

namespace {

class ListenCommand : public Subcommand {
  public:
    explicit ListenCommand(CLI::App& app)
        : m_app(app.add_subcommand("listen", "Stand in for a printer on TCP: print the commands received")) {
        ListenOptions& o = m_options;
        m_app->add_option("--bind", o.bind,
                          "IPv4 address, range (A.B.C.D-E) or network (A.B.C.D/NN) to listen on, one virtual "
                          "printer per address (default 127.0.0.1)");
        AddInteger(*m_app, "--port", o.port, 0, 65535, "TCP port (default 9100; 0 picks a free one)");
        AddInteger(*m_app, "--count", o.count, 1, std::numeric_limits<int>::max(),
                   "Stop after N connections (default: until interrupted)");
        AddInteger(*m_app, "--idle-timeout", o.idleTimeout, 1, 24 * 3600,
                   "Drop a connection that sends nothing for SECONDS (default 10)");
        m_app->add_option("--save", o.saveFile, "Append the raw bytes received to FILE");
        m_app
            ->add_option("--state", o.stateFile,
                         "Keep every printer's settings as received in FILE (JSON, rewritten as they change)")
            ->type_name("FILE");
        m_app
            ->add_option(
                "--fault", o.faults,
                "Make printers misbehave: ADDRESS=refuse|reset|stall|slow:MS (ADDRESS may be a range or "
                "network; repeatable)")
            ->type_name("ADDRESS=KIND")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }

    bool Chosen() const override { return m_app->parsed(); }

    int Run(const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) override {
        // Left out quietly, --dry-run would have a user who only meant to try listen do it for real.
        if (global.dryRun) {
            err << "tolctl: listen has no --dry-run: it takes connections as a printer would; nothing was "
                   "done\n";
            return kExitUsage;
        }
        return RunListen(m_options, out, err);
    }

  private:
    CLI::App* m_app;
    ListenOptions m_options;
};

}  // namespace

std::unique_ptr<Subcommand> AddListenCommand(CLI::App& app) {
    return std::unique_ptr<Subcommand>(new ListenCommand(app));
}
