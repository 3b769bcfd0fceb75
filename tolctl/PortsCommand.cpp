// `tolctl ports`: this computer's printer ports, with the --port URI of each.
#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

#include <nlohmann/json.hpp>

#include "tolctl/Output.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/Ports.h"
#include "values/Values.h"

namespace {

// One line per port (the URI, then its description), or with format "json" an array of
// {"uri", "description"}. "no printer port found" on `err` when there is none.
int RunPorts(const std::string& format, const GlobalOptions& global, std::ostream& out, std::ostream& err) {
    if (!NoPortGiven(global, "ports", err)) {
        return kExitUsage;
    }
    if (format != "text" && format != "json") {
        err << "tolctl: ports --format: " << ShownText(format) << " is not text or json\n";
        return kExitUsage;
    }
    const std::vector<LocalPort> ports = FindLocalPorts();
    if (format == "json") {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const LocalPort& port : ports) {
            list.push_back({{"uri", port.uri}, {"description", port.description}});
        }
        out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const LocalPort& port : ports) {
            rows.push_back({port.uri, port.description});
        }
        PrintColumns(rows, out);
    }
    out.flush();
    if (ports.empty()) {
        err << "tolctl: ports: no printer port found\n";
    }
    return kExitOk;
}

}  // namespace

void AddPortsCommand(CLI::App& app, Subcommands& list) {
    auto format = std::make_shared<std::string>("text");
    CLI::App* ports = app.add_subcommand("ports", "List this computer's printer ports and their --port URIs");
    ports->add_option("--format", *format, "text (default) or json")->type_name("text|json");
    list.push_back({ports, [format](const GlobalOptions& global, std::istream&, std::ostream& out,
                                    std::ostream& err) { return RunPorts(*format, global, out, err); }});
}
