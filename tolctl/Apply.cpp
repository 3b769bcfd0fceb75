#include "Apply.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <ostream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "Decode.h"
#include "Files.h"
#include "Messenger.h"
#include "Profile.h"
#include "ShownCmd.h"
#include "Targets.h"
#include "Tolctl.h"
#include "Values.h"
#include "WifiCmds.h"

#ifndef TOLCTL_VERSION
#define TOLCTL_VERSION "unknown"
#endif

namespace {

using Clock = std::chrono::steady_clock;

/// Largest targets file read.
constexpr size_t kMaxTargetsBytes = 16 * 1024 * 1024;
/// Problems shown before the rest are only counted.
constexpr size_t kMaxShownErrors = 20;

struct CommandResult {
    enum class State { NotSent, Sent, Failed } state = State::NotSent;
    double startMs = 0;  // since the apply began
    double ms = 0;
};

struct Printer {
    Target target;
    const std::vector<PlannedCmd>* plan = nullptr;
    std::vector<CommandResult> results;
    std::string error;
    bool ok = false;

    size_t Sent() const {
        size_t sent = 0;
        for (const CommandResult& result : results) {
            sent += result.state == CommandResult::State::Sent ? 1 : 0;
        }
        return sent;
    }
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

void ServePrinter(Printer& printer, const SendOptions& send, int gapMs, Clock::time_point start) {
    SendOptions options = send;
    options.portText = printer.target.name;
    options.port = printer.target.port;
    const std::vector<PlannedCmd>& plan = *printer.plan;
    printer.results.assign(plan.size(), CommandResult());
    for (size_t i = 0; i < plan.size(); ++i) {
        if (i > 0 && gapMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        }
        CommandResult& result = printer.results[i];
        const Clock::time_point began = Clock::now();
        const SendOutcome outcome = SendCmd(options, *plan[i].cmd, kWriteTimeoutMs);
        result.startMs = MsSince(start, began);
        result.ms = MsSince(began, Clock::now());
        if (outcome.code != kExitOk) {
            result.state = CommandResult::State::Failed;
            printer.error = plan[i].name + ": " + outcome.reason;
            return;
        }
        result.state = CommandResult::State::Sent;
    }
    printer.ok = true;
}

class Progress {
  public:
    Progress(std::ostream& err, size_t total) : m_err(err), m_total(total) {}
    void Show(size_t done, size_t failed, double seconds) {
        char line[160];
        std::snprintf(line, sizeof line, "\rapply: %zu done, %zu failed, %zu total, %.1f printers/s", done,
                      failed, m_total, seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
        std::string text = line;
        const size_t width = text.size();
        if (width < m_width) {
            text.append(m_width - width, ' ');  // over what a longer line left
        }
        m_width = width;
        m_err << text << std::flush;
    }
    void Clear() { m_err << '\r' << std::string(m_width, ' ') << '\r' << std::flush; }

  private:
    std::ostream& m_err;
    size_t m_total;
    size_t m_width = 0;
};

void Serve(std::vector<Printer>& printers,
           const ApplyOptions& options,
           const SendOptions& send,
           Clock::time_point start,
           std::ostream& err) {
    // A lane is served by one job from first to last: a TCP printer alone, or every target of one
    // device (which two jobs must never open at once).
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

    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<size_t> failed{0};
    auto work = [&] {
        for (size_t lane = next++; lane < lanes.size(); lane = next++) {
            for (Printer* printer : lanes[lane]) {
                ServePrinter(*printer, send, options.gapMs, start);
                failed += printer->ok ? 0 : 1;
                ++done;
            }
        }
    };
    const size_t jobs = std::min(lanes.size(), static_cast<size_t>(options.jobs));
    std::vector<std::thread> workers;
    for (size_t i = 1; i < jobs; ++i) {
        workers.emplace_back(work);
    }
    if (options.progress) {
        Progress progress(err, printers.size());
        workers.emplace_back(work);
        while (done < printers.size()) {
            progress.Show(done, failed, MsSince(start, Clock::now()) / 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        progress.Clear();
    } else {
        work();
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void PrintTable(const std::vector<Printer>& printers, std::ostream& out) {
    std::vector<std::vector<std::string>> rows = {{"TARGET", "RESULT", "SENT", "ERROR"}};
    for (const Printer& printer : printers) {
        rows.push_back({printer.target.name, printer.ok ? "ok" : "failed",
                        std::to_string(printer.Sent()) + "/" + std::to_string(printer.plan->size()),
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

double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
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

std::string Report(const std::vector<Printer>& printers,
                   const ApplyOptions& options,
                   const SendOptions& send,
                   const std::string& started,
                   double seconds) {
    using Json = nlohmann::ordered_json;
    size_t ok = 0;
    Json results = Json::array();
    for (const Printer& printer : printers) {
        ok += printer.ok ? 1 : 0;
        Json commands = Json::array();
        for (size_t i = 0; i < printer.plan->size(); ++i) {
            const CommandResult& result = printer.results[i];
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
        results.push_back({{"target", printer.target.name},
                           {"result", printer.ok ? "ok" : "failed"},
                           {"sent", printer.Sent()},
                           {"settings", printer.plan->size()},
                           {"error", printer.ok ? Json(nullptr) : Json(printer.error)},
                           {"commands", std::move(commands)}});
    }
    const Json report = {
        {"tolctl-version", TolctlVersion()},
        {"profile", options.profile},
        {"started", started},
        {"seconds", Rounded(seconds)},
        {"jobs", options.jobs},
        {"gap-ms", options.gapMs},
        {"connect-timeout-ms", send.connectTimeoutMs},
        {"printers", printers.size()},
        {"ok", ok},
        {"failed", printers.size() - ok},
        {"results", std::move(results)},
    };
    // Text that is not UTF-8 (a file name) is written with U+FFFD instead of failing.
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
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

    // The report's file is opened before anything is sent, so that a wrong name costs nothing.
    std::FILE* report = nullptr;
    if (!options.report.empty()) {
        report = OpenFile(options.report, "wb");
        if (report == nullptr) {
            err << "tolctl: --report: cannot write " << ShownText(options.report, std::string::npos) << ": "
                << FileErrorText(errno) << "; nothing was sent\n";
            return kExitUsage;
        }
    }

    const std::string started = UtcNow();
    const Clock::time_point start = Clock::now();
    Serve(prep.printers, options, send, start, err);
    const double seconds = MsSince(start, Clock::now()) / 1000;

    PrintTable(prep.printers, out);
    size_t failed = 0;
    for (const Printer& printer : prep.printers) {
        failed += printer.ok ? 0 : 1;
    }
    int code = failed == 0 ? kExitOk : kExitPort;
    if (failed > 0) {
        err << "tolctl: apply: " << failed << " of " << prep.printers.size() << " printers failed\n";
    }
    if (report != nullptr) {
        const std::string text = Report(prep.printers, options, send, started, seconds);
        const bool written = std::fwrite(text.data(), 1, text.size(), report) == text.size();
        const int error = errno;
        if (std::fclose(report) != 0 || !written) {
            err << "tolctl: --report: cannot write " << ShownText(options.report, std::string::npos) << ": "
                << FileErrorText(written ? errno : error) << '\n';
            code = kExitPort;
        }
    }
    return code;
}
