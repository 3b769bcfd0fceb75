#include "fleet/Apply.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "commands/PrinterStatus.h"
#include "fleet/Jobs.h"
#include "fleet/StopRequest.h"
#include "system/FileLimit.h"
#include "system/UtcTime.h"
#include "transport/EthernetMessenger.h"
#include "transport/Messenger.h"
#include "transport/PortUri.h"
#include "transport/StatusExchange.h"

namespace {

using Clock = std::chrono::steady_clock;

/// Longest a command waits for this process to have room for one more socket or device.
constexpr std::chrono::seconds kLongestWaitForRoom(60);

double MsSince(Clock::time_point start, Clock::time_point when) {
    return std::chrono::duration<double, std::milli>(when - start).count();
}

// What every job of one apply shares.
class RecordedCommand;

struct Run {
    const RolloutPlan& plan;
    const ApplySettings& settings;
    Clock::time_point start;
    StopRequest& stop;
    const std::vector<ApplyObserver*>& observers;
    std::vector<PrinterResult>& results;
    std::atomic<size_t> failed{0};
    std::atomic<bool> halted{false};  // no printer is to be begun: the canary or the failure budget
    // With a record: the rows of each printer's first command, begun while the printer before it
    // in its lane is sent its last (each written and read by its lane's job alone, and by
    // ApplyRollout once the jobs are done).
    std::vector<std::unique_ptr<RecordedCommand>> firstRows;
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

// Notes in the record that commands [from, end) of a printer's plan were not sent (`result`:
// NotSent or Interrupted), each of its settings (a command of its own by its name).
void NoteNotSent(const Run& run,
                 const std::string& printer,
                 const std::vector<PlannedCmd>& plan,
                 size_t from,
                 SendResult result,
                 const std::string& error,
                 size_t to = SIZE_MAX) {
    Record* record = run.settings.record;
    for (size_t i = from; record != nullptr && i < plan.size() && i < to; ++i) {
        if (plan[i].settings.empty()) {
            record->CommandNotSent(run.settings.rollout, printer, plan[i].name, RecordValue{}, result, error);
        }
        for (const PlannedSetting& setting : plan[i].settings) {
            record->CommandNotSent(run.settings.rollout, printer, setting.key,
                                   RecordValue{setting.value, setting.secret}, result, error);
        }
    }
}

// One command's rows in the record: written in flight as the port opens (Start), awaited before
// its first byte leaves (Ready), then given its result (End).
class RecordedCommand {
  public:
    RecordedCommand(const Run& run, const std::string& printer, const PlannedCmd& cmd)
        : m_record(run.settings.record) {
        if (m_record == nullptr) {
            return;
        }
        std::vector<RecordSetting> settings;
        if (cmd.settings.empty()) {
            settings.push_back({cmd.name, RecordValue{}});
        }
        settings.reserve(cmd.settings.size());
        for (const PlannedSetting& setting : cmd.settings) {
            settings.push_back({setting.key, RecordValue{setting.value, setting.secret}});
        }
        m_send = m_record->StartCommand(run.settings.rollout, printer, std::move(settings));
    }
    /// True once every row is committed; false, with `reason`, when one could not be written.
    bool Ready(std::string& reason) {
        if (!m_record->AwaitCommand(m_send)) {
            const std::string problem = m_record->Problem();
            reason = "not sent: the record could not note it" + (problem.empty() ? "" : " (" + problem + ")");
            return false;
        }
        return true;
    }
    void End(SendResult result, const std::string& error) { m_record->CommandEnded(m_send, result, error); }
    BeforeWrite Hook() {
        if (m_record == nullptr) {
            return nullptr;
        }
        return [this](std::string& reason) { return Ready(reason); };
    }

  private:
    Record* m_record;
    RecordSend m_send;  // its rows, one a setting
};

// Serves printer `index`; `takeServedNext()` tells the printer the same job serves after it (SIZE_MAX:
// none), taking it when that is another lane's: called only as the last command is sent.
void ServePrinter(size_t index, const std::function<size_t()>& takeServedNext, Run& run) {
    const RolloutPrinter& printer = run.plan.printers[index];
    PrinterResult& done = run.results[index];
    SendOptions options = run.settings.send;
    options.port = printer.target.port;
    const std::vector<PlannedCmd>& plan = *printer.plan;
    std::vector<CommandResult> results(plan.size());
    if (plan.empty()) {  // the record has it all (--skip-same): not contacted
        done.outcome = PrinterResult::Outcome::Unchanged;
        for (ApplyObserver* observer : run.observers) {
            observer->PrinterDone(index, done, results);
        }
        return;
    }
    const std::string name =
        run.settings.record != nullptr ? PrinterName(printer.target.port) : std::string();
    // Each command's rows, begun while the command before it is sent (the first's: while the
    // last command of the printer this job served before is sent), so that they are committed by
    // the time its port is open.
    std::vector<std::unique_ptr<RecordedCommand>> rows(run.settings.record != nullptr ? plan.size() : 0);
    if (!rows.empty()) {
        rows[0] = std::move(run.firstRows[index]);
    }
    const auto begin = [&](size_t i) -> RecordedCommand& {
        if (i < rows.size() && !rows[i]) {
            rows[i] = std::make_unique<RecordedCommand>(run, name, plan[i]);
        }
        return *rows[i];
    };
    // Commands from `from` on were not sent (`result` NotSent or Interrupted).
    const auto notSent = [&](size_t from, SendResult result, const std::string& error) {
        for (size_t i = from; i < rows.size(); ++i) {
            if (rows[i]) {
                rows[i]->End(result, error);
            } else {
                NoteNotSent(run, name, plan, i, result, error, i + 1);
            }
        }
    };
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
            BeforeWrite hook;
            if (!rows.empty()) {
                hook = begin(i).Hook();
                const size_t servedNext = i + 1 < plan.size() ? SIZE_MAX : takeServedNext();
                if (i + 1 < plan.size()) {
                    begin(i + 1);
                } else if (servedNext < run.firstRows.size() &&
                           !run.plan.printers[servedNext].plan->empty()) {
                    const RolloutPrinter& next = run.plan.printers[servedNext];
                    run.firstRows[servedNext] = std::make_unique<RecordedCommand>(
                        run, PrinterName(next.target.port), next.plan->front());
                }
            }
            stopped = !WaitingForRoom(run.stop, [&] {
                began = Clock::now();
                outcome = SendCmd(options, *plan[i].cmd, kWriteTimeoutMs, hook);
                return outcome.Sent() || !OutOfDescriptors(outcome.error);
            });
            if (!rows.empty() && !stopped) {
                rows[i]->End(outcome.Sent() ? SendResult::Sent : SendResult::Failed, outcome.reason);
            }
        }
        if (stopped) {
            done.outcome = PrinterResult::Outcome::Interrupted;
            done.error = "interrupted before " + (verifying ? std::string(kVerifyStep) : plan[i].name);
            notSent(i, SendResult::Interrupted, "");
            break;
        }
        if (verifying) {
            done.verified = true;
            done.state = status.state;
            done.conditions = status.conditions;
            done.error = VerifyProblem(status);
            if (run.settings.record != nullptr) {
                run.settings.record->StatusRead(name, StatusStateName(status.state),
                                                ConditionsText(status.conditions));
            }
            if (!done.error.empty()) {
                done.outcome = PrinterResult::Outcome::Failed;
                notSent(i, SendResult::NotSent, kVerifyStep + std::string(": ") + done.error);
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
            notSent(i + 1, SendResult::NotSent, done.error);
            break;
        }
        ++done.sent;
    }
    if (done.outcome == PrinterResult::Outcome::Failed &&
        run.failed.fetch_add(1) + 1 > run.settings.maxFailed) {
        run.halted = true;
    }
    for (ApplyObserver* observer : run.observers) {
        observer->PrinterDone(index, done, results);
    }
}

// Serves the lanes with `jobs` jobs; after a stop request no job begins another command. Answers
// a problem to tell when fewer jobs could be started.
std::string Serve(const std::vector<std::vector<size_t>>& lanes, size_t jobs, Run& run) {
    EthernetMessenger::KeepNetworkStarted();
    return ServeLanes(lanes.size(), jobs,
                      [&lanes, &run](size_t lane, const std::function<size_t()>& takeNext) {
                          for (size_t i = 0; i < lanes[lane].size(); ++i) {
                              if (run.stop.Requested() || run.halted) {
                                  break;
                              }
                              // The printer this job serves next, whose first rows it writes while this one's
                              // last command is sent: the lane's next, or the first of the lane it then
                              // takes.
                              const std::function<size_t()> next = [&]() -> size_t {
                                  if (i + 1 < lanes[lane].size()) {
                                      return lanes[lane][i + 1];
                                  }
                                  const size_t after = takeNext();
                                  return after != SIZE_MAX ? lanes[after].front() : SIZE_MAX;
                              };
                              ServePrinter(lanes[lane][i], next, run);
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
        case PrinterResult::Outcome::NotSent:
            return "not-sent";
        case PrinterResult::Outcome::Unchanged:
            return "unchanged";
        case PrinterResult::Outcome::NotBegun:
        case PrinterResult::Outcome::Interrupted:
            break;
    }
    return "interrupted";
}

RecordRollout BeginApplyRollout(Record& record,
                                const RolloutPlan& plan,
                                const std::string& profile,
                                const std::string& options,
                                const std::string& kind) {
    RolloutStart start;
    start.kind = kind;
    start.profile = profile;
    start.digest = plan.profileDigest;
    start.options = options;
    return record.BeginRollout(start);
}

bool EndApplyRollout(Record& record, const RecordRollout& rollout, const ApplyResult& result) {
    nlohmann::ordered_json counts = {{"printers", result.printers.size()},
                                     {"ok", result.ok},
                                     {"failed", result.failed},
                                     {"interrupted", result.interrupted},
                                     {"not-sent", result.notSent},
                                     {"unchanged", result.unchanged},
                                     {"changed", result.changed}};
    record.EndRollout(rollout, counts.dump());
    return record.Flush();
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
    Run run{plan, settings, Clock::now(), stop, observers, result.printers, {0}, {false}, {}};
    if (settings.record != nullptr) {
        run.firstRows.resize(plan.printers.size());
    }
    // The lanes' printers from `first` to before `end`, in the plan's order.
    const auto part = [&lanes](size_t first, size_t end) {
        std::vector<std::vector<size_t>> taken;
        for (const std::vector<size_t>& lane : lanes) {
            std::vector<size_t> printers;
            std::copy_if(lane.begin(), lane.end(), std::back_inserter(printers),
                         [first, end](size_t i) { return i >= first && i < end; });
            if (!printers.empty()) {
                taken.push_back(std::move(printers));
            }
        }
        return taken;
    };
    const size_t canary = settings.canary < plan.printers.size() ? settings.canary : 0;
    const std::vector<std::vector<size_t>> first = part(0, canary != 0 ? canary : plan.printers.size());
    result.jobsProblem = Serve(first, std::min(settings.jobs, first.size()), run);
    const bool canaryOk = std::all_of(
        result.printers.begin(), result.printers.begin() + canary,
        [](const PrinterResult& printer) { return printer.outcome == PrinterResult::Outcome::Ok; });
    if (canary != 0 && !canaryOk && !stop.Requested()) {
        run.halted = true;
        result.halted = canary == 1
                            ? "the first printer (--canary) was not ok"
                            : "the first " + std::to_string(canary) + " printers (--canary) were not all ok";
    } else if (canary != 0) {
        const std::vector<std::vector<size_t>> rest = part(canary, plan.printers.size());
        const std::string problem = Serve(rest, std::min(settings.jobs, rest.size()), run);
        result.jobsProblem = result.jobsProblem.empty() ? problem : result.jobsProblem;
    }
    if (run.halted && result.halted.empty()) {
        result.halted = "more than " + std::to_string(settings.maxFailed) + " printers failed (--max-failed)";
    }
    result.seconds = MsSince(run.start, Clock::now()) / 1000;

    for (size_t i = 0; i < plan.printers.size(); ++i) {
        PrinterResult& printer = result.printers[i];
        if (printer.outcome == PrinterResult::Outcome::NotBegun && run.halted) {
            printer.outcome = PrinterResult::Outcome::NotSent;
            printer.error = "not sent: " + result.halted;
            ++result.notSent;
            if (settings.record != nullptr) {
                // Its first command's rows may have been begun already.
                const bool begun = run.firstRows[i] != nullptr;
                if (begun) {
                    run.firstRows[i]->End(SendResult::NotSent, printer.error);
                }
                NoteNotSent(run, PrinterName(plan.printers[i].target.port), *plan.printers[i].plan,
                            begun ? 1 : 0, SendResult::NotSent, printer.error);
            }
        } else if (printer.outcome == PrinterResult::Outcome::NotBegun) {
            const std::vector<PlannedCmd>& commands = *plan.printers[i].plan;
            const bool verifyFirst = settings.verify && VerifyPosition(commands) == 0;
            printer.error = "interrupted before " +
                            (verifyFirst || commands.empty() ? kVerifyStep : commands.front().name);
            if (settings.record != nullptr) {
                // Its first command's rows may have been begun already.
                const bool begun = run.firstRows[i] != nullptr;
                if (begun) {
                    run.firstRows[i]->End(SendResult::Interrupted, "");
                }
                NoteNotSent(run, PrinterName(plan.printers[i].target.port), commands, begun ? 1 : 0,
                            SendResult::Interrupted, "");
            }
        }
        result.ok += printer.outcome == PrinterResult::Outcome::Ok ? 1 : 0;
        result.failed += printer.outcome == PrinterResult::Outcome::Failed ? 1 : 0;
        result.unchanged += printer.outcome == PrinterResult::Outcome::Unchanged ? 1 : 0;
        result.changed += printer.sent > 0 ? 1 : 0;
    }
    result.interrupted = plan.printers.size() - result.ok - result.failed - result.notSent - result.unchanged;
    return result;
}
