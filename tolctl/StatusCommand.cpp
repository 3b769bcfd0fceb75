// `tolctl status`: the real-time status of one printer or many, read, decoded and printed once,
// or watched for changes.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <ostream>

#include <nlohmann/json.hpp>

#include "commands/PrinterStatus.h"
#include "fleet/FleetStatus.h"
#include "fleet/StatusReport.h"
#include "system/UtcTime.h"
#include "tolctl/Interrupts.h"
#include "tolctl/Options.h"
#include "tolctl/Output.h"
#include "tolctl/StatusTargets.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/StatusExchange.h"
#include "values/Values.h"

namespace {

struct StatusOptions {
    StatusTargetOptions read;  // the printers and how they are read, as monitor's
    std::string format = "table";
    int watchSeconds = 0;  // 0: read once
};

// The conditions joined by commas, the drawer pin apart; for a printer that gave none, why
// there are none ("(connection refused)"), or "-".
std::string ShownConditions(const PrinterStatus& status) {
    std::string text = ConditionsText(status.conditions);
    if (text.empty()) {
        text = status.reason.empty() ? "-" : "(" + status.reason + ")";
    }
    return text;
}

// Whether any printer has labels: then the table has a LABELS column.
bool Labelled(const std::vector<Target>& targets) {
    return std::any_of(targets.begin(), targets.end(),
                       [](const Target& target) { return target.labels != nullptr; });
}

// One row: TARGET, LABELS (when `labelled`), STATE, DRAWER, CONDITIONS.
std::vector<std::string> Row(const Target& target, const PrinterStatus& status, bool labelled) {
    std::vector<std::string> row = {target.name, StatusStateName(status.state),
                                    DrawerPinText(status.state, status.conditions), ShownConditions(status)};
    if (labelled) {
        const std::string labels = LabelsText(LabelsOf(target));
        row.insert(row.begin() + 1, labels.empty() ? "-" : labels);
    }
    return row;
}

void PrintTable(const std::vector<Target>& targets, const FleetStatus& found, std::ostream& out) {
    const bool labelled = Labelled(targets);
    std::vector<std::vector<std::string>> rows = {{"TARGET", "STATE", "DRAWER", "CONDITIONS"}};
    if (labelled) {
        rows[0].insert(rows[0].begin() + 1, "LABELS");
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        if (found.read[i] != 0) {
            rows.push_back(Row(targets[i], found.printers[i], labelled));
        }
    }
    PrintColumns(rows, out);
}

// Reads the targets every `options.watchSeconds` and prints a timestamped line for each printer
// whose state or conditions differ from the last read (every printer, the first time), until a
// stop request. Answers the exit code of the printers' last states.
int Watch(const std::vector<Target>& targets,
          const FleetStatusSettings& settings,
          const StatusOptions& options,
          Interrupts& interrupts,
          std::ostream& out,
          std::ostream& err) {
    FleetStatus last;
    last.printers.resize(targets.size());
    last.read.assign(targets.size(), 0);
    bool jobsTold = false;
    const bool labelled = Labelled(targets);
    while (!interrupts.Stop().Requested()) {
        const FleetStatus found = ReadFleetStatus(targets, settings, interrupts.Stop());
        if (!found.jobsProblem.empty() && !jobsTold) {
            err << "tolctl: status: " << found.jobsProblem << '\n';
            jobsTold = true;
        }
        const std::string now = UtcNow();
        for (size_t i = 0; i < targets.size(); ++i) {
            if (found.read[i] == 0) {
                continue;
            }
            const PrinterStatus& status = found.printers[i];
            const bool changed = last.read[i] == 0 || last.printers[i].state != status.state ||
                                 last.printers[i].conditions != status.conditions;
            last.printers[i] = status;
            last.read[i] = 1;
            if (!changed) {
                continue;
            }
            if (options.format == "json") {
                nlohmann::ordered_json line;
                line["time"] = now;
                line.update(PrinterStatusJson(targets[i], status));
                out << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
            } else {
                std::vector<std::string> row = Row(targets[i], status, labelled);
                row.insert(row.begin(), now);
                for (size_t column = 0; column < row.size(); ++column) {
                    out << (column == 0 ? "" : "  ") << row[column];
                }
                out << '\n';
            }
        }
        out.flush();
        if (!out) {
            break;  // nobody reads the lines any more (said when tolctl ends)
        }
        interrupts.Stop().Sleep(std::chrono::seconds(options.watchSeconds));
    }
    return StatusExitCode(last);
}

int RunStatus(const StatusOptions& options,
              const GlobalOptions& global,
              std::ostream& out,
              std::ostream& err) {
    if (options.format != "table" && options.format != "json") {
        err << "tolctl: status --format: " << ShownText(options.format) << " is not table or json\n";
        return kExitUsage;
    }
    const bool named =
        !global.portText.empty() || !options.read.targets.empty() || !options.read.targetsFile.empty();
    std::vector<Target> targets;
    if ((named || !global.dryRun) && !GatherTargets(options.read, global, "status", targets, err)) {
        return kExitUsage;
    }
    if (global.dryRun) {
        // What each printer would be sent: the four requests, and nothing else.
        out << StatusRequestsText() << '\n';
        return kExitOk;
    }

    // From here on Ctrl-C asks the reads to stop, and what was read is still printed.
    Interrupts interrupts;
    const std::unique_ptr<Record> record = StatusRecord(global, "status", err);
    FleetStatusSettings settings = StatusSettings(options.read, global);
    settings.record = record.get();
    if (options.watchSeconds > 0) {
        return Watch(targets, settings, options, interrupts, out, err);
    }
    const FleetStatus found = ReadFleetStatus(targets, settings, interrupts.Stop());
    const int stoppedBy = interrupts.Signal();
    if (options.format == "json") {
        out << FleetStatusJsonText(targets, found) << '\n';
    } else {
        PrintTable(targets, found, out);
    }
    out.flush();
    if (!found.jobsProblem.empty()) {
        err << "tolctl: status: " << found.jobsProblem << '\n';
    }
    if (record != nullptr && !record->Flush()) {
        err << "tolctl: status: warning: the record lacks these reads: " << record->Problem() << '\n';
    }
    if (stoppedBy != 0) {
        err << "tolctl: status: interrupted; " << found.unread << " of " << targets.size()
            << " printers were not asked\n";
        return Interrupts::ExitCode(stoppedBy);
    }
    return StatusExitCode(found);
}

}  // namespace

void AddStatusCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<StatusOptions>();
    CLI::App* status = app.add_subcommand(
        "status", "Ask printers for their real-time status (DLE EOT 1-4) and show what they answer");
    AddStatusTargetOptions(*status, options->read);
    status->add_option("--format", options->format, "table (default) or json")->type_name("table|json");
    AddInteger(*status, "--watch", options->watchSeconds, 1, 86400,
               "Ask again every SECONDS and print a timestamped line for each printer whose state or "
               "conditions changed, until interrupted")
        ->type_name("SECONDS");
    status->footer(
        "Each printer gets DLE EOT 1, 2, 3 and 4 (10 04 n) one after the other on one connection, and "
        "nothing else; with --dry-run those bytes are printed and nothing is sent. A parallel port gives "
        "no answers. TCP connects give up after --connect-timeout.\n"
        "States, the first that applies: unreachable, no-answer, not-a-printer, error, offline, warning, "
        "ok. The table lists TARGET, LABELS (when a printer has labels), STATE, DRAWER (the drawer pin, high "
        "or low, apart from the conditions) and CONDITIONS (or, when there are none, the reason in "
        "parentheses) in target order; json an array of {target, labels (where it has any), state, "
        "conditions, answers, reason (where there is one)}.\n"
        "Exit codes: 0 every printer is ok or warning; 1 any is not; 2 usage or bad targets, and no "
        "printer was asked; 130/143 Ctrl-C (SIGINT) or SIGTERM cut it short (what was read is printed). "
        "--watch ends at Ctrl-C with 0 or 1 by the printers' last states.");
    list.push_back({status, [options](const GlobalOptions& global, std::istream&, std::ostream& out,
                                      std::ostream& err) { return RunStatus(*options, global, out, err); }});
}
