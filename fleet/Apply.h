// The apply engine: a planned roll-out sent to its printers, several at a time, with what happens
// told to observers as it happens (the command line's table and progress, the report, a page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "commands/PrinterStatus.h"
#include "fleet/Jobs.h"
#include "fleet/Plan.h"
#include "record/Record.h"
#include "transport/SendCmd.h"

class StopRequest;

/// How the printers are served.
struct ApplySettings {
    size_t jobs = 32;  // printers served at a time (see FitJobs)
    int gapMs = 300;   // pause between two commands to the same printer
    SendOptions send;  // the baud rate and the connect time-out; the port is each printer's
    // Read each printer's status (StatusExchange.h) where VerifyPosition puts it in its plan: one
    // that answers no status, or is in error or offline, fails there and gets nothing more.
    bool verify = false;
    int answerTimeoutMs = 1000;  // for each status answer
    // Waves: the first `canary` printers (in the plan's order) alone, the others only once all of
    // those ended ok (with verify: passed the status read too); 0: all at once.
    size_t canary = 0;
    // A failure budget: once more than this many printers have failed, no printer is begun (those
    // under way finish).
    size_t maxFailed = std::numeric_limits<size_t>::max();
    // The fleet record (null: none) and the roll-out the commands belong to (BeginApplyRollout).
    // Each command's settings are written in flight once its port is open and before its first
    // byte leaves (a command whose row cannot be written is not sent: it fails), then its
    // result; the commands not sent as not-sent or interrupted; each status read that differs
    // from the printer's last.
    Record* record = nullptr;
    RecordRollout rollout;
};

/// The name of the status read in results, messages and a dry run: "interrupted before status".
extern const char* const kVerifyStep;

/// What became of one command of a printer's plan.
struct CommandResult {
    enum class State { NotSent, Sent, Failed };
    State state = State::NotSent;
    double startMs = 0;  // when it began, since the apply began
    double ms = 0;       // how long it took
};

/// What became of one printer: small, since a roll-out may have tens of thousands.
struct PrinterResult {
    enum class Outcome : uint8_t {
        NotBegun,     // a stop request came before its turn
        Ok,           // took every command
        Failed,       // a command or the status read failed; nothing was sent after it
        Interrupted,  // a stop request came between two of its commands
        NotSent,      // never begun: a canary printer was not ok, or too many failed (maxFailed)
        Unchanged,    // its plan was empty (apply --skip-same: the record has all of it): not contacted
    };
    Outcome outcome = Outcome::NotBegun;
    bool verified = false;  // its status was read (ApplySettings::verify): `state` and `conditions`
    StatusState state = StatusState::NoAnswer;
    StatusConditions conditions = 0;
    uint32_t sent = 0;  // commands it took
    // Unless ok: "wifi-ap: connection refused", "interrupted before cut", "offline: cover-open",
    // "no status answer: ..."
    std::string error;
};

/// "ok", "failed", "interrupted" (a printer not begun is one too), "not-sent" or "unchanged".
const char* OutcomeName(PrinterResult::Outcome outcome);

/// Told what happens while an apply runs. The calls come from the apply's jobs, several at once
/// for different printers; the calls for one printer come from one job, in order. `printer` is
/// the index in the plan's printers, `command` in that printer's plan.
class ApplyObserver {
  public:
    virtual ~ApplyObserver() = default;
    /// The command is about to be sent.
    virtual void CommandStarted(size_t printer, size_t command);
    /// The command was sent, or failed. (A command that waited for room to open its port when
    /// the stop request came was not sent and ends without this call.)
    virtual void CommandEnded(size_t printer, size_t command, const CommandResult& result);
    /// The printer is done (ok, failed, or interrupted between two of its commands), with every
    /// command's result. Not called for a printer that was never begun.
    virtual void PrinterDone(size_t printer,
                             const PrinterResult& result,
                             const std::vector<CommandResult>& commands);
};

/// What became of a whole apply.
struct ApplyResult {
    std::vector<PrinterResult> printers;  // in the plan's order
    size_t ok = 0;
    size_t failed = 0;
    size_t interrupted = 0;   // interrupted, or never begun
    size_t notSent = 0;       // never begun since the canary or the failure budget stopped the apply
    std::string halted;       // then why: "the first 2 printers (--canary) were not all ok"
    size_t unchanged = 0;     // nothing to send, not contacted
    size_t changed = 0;       // printers that took at least one command
    std::string started;      // when it began, UTC ("2026-12-01T09:30:00Z")
    double seconds = 0;       // how long it took
    std::string jobsProblem;  // when fewer jobs could be started than there were to be
};

/// Writes an apply's roll-out's beginning to `record`: its profile (`profile` as the operator
/// named it) with the plan's digest, and `options` (a JSON object's text). Its id is 0 when it
/// could not be written (record.Problem() says why).
RecordRollout BeginApplyRollout(Record& record,
                                const RolloutPlan& plan,
                                const std::string& profile,
                                const std::string& options,
                                const std::string& kind = "apply");
/// Writes the roll-out's end with the apply's counts and waits until the record has everything;
/// false when some of it could not be written.
bool EndApplyRollout(Record& record, const RecordRollout& rollout, const ApplyResult& result);

/// How many of `wanted` printers may be served at once (FitJobs, Jobs.h), with work for as many
/// as the plan has lanes.
JobsFit FitJobs(size_t wanted, const RolloutPlan& plan);

/// Sends each printer its commands, one connection per command in the planned order,
/// `settings.gapMs` apart, with `settings.verify` the status read among them as one more step;
/// a printer's first failure ends that printer. Up to `settings.jobs`
/// printers at a time; the serial, parallel and USB targets of one device one after another.
/// After a request to `stop` no job begins another command (the ones under way end) and the
/// printers not begun stay so. With `settings.canary` the first printers are served alone first,
/// and with `settings.maxFailed` failures end the apply early: the printers not begun then are
/// NotSent. The observers are told as it goes; the plan must have no errors.
ApplyResult ApplyRollout(const RolloutPlan& plan,
                         const ApplySettings& settings,
                         StopRequest& stop,
                         const std::vector<ApplyObserver*>& observers);
