// A fleet's status written out for others to read: the JSON of `tolctl status --format json` and
// of the monitor's /status, and the Prometheus text of the monitor's /metrics.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fleet/FleetStatus.h"
#include "fleet/Targets.h"

/// One printer's status: {"target", "state", "conditions", "answers", "reason" when there is one}.
nlohmann::ordered_json PrinterStatusJson(const Target& target, const PrinterStatus& status);

/// The printers of `found` that were read, in target order, as a JSON array of PrinterStatusJson,
/// as text (two spaces of indent, no line end).
std::string FleetStatusJsonText(const std::vector<Target>& targets, const FleetStatus& found);

/// The printers of `found` that were read, in the Prometheus text exposition format (version
/// 0.0.4), each metric with its # HELP and # TYPE lines, also when no printer was read yet:
/// tolctl_printer_info (1, labelled with the target and its labels, their names as
/// PrometheusLabelName makes them), tolctl_printer_up (1 when all four answers came), tolctl_printer_state (1
/// for the printer's state, 0 for the others), tolctl_printer_condition (0 or 1 for every condition) and
/// tolctl_printer_status_seconds (Unix time of the read), each labelled with the target's name.
std::string FleetStatusMetrics(const std::vector<Target>& targets, const FleetStatus& found);

/// What a monitor says of itself.
struct MonitorFacts {
    std::string version;       // the tolctl serving
    double roundSeconds = -1;  // how long the last round of reads took; negative before the first
};

/// tolctl_monitor_build_info{version="..."} 1 and tolctl_monitor_round_seconds (once a round
/// ended), with their # HELP and # TYPE lines, in the Prometheus text exposition format.
std::string MonitorMetrics(const MonitorFacts& facts);
