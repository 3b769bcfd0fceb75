// The status of many printers read at once (`tolctl status`, a monitor): the targets gathered as
// apply's are, and each printer asked through the status exchange (StatusExchange.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/PrinterStatus.h"
#include "fleet/Targets.h"
#include "transport/SendCmd.h"

class StopRequest;

/// The printers named by a --port value (`port`, empty for none), --target values and a targets
/// file (empty for none), in that order, ranges and networks expanded. The KEY=VALUE overrides
/// of a targets file's lines are ignored, so that the file of an apply serves as it is. Problems
/// (a target that is no port, a printer named twice, no printers at all, a file that cannot be
/// read) are added to `errors`.
std::vector<Target> GatherStatusTargets(const std::string& port,
                                        const std::vector<std::string>& targets,
                                        const std::string& targetsFile,
                                        std::vector<std::string>& errors);

/// How a fleet's status is read.
struct FleetStatusSettings {
    size_t jobs = 64;            // printers asked at a time
    int answerTimeoutMs = 1000;  // for each answer
    SendOptions send;            // the baud rate and the connect time-out; the port is each target's
};

/// What a round of reads found, in the targets' order.
struct FleetStatus {
    std::vector<PrinterStatus> printers;
    std::vector<char> read;         // 0 for a printer not asked because a stop request came first
    std::vector<int64_t> readAtMs;  // when each read ended: Unix time in milliseconds (0: not read)
    size_t unread = 0;              // how many those are
    std::string jobsProblem;        // when fewer jobs could be started than were wanted
};

/// Reads the status of every target, up to `settings.jobs` at a time (fewer when this process
/// may not open that many files); the targets of one device one after another. After a request
/// to `stop` no printer is begun; the reads under way end.
FleetStatus ReadFleetStatus(const std::vector<Target>& targets,
                            const FleetStatusSettings& settings,
                            StopRequest& stop);
