#include "tolctl/ApplyCommand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "TolVersion.h"
#include "commands/PrinterStatus.h"
#include "commands/SettingRegistry.h"
#include "commands/ShownCmd.h"
#include "fleet/Apply.h"
#include "fleet/ApplyReport.h"
#include "fleet/Plan.h"
#include "fleet/RecordCompare.h"
#include "tolctl/Interrupts.h"
#include "tolctl/Options.h"
#include "tolctl/Output.h"
#include "tolctl/Recording.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Terminal.h"
#include "tolctl/Tolctl.h"
#include "transport/StatusExchange.h"
#include "values/Values.h"

namespace {

using Clock = std::chrono::steady_clock;

void PrintDryRun(const RolloutPlan& plan, bool verify, bool showSecrets, std::ostream& out) {
    const std::string statusRequests = StatusRequestsText();
    for (const RolloutPrinter& printer : plan.printers) {
        out << printer.target.name << '\n';
        const std::vector<PlannedCmd>& commands = *printer.plan;
        const size_t verifyAt = verify ? VerifyPosition(commands) : commands.size() + 1;
        for (size_t i = 0; i <= commands.size(); ++i) {
            if (i == verifyAt) {
                out << "  " << statusRequests << '\n'
                    << "    " << kVerifyStep
                    << " (--verify: each answer read; error, offline or none stops the printer here)\n";
            }
            if (i == commands.size()) {
                break;
            }
            const PlannedCmd& planned = commands[i];
            const SecretSpan secret{planned.secretBegin, planned.secretEnd};
            out << "  " << ShownHex(*planned.cmd, secret, showSecrets) << '\n'
                << "    " << ShownDecoded(*planned.cmd, secret, showSecrets) << '\n';
        }
    }
}

// The progress line on a terminal, drawn by a thread of its own from before the first job starts
// until the last one ends: starting a thousand jobs takes a while, and the line moves meanwhile.
// It counts what the apply's jobs tell it.
class Progress : public ApplyObserver {
  public:
    Progress(std::ostream& err, size_t printers, size_t commands)
        : m_err(err), m_printers(printers), m_commands(commands), m_start(Clock::now()) {
        try {
            m_thread = std::thread([this] { Draw(); });
        } catch (const std::system_error&) {
            // no thread, no line: the jobs matter more
        }
    }
    ~Progress() override {
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

    void CommandEnded(size_t, size_t, const CommandResult& result) override {
        m_sent += result.state == CommandResult::State::Sent ? 1 : 0;
    }
    void PrinterDone(size_t, const PrinterResult& result, const std::vector<CommandResult>&) override {
        m_failed += result.outcome == PrinterResult::Outcome::Failed ? 1 : 0;
        ++m_done;
    }

  private:
    void Draw() {
        std::unique_lock<std::mutex> lock(m_mutex);
        do {
            Show();
        } while (!m_stop.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stopped; }));
    }
    void Show() {
        const size_t done = m_done;
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        char line[200];
        std::snprintf(line, sizeof line,
                      "\rapply: %zu done, %zu failed, %zu total, %zu/%zu commands sent, %.1f printers/s",
                      done, m_failed.load(), m_printers, m_sent.load(), m_commands,
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
    size_t m_printers, m_commands;
    Clock::time_point m_start;
    std::atomic<size_t> m_done{0};
    std::atomic<size_t> m_failed{0};
    std::atomic<size_t> m_sent{0};
    size_t m_width = 0;
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopped = false;
    std::thread m_thread;
};

// TARGET, LABELS when any printer has labels, RESULT, SENT, with --verify STATE, DRAWER and
// CONDITIONS ("-" where none or not read), and ERROR last.
void PrintTable(const RolloutPlan& plan, const ApplyResult& result, bool verify, std::ostream& out) {
    const bool labelled =
        std::any_of(plan.printers.begin(), plan.printers.end(),
                    [](const RolloutPrinter& printer) { return printer.target.labels != nullptr; });
    std::vector<std::vector<std::string>> rows = {{"TARGET", "RESULT", "SENT"}};
    if (labelled) {
        rows[0].insert(rows[0].begin() + 1, "LABELS");
    }
    if (verify) {
        rows[0].insert(rows[0].end(), {"STATE", "DRAWER", "CONDITIONS"});
    }
    rows[0].push_back("ERROR");
    for (size_t i = 0; i < plan.printers.size(); ++i) {
        const PrinterResult& printer = result.printers[i];
        rows.push_back({plan.printers[i].target.name, OutcomeName(printer.outcome),
                        std::to_string(printer.sent) + "/" + std::to_string(plan.printers[i].plan->size())});
        if (labelled) {
            const std::string labels = LabelsText(LabelsOf(plan.printers[i].target));
            rows.back().insert(rows.back().begin() + 1, labels.empty() ? "-" : labels);
        }
        if (verify) {
            const std::string conditions = ConditionsText(printer.conditions);
            rows.back().push_back(printer.verified ? StatusStateName(printer.state) : "-");
            rows.back().push_back(printer.verified ? DrawerPinText(printer.state, printer.conditions) : "-");
            rows.back().push_back(printer.verified && !conditions.empty() ? conditions : "-");
        }
        rows.back().push_back(printer.error);
    }
    PrintColumns(rows, out);
}

}  // namespace

void AddApplyCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<ApplyOptions>();
    CLI::App* apply = app.add_subcommand(
        "apply",
        "Send a settings profile to many printers, several at a time (see docs/profiles.md, "
        "installed in /usr/share/doc/tolctl)");
    apply->add_option("PROFILE", options->profile, "The profile (JSON)")->required()->type_name("FILE");
    apply
        ->add_option("--target", options->targets,
                     "A printer: any --port form, or socket://A.B.C.D-E and socket://A.B.C.D/NN for one "
                     "printer per address (repeatable)")
        ->type_name("PORT")
        ->allow_extra_args(false);
    apply
        ->add_option("--targets", options->targetsFile,
                     "A file of targets, one a line, each with optional KEY=VALUE overrides; # comments. "
                     "FILE.csv: a spreadsheet's, a header row of target and the dotted names")
        ->type_name("FILE");
    AddInteger(*apply, "--jobs", options->jobs, 1, 1024, "Printers served at a time (default 32)");
    AddInteger(*apply, "--gap", options->gapMs, 0, 60000,
               "Milliseconds between two commands to the same printer (default 300)")
        ->type_name("MS");
    apply->add_option("--report", options->report, "Write a JSON report of the results to FILE")
        ->type_name("FILE");
    apply
        ->add_option("--resume", options->resume,
                     "Serve again, each with its whole plan, the printers of REPORT that were not ok, "
                     "with the targets and overrides it holds; the others are not contacted. The new "
                     "report (REPORT itself unless --report) holds them all")
        ->type_name("REPORT");
    apply
        ->add_option("--retry-failed", options->retryFailed,
                     "As --resume, for the printers that failed only (not those interrupted)")
        ->type_name("REPORT");
    AddLabelOption(*apply, options->labels);
    apply
        ->add_option("--only", options->only,
                     "Send only these settings: dotted keys (lan.ip; a key of wifi-ap or wifi-station "
                     "sends its whole command), groups (wifi-station, lan) or after (the commands after the "
                     "settings, left out otherwise); the profile's and the targets' other keys are left out, "
                     "and the report lists them")
        ->type_name("KEY[,KEY...]")
        ->delimiter(',')
        ->allow_extra_args(false);
    apply->add_flag("--force", options->force,
                    "Resume although the profile is not the one REPORT was written for");
    CLI::Option* verify = apply->add_flag(
        "--verify", options->verify,
        "Read each printer's real-time status (as status does) after the commands that keep it at its "
        "address, before " +
            MovingCommandsText() +
            ": one that gives no answer, or is in error or offline, fails there and gets nothing more");
    AddInteger(*apply, "--timeout", options->timeoutMs, 1, kMaxStatusAnswerMs,
               "With --verify: milliseconds each status answer may take (default 1000)")
        ->type_name("MS")
        ->needs(verify);
    AddInteger(*apply, "--canary", options->canary, 1, 1000000,
               "Serve the first N printers (in target order) alone first, and the others only once all of "
               "them ended ok (with --verify: passed the status read too); otherwise the others are not-sent")
        ->type_name("N");
    apply
        ->add_option("--max-failed", options->maxFailed,
                     "Once more than N printers (or P% of them) have failed, begin no other: those under "
                     "way finish, the others are not-sent")
        ->type_name("N|P%");
    apply->add_flag(
        "--skip-same", options->skipSame,
        "Leave out each command whose settings the fleet record says the printer has (last sent "
        "with success, the same value; a password by its fingerprint); after commands only to "
        "printers that get a setting; a printer with nothing to get is not contacted (unchanged)");
    apply->add_flag("--dry-run", options->dryRun,
                    "Print each printer's commands as hex and decoded, and send nothing");
    apply->footer(
        "Targets files: one target a line, then KEY=VALUE overrides with the profile's dotted names "
        "(lan.ip=192.168.1.51 bt-name=\"Till 3\"); # begins a comment. An .ip value ending in + counts up "
        "per printer of a range or network (lan.ip=192.168.1.51+).\n"
        "Results: ok, failed, interrupted (stopped before the printer was done), not-sent (--canary or "
        "--max-failed ended the apply before its turn; --resume REPORT serves it), or unchanged "
        "(--skip-same: "
        "nothing to send, not contacted).\n"
        "The fleet record (see tolctl record) gets every command before it is sent and its result; a record "
        "that cannot be opened or written is an error (exit 1, or 2 for one of a newer tolctl) and nothing "
        "is sent: --no-record sends without one.\n"
        "--verify: the status read is one more step of each printer, --gap apart from its commands and "
        "connected within --connect-timeout; warning and ok pass, and the table and the report add each "
        "printer's state and conditions. Give --verify again with --resume or --retry-failed: a printer "
        "that failed its status read failed, and is served again with its whole plan.\n"
        "Exit codes: 0 every printer got everything; 1 any failed or was not sent (the table says which); "
        "2 the profile, "
        "the targets or an option refused, and nothing was sent; 130/143/129 stopped by SIGINT (Ctrl-C), "
        "SIGTERM or SIGHUP: the commands under way end, the table and the report are written.");
    list.push_back(
        {apply,
         [options](const GlobalOptions& global, std::istream& in, std::ostream& out,
                   std::ostream& err) -> int {
             if (!global.portText.empty()) {
                 err << "tolctl: apply: name the printers with --target or --targets, not --port\n";
                 return kExitUsage;
             }
             ApplyOptions given = *options;
             if (!given.retryFailed.empty() && !given.resume.empty()) {
                 err << "tolctl: apply: --resume and --retry-failed exclude each other\n";
                 return kExitUsage;
             }
             if (!given.retryFailed.empty()) {
                 given.resume = given.retryFailed;
                 given.failedOnly = true;
             }
             given.dryRun = given.dryRun || global.dryRun;
             given.showSecrets = global.showSecrets;
             given.progress = &err == &std::cerr && StderrIsTerminal();
             if (!RecordPathFor(global, "apply", given.recordPath, err)) {
                 return kExitUsage;
             }
             if (given.skipSame && given.recordPath.empty()) {
                 err << "tolctl: apply: --skip-same reads the record, which --no-record leaves out\n";
                 return kExitUsage;
             }
             return RunApply(given, global.send, in, out, err);
         }});
}

const char* TolctlVersion() {
    return TOL_VERSION_TEXT;
}

namespace {

// --max-failed N or P%: false when it is neither.
bool ParseMaxFailed(const std::string& text, size_t& number, bool& share) {
    share = !text.empty() && text.back() == '%';
    const std::string digits = text.substr(0, text.size() - (share ? 1 : 0));
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = static_cast<size_t>(std::stoul(digits));
    return !share || number <= 100;
}

}  // namespace

int RunApply(const ApplyOptions& options,
             const SendOptions& send,
             std::istream& in,
             std::ostream& out,
             std::ostream& err) {
    size_t maxFailed = 0;
    bool share = false;
    if (!options.maxFailed.empty() && !ParseMaxFailed(options.maxFailed, maxFailed, share)) {
        err << "tolctl: apply --max-failed: " << ShownText(options.maxFailed, 64)
            << " is not a number of printers N (0 or more) nor a share P% (0-100%)\n";
        return kExitUsage;
    }
    // A resumed roll-out's report replaces the one it resumes unless another is named.
    const std::string reportPath = options.report.empty() ? options.resume : options.report;
    // From here on Ctrl-C asks apply to stop and finish its record, and a reader of the table
    // that went away ends nothing (a dry run keeps the defaults).
    std::unique_ptr<Interrupts> caught;
    if (!options.dryRun) {
        caught.reset(new Interrupts);
    }
    // The record first: one that cannot be written sends nothing. A dry run only reads it.
    std::unique_ptr<Record> record;
    if (options.dryRun) {
        record = OpenRecordToRead(options.recordPath, "apply", err);
    } else {
        int code = kExitPort;
        if (!OpenRecordToWrite(options.recordPath, "apply", record, code, err)) {
            return code;
        }
    }
    RolloutInputs inputs;
    inputs.profile = options.profile;
    inputs.targets = options.targets;
    inputs.targetsFile = options.targetsFile;
    inputs.labels = options.labels;
    inputs.report = reportPath;
    inputs.resume = options.resume;
    inputs.failedOnly = options.failedOnly;
    inputs.force = options.force;
    inputs.only = options.only;
    if (record != nullptr) {
        Record* kept = record.get();
        inputs.fingerprint = [kept](const std::string& secret) { return kept->Fingerprint(secret); };
    }
    RolloutPlan plan = PlanRollout(inputs, in);
    if (!plan.errors.empty()) {
        ShowProblems(plan.errors, err);
        err << "tolctl: apply: nothing was sent\n";
        return kExitUsage;
    }
    if (!plan.carried.empty()) {
        err << "tolctl: apply: " << Counted(plan.carried.size(), "printer") << " of "
            << ShownText(options.resume, std::string::npos) << (plan.carried.size() == 1 ? " is" : " are")
            << " carried over without being contacted\n";
    }
    if (!plan.only.empty()) {
        std::string only, leftOut;
        for (const std::string& name : plan.only) {
            only += (only.empty() ? "" : ",") + name;
        }
        for (const std::string& key : plan.leftOut) {
            leftOut += (leftOut.empty() ? "" : ", ") + key;
        }
        err << "tolctl: apply: --only " << only << ": "
            << (leftOut.empty() ? "nothing given was left out" : "left out " + leftOut) << '\n';
    }
    if (plan.printers.empty()) {
        err << "tolctl: apply: no printer to serve again; nothing was sent\n";
        return kExitOk;
    }
    if (options.skipSame && record == nullptr) {
        err << "tolctl: apply: --skip-same: there is no record yet; every command is planned\n";
    }
    if (options.skipSame && record != nullptr) {
        size_t skipped = 0;
        std::string problem;
        if (!SkipSame(*record, plan, skipped, problem)) {
            err << "tolctl: apply: --skip-same: " << problem << "; nothing was sent\n";
            return kExitPort;
        }
        err << "tolctl: apply: --skip-same leaves out " << skipped
            << " commands that the record says the printers have\n";
    }
    if (options.dryRun) {
        PrintDryRun(plan, options.verify, options.showSecrets, out);
        return kExitOk;
    }

    Interrupts& interrupts = *caught;
    // The report's files are opened before anything is sent, so that a wrong name costs nothing.
    std::vector<ApplyObserver*> observers;
    std::unique_ptr<ApplyReport> report;
    if (!reportPath.empty()) {
        report.reset(new ApplyReport(
            plan, ReportHead{TolctlVersion(), options.profile, plan.targetsFile, options.verify}));
        std::string problem;
        if (!report->Open(reportPath, problem)) {
            err << "tolctl: --report: cannot write " << ShownText(reportPath, std::string::npos) << ": "
                << problem << "; nothing was sent\n";
            return kExitUsage;
        }
        interrupts.RemoveOnQuit(report->TemporaryPath());
        observers.push_back(report.get());
    }

    const JobsFit fit = FitJobs(static_cast<size_t>(options.jobs), plan);
    if (fit.limited) {
        err << "tolctl: apply: --jobs " << options.jobs
            << " needs more open files than this process may have (" << fit.limit << "); serving " << fit.jobs
            << " printers at a time\n";
    }
    ApplySettings settings;
    settings.jobs = fit.jobs;
    settings.gapMs = options.gapMs;
    settings.send = send;
    settings.verify = options.verify;
    settings.answerTimeoutMs = options.timeoutMs;
    if (record != nullptr) {
        nlohmann::ordered_json given = {{"jobs", options.jobs}, {"gap-ms", options.gapMs}};
        const auto add = [&given](const char* key, const std::string& value) {
            if (!value.empty()) {
                given[key] = value;
            }
        };
        add("targets", options.targetsFile);
        add(options.failedOnly ? "retry-failed" : "resume", options.resume);
        add("report", reportPath);
        given["verify"] = options.verify;
        given["skip-same"] = options.skipSame;
        settings.record = record.get();
        settings.rollout = BeginApplyRollout(*record, plan, options.profile, given.dump());
        if (settings.rollout.id == 0) {
            err << "tolctl: apply: cannot write the record: " << record->Problem() << kNoRecordHint << '\n';
            return kExitPort;
        }
        if (report) {
            report->SetRollout(settings.rollout.uuid);
        }
    }
    settings.canary = static_cast<size_t>(options.canary);
    if (!options.maxFailed.empty()) {
        // More than P% of them have failed: more than P% of the printers, rounded down.
        settings.maxFailed = share ? maxFailed * plan.printers.size() / 100 : maxFailed;
    }
    size_t commands = 0;
    for (const RolloutPrinter& printer : plan.printers) {
        commands += printer.plan->size();
    }
    ApplyResult result;
    {
        std::unique_ptr<Progress> progress;
        if (options.progress) {
            progress.reset(new Progress(err, plan.printers.size(), commands));
            observers.push_back(progress.get());
        }
        result = ApplyRollout(plan, settings, interrupts.Stop(), observers);
    }
    const int stoppedBy = interrupts.Signal();
    const bool recorded = record == nullptr || EndApplyRollout(*record, settings.rollout, result);

    // The record first: a table that cannot be written, or is slow to be read, must not cost it.
    bool reportWritten = true;
    std::string reportProblem;
    if (report) {
        reportWritten = report->Finish(result, settings, reportProblem);
    }
    PrintTable(plan, result, options.verify, out);
    out.flush();

    int code = result.failed == 0 && result.notSent == 0 ? kExitOk : kExitPort;
    if (!result.jobsProblem.empty()) {
        err << "tolctl: apply: " << result.jobsProblem << '\n';
    }
    if (result.failed > 0) {
        err << "tolctl: apply: " << result.failed << " of " << plan.printers.size() << " printers failed\n";
    }
    if (result.notSent > 0) {
        err << "tolctl: apply: " << result.halted << "; " << result.notSent << " of " << plan.printers.size()
            << " printers were not sent anything (not-sent)"
            << (reportPath.empty()
                    ? ""
                    : "; --resume " + ShownText(reportPath, std::string::npos) + " serves them")
            << '\n';
    }
    if (stoppedBy != 0) {
        err << "tolctl: apply: interrupted; " << result.interrupted << " of " << plan.printers.size()
            << " printers were cut short\n";
    }
    if (!reportWritten) {
        err << "tolctl: --report: cannot write " << ShownText(reportPath, std::string::npos) << ": "
            << reportProblem << '\n';
        code = kExitPort;
    }
    if (!recorded) {
        err << "tolctl: apply: the record lacks some of the results: " << record->Problem() << '\n';
        code = kExitPort;
    }
    if (options.skipSame) {
        err << "tolctl: apply: " << result.changed << " of " << plan.printers.size() + plan.carried.size()
            << " printers changed, " << result.unchanged << " unchanged (--skip-same)\n";
    }
    if (!out && report && reportWritten) {
        // The table is lost (said once, for all output, when tolctl ends); the record is not.
        err << "tolctl: apply: the report holds every result\n";
    }
    return stoppedBy != 0 ? Interrupts::ExitCode(stoppedBy) : code;
}
