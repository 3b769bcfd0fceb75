// `tolctl scan`: the addresses of a network whose printer port answers, printed as targets.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <ostream>

#include <nlohmann/json.hpp>

#include "AddressRange.h"
#include "Interrupts.h"
#include "Options.h"
#include "Scan.h"
#include "Subcommand.h"
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

class ScanCommand : public Subcommand {
  public:
    explicit ScanCommand(CLI::App& app)
        : m_app(
              app.add_subcommand("scan",
                                 "List the addresses of a network whose printer port answers, as targets")) {
        m_app->add_option("NETWORK", m_network, "A.B.C.D/NN (NN 16-32), a range A.B.C.D-E, or one address")
            ->required();
        AddInteger(*m_app, "--tcp-port", m_settings.tcpPort, 1, 65535, "TCP port to try (default 9100)");
        AddInteger(*m_app, "--timeout", m_settings.timeoutMs, 1, 600000,
                   "Milliseconds a connect, and a probe's answer, may take (default 500)")
            ->type_name("MS");
        AddInteger(*m_app, "--jobs", m_settings.jobs, 1, kMaxScanJobs,
                   "Connects under way at once (default 256)");
        m_app->add_flag("--probe", m_settings.probe,
                        "Send the status request DLE EOT 1 (10 04 01) and show the status byte read back");
        m_app->add_option("--format", m_format, "targets (default) or json")->type_name("targets|json");
        m_app->footer(
            "Ctrl-C (SIGINT) or SIGTERM ends a scan early: the targets found so far are printed, and the "
            "exit "
            "code is 130 (143 for SIGTERM).");
    }

    bool Chosen() const override { return m_app->parsed(); }

    // Scans and prints the addresses that answered, in address order: as targets for `apply`
    // (`socket://A.B.C.D`, with `:PORT` when not 9100; with a probe followed by a comment
    // "# status 16" or "# status -"), or as a JSON array. "no printer answered" on `err` when none
    // did. SIGINT or SIGTERM (Ctrl-C) ends the scan early: what answered so far is printed the same
    // way. Answers 0 when it ran, 1 when the system would not let it, 2 for a bad network or
    // format, 128 + the signal's number when a signal ended it (130 for SIGINT).
    int Run(const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) override {
        // Left out quietly, --dry-run would have a user who only meant to try scan do it for real.
        if (global.dryRun) {
            err << "tolctl: scan has no --dry-run: it connects to every address it is given; nothing was "
                   "done\n";
            return kExitUsage;
        }
        if (!NoPortGiven(global, "scan", err, " (scan's TCP port is --tcp-port)")) {
            return kExitUsage;
        }
        if (m_format != "targets" && m_format != "json") {
            err << "tolctl: scan --format: " << ShownText(m_format) << " is not targets or json\n";
            return kExitUsage;
        }
        std::vector<uint32_t> addresses;
        std::string problem;
        if (!ParseAddressRange(m_network, addresses, problem)) {
            err << "tolctl: scan: " << problem << '\n';
            return kExitUsage;
        }
        std::vector<ScanAnswer> answers;
        Interrupts interrupts;  // Ctrl-C ends the scan, but what answered so far is still printed
        if (!ScanAddresses(addresses, m_settings, answers, problem, &interrupts.Stop())) {
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
            const std::string target = Target(answer.address, m_settings.tcpPort);
            if (m_format == "json") {
                nlohmann::ordered_json entry;
                entry["address"] = FormatAddress(answer.address);
                entry["port"] = m_settings.tcpPort;
                entry["target"] = target;
                if (m_settings.probe) {
                    entry["status"] = answer.status < 0 ? nlohmann::ordered_json()
                                                        : nlohmann::ordered_json(StatusHex(answer.status));
                }
                list.push_back(entry);
            } else if (m_settings.probe) {
                out << target << "  # status " << (answer.status < 0 ? "-" : StatusHex(answer.status))
                    << '\n';
            } else {
                out << target << '\n';
            }
        }
        if (m_format == "json") {
            out << list.dump(2) << '\n';
        }
        out.flush();
        if (stoppedBy != 0) {
            err << "tolctl: scan: interrupted; " << found << " printers had answered\n";
            return Interrupts::ExitCode(stoppedBy);
        }
        if (found == 0) {
            err << "tolctl: scan: no printer answered on port " << m_settings.tcpPort << " of "
                << FormatAddressSpan(addresses) << '\n';
        }
        return kExitOk;
    }

  private:
    CLI::App* m_app;
    std::string m_network;
    std::string m_format = "targets";
    ScanSettings m_settings;
};

}  // namespace

std::unique_ptr<Subcommand> AddScanCommand(CLI::App& app) {
    return std::unique_ptr<Subcommand>(new ScanCommand(app));
}
