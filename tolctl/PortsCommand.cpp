// `tolctl ports`: this computer's printer ports, with the --port URI of each.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include <nlohmann/json.hpp>

#include "Ports.h"
#include "Subcommand.h"
#include "Tolctl.h"
#include "Values.h"

namespace {

class PortsCommand : public Subcommand {
  public:
    explicit PortsCommand(CLI::App& app)
        : m_app(app.add_subcommand("ports", "List this computer's printer ports and their --port URIs")) {
        m_app->add_option("--format", m_format, "text (default) or json")->type_name("text|json");
    }

    bool Chosen() const override { return m_app->parsed(); }

    // One line per port (the URI, then its description), or with format "json" an array of
    // {"uri", "description"}. "no printer port found" on `err` when there is none.
    int Run(const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) override {
        if (!NoPortGiven(global, "ports", err)) {
            return kExitUsage;
        }
        if (m_format != "text" && m_format != "json") {
            err << "tolctl: ports --format: " << ShownText(m_format) << " is not text or json\n";
            return kExitUsage;
        }
        const std::vector<LocalPort> ports = FindLocalPorts();
        if (m_format == "json") {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const LocalPort& port : ports) {
                list.push_back({{"uri", port.uri}, {"description", port.description}});
            }
            out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
        } else {
            size_t width = 0;
            for (const LocalPort& port : ports) {
                width = std::max(width, port.uri.size());
            }
            for (const LocalPort& port : ports) {
                out << port.uri << std::string(width - port.uri.size() + 2, ' ') << port.description << '\n';
            }
        }
        out.flush();
        if (ports.empty()) {
            err << "tolctl: ports: no printer port found\n";
        }
        return kExitOk;
    }

  private:
    CLI::App* m_app;
    std::string m_format = "text";
};

}  // namespace

std::unique_ptr<Subcommand> AddPortsCommand(CLI::App& app) {
    return std::unique_ptr<Subcommand>(new PortsCommand(app));
}
