#include "tolctl/StatusTargets.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "tolctl/Output.h"
#include "tolctl/Tolctl.h"
#include "transport/StatusExchange.h"

void AddStatusTargetOptions(CLI::App& command, StatusTargetOptions& options) {
    command
        .add_option("--target", options.targets,
                    "A printer: any --port form, or socket://A.B.C.D-E and socket://A.B.C.D/NN for one "
                    "printer per address (repeatable)")
        ->type_name("PORT")
        ->allow_extra_args(false);
    command
        .add_option(
            "--targets", options.targetsFile,
            "A file of targets, one a line, or FILE.csv a spreadsheet's, as apply reads them (KEY=VALUE "
            "overrides and their columns are ignored; labels are kept)")
        ->type_name("FILE");
    AddLabelOption(command, options.labels);
    AddInteger(command, "--jobs", options.jobs, 1, 1024, "Printers asked at a time (default 64)");
    AddInteger(command, "--timeout", options.timeoutMs, 1, kMaxStatusAnswerMs,
               "Milliseconds each answer may take (default 1000; a serial port's read looks 16 times, 100 ms "
               "apart)")
        ->type_name("MS");
}

bool GatherTargets(const StatusTargetOptions& options,
                   const GlobalOptions& global,
                   const std::string& subcommand,
                   std::vector<Target>& targets,
                   std::ostream& err,
                   const std::string& outcome) {
    std::vector<std::string> errors;
    TargetSources sources;
    sources.port = global.portText;
    sources.targets = options.targets;
    sources.file = options.targetsFile;
    sources.labels = options.labels;
    const std::vector<TargetLine> lines = ReadTargetLines(sources, errors);
    if (lines.empty() && errors.empty()) {
        errors.push_back("no printers: give --port, --target or --targets");
    }
    targets = ExpandTargetLines(lines, errors);
    if (errors.empty()) {
        return true;
    }
    ShowProblems(errors, err);
    err << "tolctl: " << subcommand << ": " << outcome << '\n';
    return false;
}

FleetStatusSettings StatusSettings(const StatusTargetOptions& options, const GlobalOptions& global) {
    FleetStatusSettings settings;
    settings.jobs = static_cast<size_t>(options.jobs);
    settings.answerTimeoutMs = options.timeoutMs;
    settings.send = global.send;
    return settings;
}

int StatusExitCode(const FleetStatus& found) {
    for (size_t i = 0; i < found.printers.size(); ++i) {
        if (found.read[i] != 0 && !StatusStateGood(found.printers[i].state)) {
            return kExitPort;
        }
    }
    return kExitOk;
}

std::unique_ptr<Record> StatusRecord(const GlobalOptions& global,
                                     const std::string& subcommand,
                                     std::ostream& err) {
    std::string path, problem;
    if (!RecordPath(global, path, problem)) {
        err << "tolctl: " << subcommand << ": warning: no record of the status is kept: " << problem << '\n';
        return nullptr;
    }
    if (path.empty()) {
        return nullptr;
    }
    RecordProblem why;
    std::unique_ptr<Record> record = Record::Open(path, RecordMode::Write, why);
    if (record == nullptr) {
        err << "tolctl: " << subcommand << ": warning: no record of the status is kept: " << why.text
            << " (--no-record reads without one)\n";
    }
    return record;
}
