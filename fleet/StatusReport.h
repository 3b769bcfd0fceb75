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
/// tolctl_printer_up (1 when all four answers came), tolctl_printer_state (1 for the printer's
/// state, 0 for the others), tolctl_printer_condition (0 or 1 for every condition) and
/// tolctl_printer_status_seconds (Unix time of the read), each labelled with the target's name.
std::string FleetStatusMetrics(const std::vector<Target>& targets, const FleetStatus& found);
