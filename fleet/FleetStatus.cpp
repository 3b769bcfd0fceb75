#include "FleetStatus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <system_error>
#include <thread>

#include "EthernetMessenger.h"
#include "FileLimit.h"
#include "Files.h"
#include "Plan.h"
#include "StatusExchange.h"
#include "StopRequest.h"

namespace {

// The jobs that fit in this process's limit of open files, each holding one socket or device.
size_t FittingJobs(size_t wanted) {
    const size_t limit = RaiseOpenFileLimit();
    const size_t kept = OpenDescriptorCount() + kSpareDescriptors;
    const size_t most = limit == 0 ? wanted : limit > kept ? limit - kept : 1;
    return std::max<size_t>(1, std::min(wanted, most));
}

}  // namespace

FleetStatus ReadFleetStatus(const std::vector<Target>& targets,
                            const FleetStatusSettings& settings,
                            StopRequest& stop) {
    FleetStatus result;
    result.printers.resize(targets.size());
    result.read.assign(targets.size(), 0);
    result.readAtMs.assign(targets.size(), 0);
    const std::vector<std::vector<size_t>> lanes =
        TargetLanes(targets.size(), [&targets](size_t i) -> const Target& { return targets[i]; });

    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t lane = next++; lane < lanes.size(); lane = next++) {
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
        }
    };
    const size_t jobs = std::min(FittingJobs(settings.jobs), lanes.size());
    EthernetMessenger::KeepNetworkStarted();
    std::vector<std::thread> workers;
    try {
        while (workers.size() + 1 < jobs) {
            workers.emplace_back(work);
        }
    } catch (const std::system_error& e) {
        result.jobsProblem = "only " + std::to_string(workers.size() + 1) + " of " + std::to_string(jobs) +
                             " jobs could be started: " + e.what();
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    result.unread = static_cast<size_t>(std::count(result.read.begin(), result.read.end(), 0));
    return result;
}
