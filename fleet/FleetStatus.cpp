#include "FleetStatus.h"

#include <algorithm>
#include <chrono>

#include "EthernetMessenger.h"
#include "Jobs.h"
#include "StatusExchange.h"
#include "StopRequest.h"

FleetStatus ReadFleetStatus(const std::vector<Target>& targets,
                            const FleetStatusSettings& settings,
                            StopRequest& stop) {
    FleetStatus result;
    result.printers.resize(targets.size());
    result.read.assign(targets.size(), 0);
    result.readAtMs.assign(targets.size(), 0);
    const std::vector<std::vector<size_t>> lanes =
        TargetLanes(targets.size(), [&targets](size_t i) -> const Target& { return targets[i]; });

    EthernetMessenger::KeepNetworkStarted();
    const size_t jobs = FitJobs(settings.jobs, lanes.size()).jobs;
    result.jobsProblem = ServeLanes(lanes.size(), jobs, [&](size_t lane) {
        for (const size_t i : lanes[lane]) {
            if (stop.Requested()) {
                return;
            }
            SendOptions options = settings.send;
            options.port = targets[i].port;
            result.printers[i] = ReadPrinterStatus(options, settings.answerTimeoutMs);
            result.readAtMs[i] = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
            result.read[i] = 1;  // each index is written by one job only
        }
    });
    result.unread = static_cast<size_t>(std::count(result.read.begin(), result.read.end(), 0));
    return result;
}
