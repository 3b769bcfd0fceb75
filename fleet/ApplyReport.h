// The JSON report of an apply (--report): one observer of the apply engine.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fleet/Apply.h"
#include "fleet/ReportFile.h"

/// What a report names besides the results.
struct ReportHead {
    std::string version;  // the tool's, as "tolctl-version"
    std::string profile;  // the profile's file as given
    std::string targets;  // the targets file as given (beside which its password files are), or empty
    bool verify = false;  // each entry tells the printer's state and conditions (null when not read)
};

/// A printer's entry of the report's results (passwords hidden, as the plan shows its settings):
/// target, its labels where it has them and its number in its line (n) where templates were
/// filled in with it, result, `time` (when it was done, ISO 8601 UTC; null when empty), `rollout`
/// (the record's roll-out id; null when empty), sent, settings, error, with `verify` state and
/// conditions, overrides, planned, and each command's result.
nlohmann::ordered_json ReportEntryJson(const RolloutPlan& plan,
                                       size_t printer,
                                       const PrinterResult& result,
                                       const std::vector<CommandResult>& commands,
                                       bool verify,
                                       const std::string& time = "",
                                       const std::string& rollout = "");

/// The same as JSON text, indented as it sits among the report's results (four spaces).
std::string ReportEntryText(const RolloutPlan& plan,
                            size_t printer,
                            const PrinterResult& result,
                            const std::vector<CommandResult>& commands,
                            bool verify,
                            const std::string& time = "",
                            const std::string& rollout = "");

/// The report's facts before its results, counting `printers`, `ok` and `failed`; `rollout` the
/// roll-out's id in the fleet record (null when empty).
nlohmann::ordered_json ReportHeadJson(const RolloutPlan& plan,
                                      const ReportHead& head,
                                      const ApplyResult& result,
                                      const ApplySettings& settings,
                                      size_t printers,
                                      size_t ok,
                                      size_t failed,
                                      const std::string& rollout = "");

/// Keeps each printer's entry as the printer is done (in a scratch file, so that memory holds
/// only its place) and writes the whole report at the end, in the plan's order, in the place of
/// the earlier one (ReportFile).
class ApplyReport : public ApplyObserver {
  public:
    ApplyReport(const RolloutPlan& plan, ReportHead head);

    /// Checks that `path` can be replaced and opens the files the report is written to; false
    /// with `error` saying why ("permission denied").
    bool Open(const std::string& path, std::string& error);
    /// The file written before it takes the report's place (for removal when the process is
    /// ended early).
    const std::string& TemporaryPath() const { return m_file.TemporaryPath(); }
    /// The roll-out's id in the fleet record, which the report and each entry name.
    void SetRollout(const std::string& uuid) { m_rollout = uuid; }

    void PrinterDone(size_t printer,
                     const PrinterResult& result,
                     const std::vector<CommandResult>& commands) override;

    /// Writes the report: the apply's facts, then every printer's entry (one never begun with
    /// its commands not sent), the plan's carried printers among them in their places. False with `error`
    /// saying why when it could not be written; the earlier report then stays as it was.
    bool Finish(const ApplyResult& result, const ApplySettings& settings, std::string& error);

  private:
    const RolloutPlan& m_plan;
    ReportHead m_head;
    std::string m_rollout;  // the record's roll-out id; empty: none
    ReportFile m_file;
    std::vector<SpooledText> m_entries;  // one per printer, written by its own job
};
