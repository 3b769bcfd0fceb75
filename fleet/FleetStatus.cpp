// The status of many printers: the TCP printers on one event loop, up to the jobs at once (the
// loop waits for all of them, no thread waits for one), the serial, parallel and USB ones on the
// job pool, each device's targets one after another.
#include "fleet/FleetStatus.h"

#include <asio/io_context.hpp>

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>

#include "fleet/Jobs.h"
#include "fleet/StopRequest.h"
#include "system/ErrnoText.h"
#include "transport/EthernetMessenger.h"
#include "transport/PortUri.h"
#include "transport/StatusDialogue.h"
#include "transport/StatusExchange.h"
#include "transport/StatusReads.h"

namespace {

// What a round has found so far; each index is written once, by one job or by the loop.
struct Found {
    explicit Found(FleetStatus& result) : result(result) {}

    void Read(size_t i, const PrinterStatus& status) {
        result.printers[i] = status;
        result.readAtMs[i] = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
        result.read[i] = 1;
    }

    FleetStatus& result;
};

// Reads the TCP printers `indexes` of `targets` on one event loop, up to `jobs` at once, until
// all are read or a stop request comes (the reads under way end).
void ReadOnLoop(const std::vector<Target>& targets,
                const std::vector<size_t>& indexes,
                size_t jobs,
                const FleetStatusSettings& settings,
                StopRequest& stop,
                Found& found) {
    std::unique_ptr<asio::io_context> made;
    try {
        made = std::make_unique<asio::io_context>(1);  // one thread runs it: a hint to Asio
    } catch (const std::system_error& failure) {
        // No event loop (Windows: no completion port): no printer could be reached.
        for (const size_t i : indexes) {
            found.Read(i, FailedOpenStatus(ErrorCodeText(failure.code()), failure.code().value(), false));
        }
        return;
    }
    asio::io_context& io = *made;
    size_t next = 0, active = 0;
    // Begins reads while there is room; each that ends makes room for the next.
    std::function<void()> more = [&] {
        while (active < jobs && next < indexes.size() && !stop.Requested()) {
            const size_t i = indexes[next++];
            ++active;
            SendOptions options = settings.send;
            options.port = targets[i].port;
            ReadTcpStatus(io, options, settings.answerTimeoutMs,
                          [&found, &active, &more, i](const PrinterStatus& status) {
                              found.Read(i, status);
                              --active;
                              more();
                          });
        }
    };
    more();
    io.run();
}

}  // namespace

FleetStatus ReadFleetStatus(const std::vector<Target>& targets,
                            const FleetStatusSettings& settings,
                            StopRequest& stop) {
    FleetStatus result;
    result.printers.resize(targets.size());
    result.read.assign(targets.size(), 0);
    result.readAtMs.assign(targets.size(), 0);
    Found found(result);
    const std::vector<std::vector<size_t>> lanes =
        TargetLanes(targets.size(), [&targets](size_t i) -> const Target& { return targets[i]; });
    std::vector<size_t> tcp;                          // the TCP printers, each a lane alone
    std::vector<const std::vector<size_t>*> devices;  // the lanes of devices
    for (const std::vector<size_t>& lane : lanes) {
        if (lane.size() == 1 && targets[lane.front()].port.kind == PortUri::Kind::Socket) {
            tcp.push_back(lane.front());
        } else {
            devices.push_back(&lane);
        }
    }
    // The jobs that fit: a thread for each device (up to all of them), the rest for the loop.
    const size_t jobs = FitJobs(settings.jobs, lanes.size()).jobs;
    const size_t deviceJobs = std::min(devices.size(), jobs);
    EthernetMessenger::KeepNetworkStarted();
    std::unique_ptr<JobPool> pool;
    if (!devices.empty()) {
        // This thread runs the loop first, then serves the device lanes that are left.
        pool = std::make_unique<JobPool>(deviceJobs + (tcp.empty() ? 0 : 1));
        for (const std::vector<size_t>* lane : devices) {
            pool->Post([&targets, &settings, &stop, &found, lane] {
                for (const size_t i : *lane) {
                    if (stop.Requested()) {
                        return;
                    }
                    SendOptions options = settings.send;
                    options.port = targets[i].port;
                    found.Read(i, ReadPrinterStatus(options, settings.answerTimeoutMs));
                }
            });
        }
    }
    if (!tcp.empty()) {
        ReadOnLoop(targets, tcp, std::max<size_t>(1, jobs - deviceJobs), settings, stop, found);
    }
    if (pool) {
        pool->Run();
        result.jobsProblem = pool->Problem();
    }
    result.unread = static_cast<size_t>(std::count(result.read.begin(), result.read.end(), 0));
    for (size_t i = 0; settings.record != nullptr && i < targets.size(); ++i) {
        if (result.read[i] != 0) {
            settings.record->StatusRead(PrinterName(targets[i].port),
                                        StatusStateName(result.printers[i].state),
                                        ConditionsText(result.printers[i].conditions));
        }
    }
    return result;
}
