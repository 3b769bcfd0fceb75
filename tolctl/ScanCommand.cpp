// `tolctl scan`: the addresses of a network whose printer port answers, printed as targets.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <ostream>

#include <nlohmann/json.hpp>

#include "commands/PrinterStatus.h"
#include "fleet/Scan.h"
#include "fleet/Targets.h"
#include "tolctl/Interrupts.h"
#include "tolctl/Options.h"
#include "tolctl/Output.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "values/AddressRange.h"
#include "values/Values.h"

namespace {

std::string StatusHex(int status) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", status & 0xFF);
    return hex;
}

// The probe's one answer decoded: what DLE EOT 1 alone can tell.
PrinterStatus ProbeStatus(int answer) {
    return DecodeStatus({{answer, -1, -1, -1}}, 1);
}

// "16 ok drawer-pin-high", "1a offline offline", "- no-answer".
std::string ProbeText(int answer) {
    const PrinterStatus status = ProbeStatus(answer);
    std::string text = (answer < 0 ? "-" : StatusHex(answer)) + " " + StatusStateName(status.state);
    std::string conditions;
    for (const char* name : StatusConditionNames(status.conditions)) {
        conditions += (conditions.empty() ? " " : ",") + std::string(name);
    }
    return text + conditions;
}

// What scan is given.
struct ScanOptions {
    std::string network;  // A.B.C.D/NN, A.B.C.D-E or one address
    std::string format = "targets";
    ScanSettings settings;
};

// Scans and prints the addresses that answered, in address order: as targets for `apply`
// (`socket://A.B.C.D`, with `:PORT` when not 9100; with a probe followed by a comment with
// the byte and what it tells, "# status 16 ok drawer-pin-high" or "# status - no-answer"), or
// as a JSON array. "no printer answered" on `err` when none
// did. SIGINT or SIGTERM (Ctrl-C) ends the scan early: what answered so far is printed the same
// way. Answers 0 when it ran, 1 when the system would not let it, 2 for a bad network or
// format, 128 + the signal's number when a signal ended it (130 for SIGINT).
int RunScan(const ScanOptions& options, const GlobalOptions& global, std::ostream& out, std::ostream& err) {
    // Left out quietly, --dry-run would have a user who only meant to try scan do it for real.
    if (global.dryRun) {
        err << "tolctl: scan has no --dry-run: it connects to every address it is given; nothing was "
               "done\n";
        return kExitUsage;
    }
    if (!NoPortGiven(global, "scan", err, " (scan's TCP port is --tcp-port)")) {
        return kExitUsage;
    }
    if (options.format != "targets" && options.format != "json" && options.format != "csv") {
        err << "tolctl: scan --format: " << ShownText(options.format) << " is not targets, csv or json\n";
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
    if (!ScanAddresses(addresses, options.settings, answers, problem, &interrupts.Stop())) {
        err << "tolctl: scan: " << problem << '\n';
        return kExitPort;
    }
    const int stoppedBy = interrupts.Signal();

    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    size_t found = 0;
    if (options.format == "csv") {
        // A targets spreadsheet: what the probe found in comment columns, which readers skip.
        out << (options.settings.probe ? "target,//status,//state,//conditions\n" : "target\n");
    }
    for (const ScanAnswer& answer : answers) {
        if (!answer.open) {
            continue;
        }
        ++found;
        const std::string target = ScanTargetName(answer.address, options.settings.tcpPort);
        if (options.format == "json") {
            nlohmann::ordered_json entry;
            entry["address"] = FormatAddress(answer.address);
            entry["port"] = options.settings.tcpPort;
            entry["target"] = target;
            if (options.settings.probe) {
                const PrinterStatus status = ProbeStatus(answer.status);
                entry["status"] = answer.status < 0 ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(StatusHex(answer.status));
                entry["state"] = StatusStateName(status.state);
                entry["conditions"] = nlohmann::ordered_json::array();
                for (const char* name : StatusConditionNames(status.conditions)) {
                    entry["conditions"].push_back(name);
                }
            }
            list.push_back(entry);
        } else if (options.format == "csv") {
            out << CsvCell(target);
            if (options.settings.probe) {
                const PrinterStatus status = ProbeStatus(answer.status);
                std::string conditions;
                for (const char* name : StatusConditionNames(status.conditions)) {
                    conditions += (conditions.empty() ? "" : ",") + std::string(name);
                }
                out << ',' << (answer.status < 0 ? "" : StatusHex(answer.status)) << ','
                    << StatusStateName(status.state) << ',' << CsvCell(conditions);
            }
            out << '\n';
        } else if (options.settings.probe) {
            out << target << "  # status " << ProbeText(answer.status) << '\n';
        } else {
            out << target << '\n';
        }
    }
    if (options.format == "json") {
        out << list.dump(2) << '\n';
    }
    out.flush();
    if (stoppedBy != 0) {
        err << "tolctl: scan: interrupted; " << Counted(found, "printer") << " had answered\n";
        return Interrupts::ExitCode(stoppedBy);
    }
    if (found == 0) {
        err << "tolctl: scan: no printer answered on port " << options.settings.tcpPort << " of "
            << FormatAddressSpan(addresses) << '\n';
    }
    return kExitOk;
}

}  // namespace

void AddScanCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<ScanOptions>();
    CLI::App* scan =
        app.add_subcommand("scan", "List the addresses of a network whose printer port answers, as targets");
    scan->add_option("NETWORK", options->network, "A.B.C.D/NN (NN 16-32), a range A.B.C.D-E, or one address")
        ->required();
    AddInteger(*scan, "--tcp-port", options->settings.tcpPort, 1, 65535, "TCP port to try (default 9100)");
    AddInteger(*scan, "--timeout", options->settings.timeoutMs, 1, 600000,
               "Milliseconds a connect, and a probe's answer, may take (default 500)")
        ->type_name("MS");
    AddInteger(*scan, "--jobs", options->settings.jobs, 1, kMaxScanJobs,
               "Connects under way at once (default 256)");
    scan->add_flag("--probe", options->settings.probe,
                   "Send the status request DLE EOT 1 (10 04 01) and show the status byte read back, and the "
                   "state and conditions it tells");
    scan->add_option(
            "--format", options->format,
            "targets (default: a targets file's lines), csv (a targets spreadsheet: a header row "
            "target, with --probe also //status, //state and //conditions, which readers skip) or json")
        ->type_name("targets|csv|json");
    scan->footer(
        "Ctrl-C (SIGINT) or SIGTERM ends a scan early: the targets found so far are printed, and the "
        "exit code is 130 (143 for SIGTERM).");
    list.push_back({scan, [options](const GlobalOptions& global, std::istream&, std::ostream& out,
                                    std::ostream& err) { return RunScan(*options, global, out, err); }});
}
