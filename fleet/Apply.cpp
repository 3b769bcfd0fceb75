#include "fleet/Apply.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "fleet/Jobs.h"
#include "fleet/StopRequest.h"
#include "system/FileLimit.h"
#include "system/UtcTime.h"
#include "transport/EthernetMessenger.h"
#include "transport/Messenger.h"
#include "transport/StatusExchange.h"

namespace {

using Clock = std::chrono::steady_clock;

/// Longest a command waits for this process to have room for one more socket or device.
constexpr std::chrono::seconds kLongestWaitForRoom(60);

double MsSince(Clock::time_point start, Clock::time_point when) {
    return std::chrono::duration<double, std::milli>(when - start).count();
}

// What every job of one apply shares.
struct Run {
    const RolloutPlan& plan;
    const ApplySettings& settings;
    Clock::time_point start;
    StopRequest& stop;
    const std::vector<ApplyObserver*>& observers;
    std::vector<PrinterResult>& results;
};

// The printers in lanes (TargetLanes): indexes into the plan's printers.
std::vector<std::vector<size_t>> Lanes(const std::vector<RolloutPrinter>& printers) {
    return TargetLanes(printers.size(),
                       [&printers](size_t i) -> const Target& { return printers[i].target; });
}

// Makes one attempt to reach the printer, which answers false when this process had no room for
// one more socket or device: then it reached no one, and waits for others to close theirs to be
// tried again, a local limit is not the printer's failure. False when a stop request came
// meanwhile (nothing was sent).
template <typename Attempt>
bool WaitingForRoom(StopRequest& stop, Attempt attempt) {
    std::chrono::milliseconds pause(10);
    const Clock::time_point giveUp = Clock::now() + kLongestWaitForRoom;
    for (;;) {
        if (attempt() || Clock::now() >= giveUp) {
            return true;
        }
        if (!stop.Sleep(pause)) {
            return false;
        }
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
    }
}

// Why a printer whose status was read fails verification; empty when it passes (ok, warning).
// Error and offline name their conditions, "offline: cover-open": not the state's own name, nor
// the drawer pin, which tells nothing of the printer's health.
std::string VerifyProblem(const PrinterStatus& status) {
    switch (status.state) {
        case StatusState::Ok:
        case StatusState::Warning:
            return "";
        case StatusState::Error:
        case StatusState::Offline:
            break;
        case StatusState::Unreachable:
        case StatusState::NoAnswer:
        case StatusState::NotAPrinter:
            return "no status answer: " + status.reason;
    }
    const std::string state = StatusStateName(status.state);
    std::string conditions;
    for (const char* name : StatusConditionNames(status.conditions)) {
        if (name != state && std::strcmp(name, "drawer-pin-high") != 0) {
            conditions += (conditions.empty() ? "" : ",") + std::string(name);
        }
    }
    return conditions.empty() ? state : state + ": " + conditions;
}

void ServePrinter(size_t index, Run& run) {
    const RolloutPrinter& printer = run.plan.printers[index];
    PrinterResult& done = run.results[index];
    SendOptions options = run.settings.send;
    options.port = printer.target.port;
    const std::vector<PlannedCmd>& plan = *printer.plan;
    std::vector<CommandResult> results(plan.size());
    // The status read is one more step, before the command at `verifyAt`.
    const size_t verifyAt = run.settings.verify ? VerifyPosition(plan) : plan.size() + 1;
    const size_t steps = plan.size() + (run.settings.verify ? 1 : 0);
    done.outcome = PrinterResult::Outcome::Ok;
    for (size_t step = 0; step < steps; ++step) {
        const bool verifying = step == verifyAt;
        const size_t i = step > verifyAt ? step - 1 : step;  // the command, unless verifying
        Clock::time_point began;
        SendOutcome outcome;
        PrinterStatus status;
        const int gapMs = run.settings.gapMs;
        const bool rested = step == 0 || gapMs == 0 || run.stop.Sleep(std::chrono::milliseconds(gapMs));
        bool stopped = !rested || run.stop.Requested();
        if (!stopped && verifying) {
            stopped = !WaitingForRoom(run.stop, [&] {
                status = ReadPrinterStatus(options, run.settings.answerTimeoutMs);
                return status.state != StatusState::Unreachable || !OutOfDescriptors(status.error);
            });
        } else if (!stopped) {
            for (ApplyObserver* observer : run.observers) {
                observer->CommandStarted(index, i);
            }
            stopped = !WaitingForRoom(run.stop, [&] {
                began = Clock::now();
                outcome = SendCmd(options, *plan[i].cmd, kWriteTimeoutMs);
                return outcome.Sent() || !OutOfDescriptors(outcome.error);
            });
        }
        if (stopped) {
            done.outcome = PrinterResult::Outcome::Interrupted;
            done.error = "interrupted before " + (verifying ? std::string(kVerifyStep) : plan[i].name);
            break;
        }
        if (verifying) {
            done.verified = true;
            done.state = status.state;
            done.conditions = status.conditions;
            done.error = VerifyProblem(status);
            if (!done.error.empty()) {
                done.outcome = PrinterResult::Outcome::Failed;
                break;
            }
            continue;
        }
        CommandResult& result = results[i];
        result.startMs = MsSince(run.start, began);
        result.ms = MsSince(began, Clock::now());
        result.state = outcome.Sent() ? CommandResult::State::Sent : CommandResult::State::Failed;
        for (ApplyObserver* observer : run.observers) {
            observer->CommandEnded(index, i, result);
        }
        if (!outcome.Sent()) {
            done.outcome = PrinterResult::Outcome::Failed;
            done.error = plan[i].name + ": " + outcome.reason;
            break;
        }
        ++done.sent;
    }
    for (ApplyObserver* observer : run.observers) {
        observer->PrinterDone(index, done, results);
    }
}

// Serves the lanes with `jobs` jobs; after a stop request no job begins another command. Answers
// a problem to tell when fewer jobs could be started.
std::string Serve(const std::vector<std::vector<size_t>>& lanes, size_t jobs, Run& run) {
    EthernetMessenger::KeepNetworkStarted();
    return ServeLanes(lanes.size(), jobs, [&lanes, &run](size_t lane) {
        for (const size_t printer : lanes[lane]) {
            if (run.stop.Requested()) {
                break;
            }
            ServePrinter(printer, run);
        }
    });
}

}  // namespace

const char* const kVerifyStep = "status";

void ApplyObserver::CommandStarted(size_t, size_t) {}

void ApplyObserver::CommandEnded(size_t, size_t, const CommandResult&) {}

void ApplyObserver::PrinterDone(size_t, const PrinterResult&, const std::vector<CommandResult>&) {}

const char* OutcomeName(PrinterResult::Outcome outcome) {
    switch (outcome) {
        case PrinterResult::Outcome::Ok:
            return "ok";
        case PrinterResult::Outcome::Failed:
            return "failed";
        case PrinterResult::Outcome::NotBegun:
        case PrinterResult::Outcome::Interrupted:
            break;
    }
    return "interrupted";
}

JobsFit FitJobs(size_t wanted, const RolloutPlan& plan) {
    return FitJobs(wanted, Lanes(plan.printers).size());
}

ApplyResult ApplyRollout(const RolloutPlan& plan,
                         const ApplySettings& settings,
                         StopRequest& stop,
                         const std::vector<ApplyObserver*>& observers) {
    ApplyResult result;
    result.printers.resize(plan.printers.size());
    const std::vector<std::vector<size_t>> lanes = Lanes(plan.printers);
    result.started = UtcNow();
    Run run{plan, settings, Clock::now(), stop, observers, result.printers};
    result.jobsProblem = Serve(lanes, std::min(settings.jobs, lanes.size()), run);
    result.seconds = MsSince(run.start, Clock::now()) / 1000;

    for (size_t i = 0; i < plan.printers.size(); ++i) {
        PrinterResult& printer = result.printers[i];
        if (printer.outcome == PrinterResult::Outcome::NotBegun) {
            const std::vector<PlannedCmd>& commands = *plan.printers[i].plan;
            const bool verifyFirst = settings.verify && VerifyPosition(commands) == 0;
            printer.error = "interrupted before " + (verifyFirst ? kVerifyStep : commands.front().name);
        }
        result.ok += printer.outcome == PrinterResult::Outcome::Ok ? 1 : 0;
        result.failed += printer.outcome == PrinterResult::Outcome::Failed ? 1 : 0;
    }
    result.interrupted = plan.printers.size() - result.ok - result.failed;
    return result;
}
