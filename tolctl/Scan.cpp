#include "Scan.h"

#include <cstdio>
#include <ostream>

#include <nlohmann/json.hpp>

#include "AddressRange.h"
#include "Interrupts.h"
#include "Tolctl.h"
#include "Values.h"

namespace {

std::string Target(uint32_t address, int port) {
    std::string target = "socket://" + FormatAddress(address);
    if (port != 9100) {
        target += ":" + std::to_string(port);
    }
    return target;
}

std::string StatusHex(int status) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", status & 0xFF);
    return hex;
}

}  // namespace

int RunScan(const ScanOptions& options, std::ostream& out, std::ostream& err) {
    if (options.format != "targets" && options.format != "json") {
        err << "tolctl: scan --format: " << ShownText(options.format) << " is not targets or json\n";
        return kExitUsage;
    }
    std::vector<uint32_t> addresses;
    std::string problem;
    if (!ParseAddressRange(options.network, addresses, problem)) {
        err << "tolctl: scan: " << problem << '\n';
        return kExitUsage;
    }
    std::vector<ScanAnswer> answers;
    Interrupts interrupts;  // Ctrl-C ends the scan, but what answered so far is still printed
    if (!ScanAddresses(addresses, options, answers, problem, &interrupts)) {
        err << "tolctl: scan: " << problem << '\n';
        return kExitPort;
    }
    const int stoppedBy = interrupts.Signal();

    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    size_t found = 0;
    for (const ScanAnswer& answer : answers) {
        if (!answer.open) {
            continue;
        }
        ++found;
        const std::string target = Target(answer.address, options.tcpPort);
        if (options.format == "json") {
            nlohmann::ordered_json entry;
            entry["address"] = FormatAddress(answer.address);
            entry["port"] = options.tcpPort;
            entry["target"] = target;
            if (options.probe) {
                entry["status"] = answer.status < 0 ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(StatusHex(answer.status));
            }
            list.push_back(entry);
        } else if (options.probe) {
            out << target << "  # status " << (answer.status < 0 ? "-" : StatusHex(answer.status)) << '\n';
        } else {
            out << target << '\n';
        }
    }
    if (options.format == "json") {
        out << list.dump(2) << '\n';
    }
    out.flush();
    if (stoppedBy != 0) {
        err << "tolctl: scan: interrupted; " << found << " printers had answered\n";
        return Interrupts::ExitCode(stoppedBy);
    }
    if (found == 0) {
        err << "tolctl: scan: no printer answered on port " << options.tcpPort << " of "
            << FormatAddressSpan(addresses) << '\n';
    }
    return kExitOk;
}
