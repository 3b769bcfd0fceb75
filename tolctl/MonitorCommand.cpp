// `tolctl monitor`: the status of printers read every --interval seconds and served over HTTP,
// for Prometheus (/metrics) and for scripts (/status).
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>

#include "fleet/FleetStatus.h"
#include "fleet/StatusReport.h"
#include "http/HttpServer.h"
#include "tolctl/ApplyCommand.h"
#include "tolctl/Interrupts.h"
#include "tolctl/Options.h"
#include "tolctl/Output.h"
#include "tolctl/StatusTargets.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/EthernetMessenger.h"
#include "values/Values.h"

namespace {

/// The stop request's reason when serving ended by itself (a signal's number otherwise).
constexpr int kServingEnded = -1;

struct MonitorOptions {
    StatusTargetOptions read;  // the printers and how they are read, as status's
    int intervalSeconds = 15;
    std::string listen = "127.0.0.1:9464";
};

// The pages of the last round, replaced whole when a round ends; read by the server's threads.
class Pages {
  public:
    void Set(std::string metrics, std::string status) {
        auto shared = std::make_shared<const Texts>(Texts{std::move(metrics), std::move(status)});
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts = std::move(shared);
    }
    HttpReply Metrics() const {
        HttpReply reply;
        reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
        reply.body = Current()->metrics;
        return reply;
    }
    HttpReply Status() const {
        HttpReply reply;
        reply.contentType = "application/json";
        reply.body = Current()->status + "\n";
        return reply;
    }

  private:
    struct Texts {
        std::string metrics, status;
    };
    // The texts are copied outside the lock: a round's end never waits for a slow copy.
    std::shared_ptr<const Texts> Current() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

    mutable std::mutex m_mutex;
    std::shared_ptr<const Texts> m_texts;
};

// Reads the targets again (SIGHUP): the printers that stay keep their last read, the new ones
// have none yet. When the targets cannot be read, the old list stays and `err` says why.
void ReadTargetsAgain(const MonitorOptions& options,
                      const GlobalOptions& global,
                      std::vector<Target>& targets,
                      FleetStatus& last,
                      std::ostream& err) {
    std::vector<Target> fresh;
    if (!GatherTargets(options.read, global, "monitor", fresh, err,
                       "SIGHUP: the targets were not read again; the " + std::to_string(targets.size()) +
                           " printers of before are still read and served")) {
        return;
    }
    std::map<std::string, size_t> before;
    for (size_t i = 0; i < targets.size(); ++i) {
        before.emplace(TargetIdentity(targets[i]), i);
    }
    FleetStatus kept;
    kept.printers.resize(fresh.size());
    kept.read.assign(fresh.size(), 0);
    kept.readAtMs.assign(fresh.size(), 0);
    for (size_t i = 0; i < fresh.size(); ++i) {
        const auto found = before.find(TargetIdentity(fresh[i]));
        if (found != before.end()) {
            kept.printers[i] = last.printers[found->second];
            kept.read[i] = last.read[found->second];
            kept.readAtMs[i] = last.readAtMs[found->second];
        }
    }
    err << "tolctl: monitor: SIGHUP: " << Counted(fresh.size(), "printer")
        << " read from the targets again\n";
    targets = std::move(fresh);
    last = std::move(kept);
}

int RunMonitor(const MonitorOptions& options,
               const GlobalOptions& global,
               std::ostream& out,
               std::ostream& err) {
    // Left out quietly, --dry-run would have a user who only meant to try monitor read for real.
    if (global.dryRun) {
        err << "tolctl: monitor has no --dry-run: it asks every printer for its status; nothing was done\n";
        return kExitUsage;
    }
    std::string address;
    uint32_t addressValue = 0;
    int port = 0;
    if (!ParseListen(options.listen, address, addressValue, port)) {
        err << "tolctl: monitor --listen: " << ShownText(options.listen)
            << " is not ADDRESS:PORT (A.B.C.D and 0-65535, e.g. 127.0.0.1:9464)\n";
        return kExitUsage;
    }
    std::vector<Target> targets;
    if (!GatherTargets(options.read, global, "monitor", targets, err)) {
        return kExitUsage;
    }

    // Made before the server's threads, which it keeps from the signals it waits for.
    Interrupts interrupts;
    StopRequest& stop = interrupts.Stop();
    // SIGHUP reads the targets again, between two rounds.
    std::atomic<bool> reread{false};
    interrupts.OnHangUp([&reread, &stop] {
        reread = true;
        stop.Wake();
    });
    EthernetMessenger::KeepNetworkStarted();
    FleetStatus last;  // what each printer said when last read
    last.printers.resize(targets.size());
    last.read.assign(targets.size(), 0);
    last.readAtMs.assign(targets.size(), 0);
    MonitorFacts facts{TolctlVersion(), -1};
    Pages pages;
    const auto publish = [&] {
        pages.Set(FleetStatusMetrics(targets, last) + MonitorMetrics(facts),
                  FleetStatusJsonText(targets, last));
    };
    publish();

    HttpServer server;
    server.Get("/metrics", [&pages] { return pages.Metrics(); });
    server.Get("/status", [&pages] { return pages.Status(); });
    std::string problem;
    if (!server.Listen(address, port, problem)) {
        err << "tolctl: monitor: cannot listen on " << options.listen << ": " << problem << '\n';
        return kExitPort;
    }
    out << "monitor on http://" << address << ':' << server.Port() << "/metrics" << std::endl;
    if (addressValue >> 24 != 127) {
        err << "tolctl: monitor: warning: " << address
            << " is not a loopback address: whoever reaches it may read the printers' status\n";
    }
    server.Start([&stop] { stop.Request(kServingEnded); });

    const std::unique_ptr<Record> record = StatusRecord(global, "monitor", err);
    FleetStatusSettings settings = StatusSettings(options.read, global);
    settings.record = record.get();
    bool jobsTold = false;
    while (!stop.Requested()) {
        if (reread.exchange(false)) {
            ReadTargetsAgain(options, global, targets, last, err);
            publish();
        }
        // Rounds start every interval; one that takes longer is followed by the next at once.
        const auto start = std::chrono::steady_clock::now();
        const FleetStatus found = ReadFleetStatus(targets, settings, stop);
        if (!found.jobsProblem.empty() && !jobsTold) {
            err << "tolctl: monitor: " << found.jobsProblem << '\n';
            jobsTold = true;
        }
        for (size_t i = 0; i < targets.size(); ++i) {
            if (found.read[i] != 0) {
                last.printers[i] = found.printers[i];
                last.read[i] = 1;
                last.readAtMs[i] = found.readAtMs[i];
            }
        }
        if (found.unread == 0) {
            facts.roundSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        publish();
        const auto left =
            start + std::chrono::seconds(options.intervalSeconds) - std::chrono::steady_clock::now();
        // A SIGHUP ends the wait: the next round reads the new targets at once.
        stop.Sleep(std::chrono::duration_cast<std::chrono::milliseconds>(left));
    }
    server.Stop();
    if (stop.Reason() == kServingEnded) {
        err << "tolctl: monitor: serving on " << options.listen << " ended: its socket failed\n";
        return kExitPort;
    }
    return StatusExitCode(last);
}

}  // namespace

void AddMonitorCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<MonitorOptions>();
    CLI::App* monitor = app.add_subcommand(
        "monitor",
        "Read printers' status every --interval seconds and serve it over HTTP (Prometheus metrics, JSON)");
    AddStatusTargetOptions(*monitor, options->read);
    AddInteger(*monitor, "--interval", options->intervalSeconds, 1, 86400,
               "Seconds from the start of one round of reads to the next (default 15)")
        ->type_name("SECONDS");
    monitor
        ->add_option("--listen", options->listen,
                     "Where to serve: A.B.C.D:PORT (default 127.0.0.1:9464; port 0 takes a free one)")
        ->type_name("ADDR:PORT");
    monitor->footer(
        "Every printer is read as status reads it, one round at a time: the first at once, the next "
        "--interval seconds after a round began (at once after a round that took longer). The first line "
        "printed says where it serves.\n"
        "GET /metrics: the last read of each printer in Prometheus's text format: tolctl_printer_up (1 when "
        "all four answers came), tolctl_printer_state (1 for its state, 0 for the six others), "
        "tolctl_printer_condition (0 or 1 for every condition) and tolctl_printer_status_seconds (Unix time "
        "of the read), each labelled target=\"socket://A.B.C.D:PORT\" (its name as status shows it), "
        "state=\"...\" or condition=\"...\". Before the first round ends it has no printer. GET /status: the "
        "JSON array of status --format json. Other paths: 404. An address other than 127.x.x.x is served "
        "with a warning: whoever reaches it reads the printers' status.\n"
        "Exit codes: at Ctrl-C (SIGINT) or SIGTERM 0 when every printer was ok or warning when last read, "
        "else 1; 1 it cannot listen; 2 usage or bad targets, and no printer was asked.");
    list.push_back(
        {monitor, [options](const GlobalOptions& global, std::istream&, std::ostream& out,
                            std::ostream& err) { return RunMonitor(*options, global, out, err); }});
}
