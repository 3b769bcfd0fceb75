// The status of many printers read at once (`tolctl status`, a monitor, the console): each
// printer of the targets (Targets.h) asked through the status exchange (StatusExchange.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands/PrinterStatus.h"
#include "fleet/Targets.h"
#include "record/Record.h"
#include "transport/SendCmd.h"

class StopRequest;

/// How a fleet's status is read.
struct FleetStatusSettings {
    size_t jobs = 64;            // printers asked at a time
    int answerTimeoutMs = 1000;  // for each answer
    SendOptions send;            // the baud rate and the connect time-out; the port is each target's
    // The fleet record (null: none): each printer read is written to it when its state or
    // conditions differ from its last recorded ones.
    Record* record = nullptr;
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
