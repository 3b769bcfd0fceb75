#include "Apply.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "Cmd.h"
#include "Decode.h"
#include "FileLimit.h"
#include "Files.h"
#include "Interrupts.h"
#include "Messenger.h"
#include "Profile.h"
#include "ReportFile.h"
#include "ShownCmd.h"
#include "Targets.h"
#include "Tolctl.h"
#include "Values.h"

#ifndef TOLCTL_VERSION
#define TOLCTL_VERSION "unknown"
#endif

namespace {

using Clock = std::chrono::steady_clock;

/// Largest targets file read.
constexpr size_t kMaxTargetsBytes = 16 * 1024 * 1024;
/// Problems shown before the rest are only counted.
constexpr size_t kMaxShownErrors = 20;
/// Files a run keeps open besides its jobs' sockets and devices and what it had open at the start.
constexpr size_t kSpareDescriptors = 16;
/// Longest a command waits for this process to have room for one more socket or device.
constexpr std::chrono::seconds kLongestWaitForRoom(60);

struct CommandResult {
    enum class State { NotSent, Sent, Failed } state = State::NotSent;
    double startMs = 0;  // since the apply began
    double ms = 0;
};

// One printer and, once it was served, what became of it: small, since a roll-out may have tens
// of thousands. Each command's result goes to the report as the printer is done.
struct Printer {
    enum class Result : uint8_t {
        NotBegun,     // a stop request came before its turn
        Ok,           // took every command
        Failed,       // a command failed; nothing was sent after it
        Interrupted,  // a stop request came between two of its commands
    };
    Target target;
    const std::vector<PlannedCmd>* plan = nullptr;
    Result result = Result::NotBegun;
    uint32_t sent = 0;
    std::string error;
    SpooledText report;  // its part of the report
};

// The static addresses that `settings` give a printer: "lan.ip" and "wifi-station.ip".
std::vector<std::pair<std::string, uint32_t>> StaticAddresses(const Settings& settings) {
    std::vector<std::pair<std::string, uint32_t>> found;
    for (const char* key : {"lan.ip", "wifi-station.ip"}) {
        const SettingValue* value = settings.Find(key);
        uint32_t address = 0;
        if (value != nullptr && ParseAddress(value->text, address)) {
            found.emplace_back(key, address);
        }
    }
    return found;
}

// Everything checked and planned, before anything is sent.
struct Preparation {
    std::deque<std::vector<PlannedCmd>> plans;  // stable addresses for the printers
    std::vector<Printer> printers;
    std::vector<std::string> errors;
};

void Prepare(const ApplyOptions& options, std::istream& in, Preparation& prep) {
    std::vector<std::string>& errors = prep.errors;
    SecretSource secrets(in);
    Settings profile;
    const bool profileOk = LoadProfile(options.profile, secrets, profile, errors);
    const std::string profileName = FileLabel(options.profile);

    std::vector<TargetLine> lines;
    for (const std::string& target : options.targets) {
        lines.push_back(TargetLine{"--target", target, {}});
    }
    if (!options.targetsFile.empty()) {
        std::string text, problem;
        if (ReadFileBytes(options.targetsFile, kMaxTargetsBytes, text, problem)) {
            ParseTargetsText(text, FileLabel(options.targetsFile), lines, errors);
        } else {
            errors.push_back("--targets: " + problem);
        }
    }
    if (lines.empty() && errors.empty()) {
        errors.push_back("no printers: give --target PORT or --targets FILE");
    }

    const std::vector<PlannedCmd>* profilePlan = nullptr;
    bool profilePlanned = false;
    std::map<std::string, std::string> seen;                         // identity -> where it was given
    std::map<std::pair<std::string, uint32_t>, std::string> owners;  // a static address -> its printer
    for (const TargetLine& line : lines) {
        std::vector<Target> targets;
        std::string problem;
        if (!ExpandTarget(line.target, kWindowsPortNames, targets, problem)) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        const std::vector<PlannedCmd>* plan = nullptr;
        std::vector<std::pair<std::string, uint32_t>> addresses;
        if (profileOk && line.overrides.empty()) {
            if (!profilePlanned) {
                profilePlanned = true;
                std::vector<PlannedCmd> commands;
                if (PlanCommands(profile, profileName, commands, errors)) {
                    if (commands.empty()) {
                        errors.push_back(profileName + ": sets nothing, so there is nothing to send");
                    } else {
                        prep.plans.push_back(std::move(commands));
                        profilePlan = &prep.plans.back();
                    }
                }
            }
            plan = profilePlan;
            addresses = StaticAddresses(profile);
        } else if (profileOk) {
            Settings settings = profile;
            const size_t before = errors.size();
            SetOverrides(line.overrides, line.origin, options.targetsFile, secrets, settings, errors);
            addresses = StaticAddresses(settings);
            std::vector<PlannedCmd> commands;
            if (errors.size() == before && PlanCommands(settings, line.origin, commands, errors)) {
                if (commands.empty()) {
                    errors.push_back(line.origin +
                                     ": nothing to send: the profile and the overrides set nothing");
                } else {
                    prep.plans.push_back(std::move(commands));
                    plan = &prep.plans.back();
                }
            }
        }
        for (Target& target : targets) {
            const std::string identity = TargetIdentity(target);
            const auto known = seen.emplace(identity, line.origin);
            if (!known.second) {
                errors.push_back(line.origin + ": " + target.name + " is already a target (" +
                                 known.first->second + "); a printer is set up once");
                continue;
            }
            for (const auto& address : addresses) {
                const auto owner = owners.emplace(address, target.name + " (" + line.origin + ")");
                if (!owner.second) {
                    errors.push_back(line.origin + ": " + target.name + " and " + owner.first->second +
                                     " are both given " + address.first + " " +
                                     FormatAddress(address.second) +
                                     "; a static address belongs to one printer");
                }
            }
            Printer printer;
            printer.target = std::move(target);
            printer.plan = plan;
            prep.printers.push_back(std::move(printer));
        }
    }

    // The report must not overwrite what it reports on. By file identity: another name for the
    // same file (a link, "./shop.json") is the same file.
    if (!options.report.empty()) {
        std::vector<std::pair<std::string, std::string>> inputs = {{"the profile", options.profile}};
        if (!options.targetsFile.empty()) {
            inputs.emplace_back("the targets file", options.targetsFile);
        }
        for (const std::string& file : secrets.Files()) {
            inputs.emplace_back("a password file", file);
        }
        for (const auto& input : inputs) {
            if (SameFile(options.report, input.second)) {
                errors.push_back("--report: " + ShownText(options.report, std::string::npos) + " is " +
                                 input.first + " (" + ShownText(input.second, std::string::npos) +
                                 "); the report would overwrite it");
            }
        }
    }
}

void PrintDryRun(const std::vector<Printer>& printers, bool showSecrets, std::ostream& out) {
    for (const Printer& printer : printers) {
        out << printer.target.name << '\n';
        for (const PlannedCmd& planned : *printer.plan) {
            const SecretSpan secret{planned.secretBegin, planned.secretEnd};
            out << "  " << ShownHex(*planned.cmd, secret, showSecrets) << '\n'
                << "    " << ShownDecoded(*planned.cmd, secret, showSecrets) << '\n';
        }
    }
}

double MsSince(Clock::time_point start, Clock::time_point when) {
    return std::chrono::duration<double, std::milli>(when - start).count();
}

double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
}

// What the jobs count as they go, for the progress line and the end.
struct Tally {
    std::atomic<size_t> done{0};
    std::atomic<size_t> failed{0};
    std::atomic<size_t> commands{0};  // sent
};

// What every job of one apply shares.
struct Run {
    const SendOptions& send;
    int gapMs;
    Clock::time_point start;
    Interrupts& interrupts;
    ReportFile* report;  // null without --report
    Tally tally;
};

// Sends one command. While this process has no room for one more socket or device the command
// reached no one: it waits for others to close theirs and is tried again, a local limit is not
// the printer's failure. False when a stop request came meanwhile (nothing was sent).
bool SendWaitingForRoom(const SendOptions& options,
                        const Cmd& cmd,
                        Interrupts& interrupts,
                        Clock::time_point& began,
                        SendOutcome& outcome) {
    std::chrono::milliseconds pause(10);
    const Clock::time_point giveUp = Clock::now() + kLongestWaitForRoom;
    for (;;) {
        began = Clock::now();
        outcome = SendCmd(options, cmd, kWriteTimeoutMs);
        if (outcome.Sent() || !OutOfDescriptors(outcome.error) || Clock::now() >= giveUp) {
            return true;
        }
        if (!interrupts.Sleep(pause)) {
            return false;
        }
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
    }
}

using Json = nlohmann::ordered_json;

const char* ResultName(Printer::Result result) {
    switch (result) {
        case Printer::Result::Ok:
            return "ok";
        case Printer::Result::Failed:
            return "failed";
        case Printer::Result::NotBegun:
        case Printer::Result::Interrupted:
            break;
    }
    return "interrupted";
}

// A printer's entry in the report's results, indented as it sits there.
std::string ReportEntry(const Printer& printer, const std::vector<CommandResult>& results) {
    Json commands = Json::array();
    for (size_t i = 0; i < printer.plan->size(); ++i) {
        const CommandResult& result = results[i];
        Json command = {{"command", (*printer.plan)[i].name}};
        switch (result.state) {
            case CommandResult::State::Sent:
                command["result"] = "sent";
                break;
            case CommandResult::State::Failed:
                command["result"] = "failed";
                break;
            case CommandResult::State::NotSent:
                command["result"] = "not sent";
                break;
        }
        if (result.state != CommandResult::State::NotSent) {
            command["start-ms"] = Rounded(result.startMs);
            command["ms"] = Rounded(result.ms);
        }
        commands.push_back(std::move(command));
    }
    const bool ok = printer.result == Printer::Result::Ok;
    const Json entry = {{"target", printer.target.name},
                        {"result", ResultName(printer.result)},
                        {"sent", printer.sent},
                        {"settings", printer.plan->size()},
                        {"error", ok ? Json(nullptr) : Json(printer.error)},
                        {"commands", std::move(commands)}};
    // Text that is not UTF-8 (a file name) is written with U+FFFD instead of failing.
    const std::string text = entry.dump(2, ' ', false, Json::error_handler_t::replace);
    std::string indented = "    ";
    for (const char c : text) {
        indented += c;
        if (c == '\n') {
            indented += "    ";
        }
    }
    return indented;
}

void ServePrinter(Printer& printer, Run& run) {
    SendOptions options = run.send;
    options.port = printer.target.port;
    const std::vector<PlannedCmd>& plan = *printer.plan;
    std::vector<CommandResult> results(plan.size());
    printer.result = Printer::Result::Ok;
    for (size_t i = 0; i < plan.size(); ++i) {
        CommandResult& result = results[i];
        Clock::time_point began;
        SendOutcome outcome;
        const bool rested =
            i == 0 || run.gapMs == 0 || run.interrupts.Sleep(std::chrono::milliseconds(run.gapMs));
        if (!rested || run.interrupts.Signal() != 0 ||
            !SendWaitingForRoom(options, *plan[i].cmd, run.interrupts, began, outcome)) {
            printer.result = Printer::Result::Interrupted;
            printer.error = "interrupted before " + plan[i].name;
            break;
        }
        result.startMs = MsSince(run.start, began);
        result.ms = MsSince(began, Clock::now());
        if (!outcome.Sent()) {
            result.state = CommandResult::State::Failed;
            printer.result = Printer::Result::Failed;
            printer.error = plan[i].name + ": " + outcome.reason;
            break;
        }
        result.state = CommandResult::State::Sent;
        ++printer.sent;
        ++run.tally.commands;
    }
    if (run.report != nullptr) {
        printer.report = run.report->Spool(ReportEntry(printer, results));
    }
}

// The progress line on a terminal, drawn by a thread of its own from before the first job starts
// until the last one ends: starting a thousand jobs takes a while, and the line moves meanwhile.
class Progress {
  public:
    Progress(std::ostream& err, const Tally& tally, size_t printers, size_t commands, Clock::time_point start)
        : m_err(err), m_tally(tally), m_printers(printers), m_commands(commands), m_start(start) {
        try {
            m_thread = std::thread([this] { Draw(); });
        } catch (const std::system_error&) {
            // no thread, no line: the jobs matter more
        }
    }
    ~Progress() {
        if (!m_thread.joinable()) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
        }
        m_stop.notify_all();
        m_thread.join();
        m_err << '\r' << std::string(m_width, ' ') << '\r' << std::flush;
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

  private:
    void Draw() {
        std::unique_lock<std::mutex> lock(m_mutex);
        do {
            Show();
        } while (!m_stop.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stopped; }));
    }
    void Show() {
        const size_t done = m_tally.done;
        const double seconds = MsSince(m_start, Clock::now()) / 1000;
        char line[200];
        std::snprintf(line, sizeof line,
                      "\rapply: %zu done, %zu failed, %zu total, %zu/%zu commands sent, %.1f printers/s",
                      done, m_tally.failed.load(), m_printers, m_tally.commands.load(), m_commands,
                      seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
        std::string text = line;
        const size_t width = text.size();
        if (width < m_width) {
            text.append(m_width - width, ' ');  // over what a longer line left
        }
        m_width = width;
        m_err << text << std::flush;
    }

    std::ostream& m_err;
    const Tally& m_tally;
    size_t m_printers, m_commands;
    Clock::time_point m_start;
    size_t m_width = 0;
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopped = false;
    std::thread m_thread;
};

// A lane is served by one job from first to last: a TCP printer alone, or every target of one
// device (which two jobs must never open at once).
std::vector<std::vector<Printer*>> Lanes(std::vector<Printer>& printers) {
    std::vector<std::vector<Printer*>> lanes;
    std::map<std::string, size_t> deviceLanes;
    for (Printer& printer : printers) {
        const std::string& device = printer.target.device;
        if (device.empty()) {
            lanes.push_back({&printer});
            continue;
        }
        const auto lane = deviceLanes.emplace(device, lanes.size());
        if (lane.second) {
            lanes.emplace_back();
        }
        lanes[lane.first->second].push_back(&printer);
    }
    return lanes;
}

// How many jobs may run at once: each holds one socket or device, and the process must stay
// within its limit of open files, which is raised first as far as the system allows. `needed`:
// how many jobs there is work for; when they do not fit, that is said on `err`.
size_t JobsThatFit(size_t wanted, size_t needed, std::ostream& err) {
    const size_t limit = RaiseOpenFileLimit();
    const size_t kept = OpenDescriptorCount() + kSpareDescriptors;
    const size_t fit = limit == 0 ? wanted : limit > kept ? limit - kept : 1;
    if (std::min(wanted, needed) > fit) {
        err << "tolctl: apply: --jobs " << wanted << " needs more open files than this process may have ("
            << limit << "); serving " << fit << " printers at a time\n";
    }
    return std::min(wanted, fit);
}

// Serves the lanes with `jobs` jobs; after a stop request no job begins another command. Answers
// a problem to tell when fewer jobs could be started.
std::string Serve(const std::vector<std::vector<Printer*>>& lanes, size_t jobs, Run& run) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t lane = next++; lane < lanes.size() && run.interrupts.Signal() == 0; lane = next++) {
            for (Printer* printer : lanes[lane]) {
                if (run.interrupts.Signal() != 0) {
                    break;
                }
                ServePrinter(*printer, run);
                run.tally.failed += printer->result == Printer::Result::Failed ? 1 : 0;
                ++run.tally.done;
            }
        }
    };
    std::string problem;
    std::vector<std::thread> workers;
    try {
        while (workers.size() + 1 < jobs) {
            workers.emplace_back(work);
        }
    } catch (const std::system_error& e) {
        problem = "only " + std::to_string(workers.size() + 1) + " of " + std::to_string(jobs) +
                  " jobs could be started: " + e.what();
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return problem;
}

void PrintTable(const std::vector<Printer>& printers, std::ostream& out) {
    std::vector<std::vector<std::string>> rows = {{"TARGET", "RESULT", "SENT", "ERROR"}};
    for (const Printer& printer : printers) {
        rows.push_back({printer.target.name, ResultName(printer.result),
                        std::to_string(printer.sent) + "/" + std::to_string(printer.plan->size()),
                        printer.error});
    }
    size_t widths[3] = {0, 0, 0};
    for (const auto& row : rows) {
        for (size_t column = 0; column < 3; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < 3; ++column) {
            line += row[column] + std::string(widths[column] - row[column].size() + 2, ' ');
        }
        line += row[3];
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out << line << '\n';
    }
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

struct Counts {
    size_t ok = 0, failed = 0;
};

// Writes the whole report: the run's facts, then every printer's entry in target order (from
// the scratch file, or made now for a printer that was never begun).
void WriteReport(ReportFile& report,
                 const std::vector<Printer>& printers,
                 const ApplyOptions& options,
                 const SendOptions& send,
                 size_t jobs,
                 const std::string& started,
                 double seconds,
                 const Counts& counts) {
    const Json head = {
        {"tolctl-version", TolctlVersion()},
        {"profile", options.profile},
        {"started", started},
        {"seconds", Rounded(seconds)},
        {"jobs", jobs},
        {"gap-ms", options.gapMs},
        {"connect-timeout-ms", send.connectTimeoutMs},
        {"printers", printers.size()},
        {"ok", counts.ok},
        {"failed", counts.failed},
        {"results", Json::array()},
    };
    std::string text = head.dump(2, ' ', false, Json::error_handler_t::replace);
    text.erase(text.size() - 4);  // "[]\n}": the entries go between the brackets
    report.Write(text + "[\n");
    std::string entry;
    for (size_t i = 0; i < printers.size(); ++i) {
        const Printer& printer = printers[i];
        if (printer.result == Printer::Result::NotBegun) {
            entry = ReportEntry(printer, std::vector<CommandResult>(printer.plan->size()));
        } else if (!report.ReadBack(printer.report, entry)) {
            return;  // the failure is kept for Finish
        }
        report.Write(i == 0 ? entry : ",\n" + entry);
    }
    report.Write("\n  ]\n}\n");
}

}  // namespace

const char* TolctlVersion() {
    return TOLCTL_VERSION;
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int RunApply(const ApplyOptions& options,
             const SendOptions& send,
             std::istream& in,
             std::ostream& out,
             std::ostream& err) {
    Preparation prep;
    Prepare(options, in, prep);
    if (!prep.errors.empty()) {
        for (size_t i = 0; i < prep.errors.size() && i < kMaxShownErrors; ++i) {
            err << "tolctl: " << prep.errors[i] << '\n';
        }
        if (prep.errors.size() > kMaxShownErrors) {
            err << "tolctl: ... and " << prep.errors.size() - kMaxShownErrors << " more problems\n";
        }
        err << "tolctl: apply: nothing was sent\n";
        return kExitUsage;
    }
    if (options.dryRun) {
        PrintDryRun(prep.printers, options.showSecrets, out);
        return kExitOk;
    }

    // From here on Ctrl-C asks apply to stop and finish its record, and a reader of the table
    // that went away ends nothing.
    Interrupts interrupts;
    // The report's files are opened before anything is sent, so that a wrong name costs nothing.
    ReportFile reportFile;
    ReportFile* report = nullptr;
    if (!options.report.empty()) {
        std::string problem;
        if (!reportFile.Open(options.report, problem)) {
            err << "tolctl: --report: cannot write " << ShownText(options.report, std::string::npos) << ": "
                << problem << "; nothing was sent\n";
            return kExitUsage;
        }
        interrupts.RemoveOnQuit(reportFile.TemporaryPath());
        report = &reportFile;
    }

    const std::vector<std::vector<Printer*>> lanes = Lanes(prep.printers);
    const size_t jobs = JobsThatFit(static_cast<size_t>(options.jobs), lanes.size(), err);
    size_t commands = 0;
    for (const Printer& printer : prep.printers) {
        commands += printer.plan->size();
    }
    const std::string started = UtcNow();
    Run run{send, options.gapMs, Clock::now(), interrupts, report, {}};
    std::string jobsProblem;
    {
        std::unique_ptr<Progress> progress;
        if (options.progress) {
            progress.reset(new Progress(err, run.tally, prep.printers.size(), commands, run.start));
        }
        jobsProblem = Serve(lanes, std::min(jobs, lanes.size()), run);
    }
    const int stoppedBy = interrupts.Signal();
    const double seconds = MsSince(run.start, Clock::now()) / 1000;

    Counts counts;
    for (Printer& printer : prep.printers) {
        if (printer.result == Printer::Result::NotBegun) {
            printer.error = "interrupted before " + printer.plan->front().name;
        }
        counts.ok += printer.result == Printer::Result::Ok ? 1 : 0;
        counts.failed += printer.result == Printer::Result::Failed ? 1 : 0;
    }
    const size_t interrupted = prep.printers.size() - counts.ok - counts.failed;

    // The record first: a table that cannot be written, or is slow to be read, must not cost it.
    bool reportWritten = true;
    std::string reportProblem;
    if (report != nullptr) {
        WriteReport(*report, prep.printers, options, send, jobs, started, seconds, counts);
        reportWritten = report->Finish(reportProblem);
    }
    PrintTable(prep.printers, out);
    out.flush();

    int code = counts.failed == 0 ? kExitOk : kExitPort;
    if (!jobsProblem.empty()) {
        err << "tolctl: apply: " << jobsProblem << '\n';
    }
    if (counts.failed > 0) {
        err << "tolctl: apply: " << counts.failed << " of " << prep.printers.size() << " printers failed\n";
    }
    if (stoppedBy != 0) {
        err << "tolctl: apply: interrupted; " << interrupted << " of " << prep.printers.size()
            << " printers were cut short\n";
    }
    if (!reportWritten) {
        err << "tolctl: --report: cannot write " << ShownText(options.report, std::string::npos) << ": "
            << reportProblem << '\n';
        code = kExitPort;
    }
    if (!out && report != nullptr && reportWritten) {
        // The table is lost (said once, for all output, when tolctl ends); the record is not.
        err << "tolctl: apply: the report holds every result\n";
    }
    return stoppedBy != 0 ? Interrupts::ExitCode(stoppedBy) : code;
}
