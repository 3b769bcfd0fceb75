#include "fleet/FleetStatus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <system_error>
#include <thread>

#include "fleet/Plan.h"
#include "fleet/StopRequest.h"
#include "system/FileLimit.h"
#include "system/Files.h"
#include "transport/EthernetMessenger.h"
#include "transport/StatusExchange.h"

namespace {

// The jobs that fit in this process's limit of open files, each holding one socket or device.
size_t FittingJobs(size_t wanted) {
    const size_t limit = RaiseOpenFileLimit();
    const size_t kept = OpenDescriptorCount() + kSpareDescriptors;
    const size_t most = limit == 0 ? wanted : limit > kept ? limit - kept : 1;
    return std::max<size_t>(1, std::min(wanted, most));
}

}  // namespace

std::vector<Target> GatherStatusTargets(const std::string& port,
                                        const std::vector<std::string>& targets,
                                        const std::string& targetsFile,
                                        std::vector<std::string>& errors) {
    std::vector<TargetLine> lines;
    if (!port.empty()) {
        lines.push_back(TargetLine{"--port", port, {}});
    }
    for (const std::string& target : targets) {
        lines.push_back(TargetLine{"--target", target, {}});
    }
    if (!targetsFile.empty()) {
        std::string text, problem;
        if (ReadFileBytes(targetsFile, kMaxTargetsBytes, text, problem)) {
            ParseTargetsText(text, FileLabel(targetsFile), lines, errors);
        } else {
            errors.push_back("--targets: " + problem);
        }
    }
    if (lines.empty() && errors.empty()) {
        errors.push_back("no printers: give --port, --target or --targets");
    }
    std::vector<Target> found;
    std::map<std::string, std::string> seen;  // identity -> where it was given
    for (const TargetLine& line : lines) {
        std::vector<Target> expanded;
        std::string problem;
        if (!ExpandTarget(line.target, kWindowsPortNames, expanded, problem)) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        for (Target& target : expanded) {
            const auto known = seen.emplace(TargetIdentity(target), line.origin);
            if (!known.second) {
                errors.push_back(line.origin + ": " + target.name + " is already a target (" +
                                 known.first->second + ")");
                continue;
            }
            found.push_back(std::move(target));
        }
    }
    return found;
}

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
