#include "fleet/ApplyReport.h"

#include <cmath>
#include <utility>

#include "system/UtcTime.h"

namespace {

using Json = nlohmann::ordered_json;

double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
}

// JSON text indented as an entry of the results.
std::string Indented(const std::string& text) {
    std::string indented = "    ";
    for (const char c : text) {
        indented += c;
        if (c == '\n') {
            indented += "    ";
        }
    }
    return indented;
}

}  // namespace

ApplyReport::ApplyReport(const RolloutPlan& plan, ReportHead head)
    : m_plan(plan), m_head(std::move(head)), m_entries(plan.printers.size()) {}

bool ApplyReport::Open(const std::string& path, std::string& error) {
    return m_file.Open(path, error);
}

void ApplyReport::PrinterDone(size_t printer,
                              const PrinterResult& result,
                              const std::vector<CommandResult>& commands) {
    m_entries[printer] = m_file.Spool(
        ReportEntryText(m_plan, printer, result, commands, m_head.verify, UtcMsText(UtcNowMs()), m_rollout));
}

nlohmann::ordered_json ReportEntryJson(const RolloutPlan& plan,
                                       size_t index,
                                       const PrinterResult& result,
                                       const std::vector<CommandResult>& results,
                                       bool verify,
                                       const std::string& time,
                                       const std::string& rollout) {
    const RolloutPrinter& printer = plan.printers[index];
    Json commands = Json::array();
    for (size_t i = 0; i < printer.plan->size(); ++i) {
        const CommandResult& command = results[i];
        Json entry = {{"command", (*printer.plan)[i].name}};
        switch (command.state) {
            case CommandResult::State::Sent:
                entry["result"] = "sent";
                break;
            case CommandResult::State::Failed:
                entry["result"] = "failed";
                break;
            case CommandResult::State::NotSent:
                entry["result"] = "not sent";
                break;
        }
        if (command.state != CommandResult::State::NotSent) {
            entry["start-ms"] = Rounded(command.startMs);
            entry["ms"] = Rounded(command.ms);
        }
        commands.push_back(std::move(entry));
    }
    const bool ok =
        result.outcome == PrinterResult::Outcome::Ok || result.outcome == PrinterResult::Outcome::Unchanged;
    Json overrides = Json::array(), planned = Json::object();
    if (printer.setup) {
        overrides = printer.setup->overrides;
        for (const auto& setting : printer.setup->settings) {
            planned.push_back({setting.first, setting.second});  // appended: the keys are unique
        }
    }
    Json entry = {{"target", printer.target.name}};
    // Its labels and number, which its templates were filled in with (and a resumed run again).
    if (printer.target.labels) {
        Json labels = Json::object();
        for (const auto& label : *printer.target.labels) {
            labels.push_back({label.first, label.second});
        }
        entry.push_back({"labels", std::move(labels)});
    }
    if (printer.setup && printer.setup->number != 0) {
        entry.push_back({"n", printer.setup->number});
    }
    entry.push_back({"result", OutcomeName(result.outcome)});
    entry.push_back({"time", time.empty() ? Json(nullptr) : Json(time)});
    entry.push_back({"rollout", rollout.empty() ? Json(nullptr) : Json(rollout)});
    entry.push_back({"sent", result.sent});
    entry.push_back({"settings", printer.plan->size()});
    entry.push_back({"error", ok ? Json(nullptr) : Json(result.error)});
    if (verify) {
        Json conditions = Json::array();
        for (const char* name : StatusConditionNames(result.conditions)) {
            conditions.push_back(name);
        }
        entry.push_back({"state", result.verified ? Json(StatusStateName(result.state)) : Json(nullptr)});
        entry.push_back({"conditions", result.verified ? std::move(conditions) : Json(nullptr)});
    }
    entry.push_back({"overrides", std::move(overrides)});
    entry.push_back({"planned", std::move(planned)});
    entry.push_back({"commands", std::move(commands)});
    return entry;
}

std::string ReportEntryText(const RolloutPlan& plan,
                            size_t index,
                            const PrinterResult& result,
                            const std::vector<CommandResult>& results,
                            bool verify,
                            const std::string& time,
                            const std::string& rollout) {
    // Text that is not UTF-8 (a file name) is written with U+FFFD instead of failing.
    return Indented(ReportEntryJson(plan, index, result, results, verify, time, rollout)
                        .dump(2, ' ', false, Json::error_handler_t::replace));
}

Json ReportHeadJson(const RolloutPlan& plan,
                    const ReportHead& head,
                    const ApplyResult& result,
                    const ApplySettings& settings,
                    size_t printers,
                    size_t ok,
                    size_t failed,
                    const std::string& rollout) {
    Json json = {
        {"tolctl-version", head.version},
        {"profile", head.profile},
        {"profile-digest", plan.profileDigest},
        {"rollout", rollout.empty() ? Json(nullptr) : Json(rollout)},
        {"targets", head.targets.empty() ? Json(nullptr) : Json(head.targets)},
        {"started", result.started},
        {"seconds", Rounded(result.seconds)},
        {"jobs", settings.jobs},
        {"gap-ms", settings.gapMs},
        {"connect-timeout-ms", settings.send.connectTimeoutMs},
    };
    if (!plan.only.empty()) {
        json.push_back({"only", plan.only});         // what was sent, and
        json.push_back({"left-out", plan.leftOut});  // the keys given that were not
    }
    if (settings.verify) {
        json.push_back({"verify", true});
        json.push_back({"answer-timeout-ms", settings.answerTimeoutMs});
    }
    json.push_back({"printers", printers});
    json.push_back({"ok", ok});
    json.push_back({"failed", failed});
    json.push_back({"changed", result.changed});  // printers that took a command in this run
    json.push_back({"unchanged", result.unchanged});
    return json;
}

bool ApplyReport::Finish(const ApplyResult& result, const ApplySettings& settings, std::string& error) {
    size_t ok = result.ok, failed = result.failed;
    for (const CarriedPrinter& carried : m_plan.carried) {
        ok += carried.result == "ok" ? 1 : 0;
        failed += carried.result == "failed" ? 1 : 0;
    }
    const size_t printers = m_plan.printers.size() + m_plan.carried.size();
    Json head = ReportHeadJson(m_plan, m_head, result, settings, printers, ok, failed, m_rollout);
    head.push_back({"results", Json::array()});
    std::string text = head.dump(2, ' ', false, Json::error_handler_t::replace);
    text.erase(text.size() - 4);  // "[]\n}": the entries go between the brackets
    m_file.Write(text + "[\n");
    std::string entry;
    size_t served = 0, carried = 0;
    for (size_t place = 0; place < printers; ++place) {
        if (carried < m_plan.carried.size() &&
            (m_plan.carried[carried].position <= place || served == m_plan.printers.size())) {
            entry = Indented(m_plan.carried[carried++].entry);
        } else {
            const size_t i = served++;
            const PrinterResult& printer = result.printers[i];
            if (printer.outcome == PrinterResult::Outcome::NotBegun ||
                printer.outcome == PrinterResult::Outcome::NotSent) {
                entry = ReportEntryText(m_plan, i, printer,
                                        std::vector<CommandResult>(m_plan.printers[i].plan->size()),
                                        m_head.verify, UtcMsText(UtcNowMs()), m_rollout);
            } else if (!m_file.ReadBack(m_entries[i], entry)) {
                return m_file.Finish(error);  // which tells the failure
            }
        }
        m_file.Write(place == 0 ? entry : ",\n" + entry);
    }
    m_file.Write("\n  ]\n}\n");
    return m_file.Finish(error);
}
