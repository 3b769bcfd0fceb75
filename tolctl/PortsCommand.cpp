#include "Ports.h"

#include <algorithm>
#include <ostream>

#include <nlohmann/json.hpp>

#include "Tolctl.h"
#include "Values.h"

int RunPorts(const std::string& format, std::ostream& out, std::ostream& err) {
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
