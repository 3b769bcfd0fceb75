#include "ApplyReport.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <utility>

namespace {

using Json = nlohmann::ordered_json;

double Rounded(double ms) {
    return std::round(ms * 1000) / 1000;
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
    m_entries[printer] = m_file.Spool(Entry(printer, result, commands));
}

std::string ApplyReport::Entry(size_t index,
                               const PrinterResult& result,
                               const std::vector<CommandResult>& results) const {
    const RolloutPrinter& printer = m_plan.printers[index];
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
    const bool ok = result.outcome == PrinterResult::Outcome::Ok;
    const Json entry = {{"target", printer.target.name},
                        {"result", OutcomeName(result.outcome)},
                        {"sent", result.sent},
                        {"settings", printer.plan->size()},
                        {"error", ok ? Json(nullptr) : Json(result.error)},
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

bool ApplyReport::Finish(const ApplyResult& result, const ApplySettings& settings, std::string& error) {
    const Json head = {
        {"tolctl-version", m_head.version},
        {"profile", m_head.profile},
        {"started", result.started},
        {"seconds", Rounded(result.seconds)},
        {"jobs", settings.jobs},
        {"gap-ms", settings.gapMs},
        {"connect-timeout-ms", settings.send.connectTimeoutMs},
        {"printers", m_plan.printers.size()},
        {"ok", result.ok},
        {"failed", result.failed},
        {"results", Json::array()},
    };
    std::string text = head.dump(2, ' ', false, Json::error_handler_t::replace);
    text.erase(text.size() - 4);  // "[]\n}": the entries go between the brackets
    m_file.Write(text + "[\n");
    std::string entry;
    for (size_t i = 0; i < m_plan.printers.size(); ++i) {
        const PrinterResult& printer = result.printers[i];
        if (printer.outcome == PrinterResult::Outcome::NotBegun) {
            entry = Entry(i, printer, std::vector<CommandResult>(m_plan.printers[i].plan->size()));
        } else if (!m_file.ReadBack(m_entries[i], entry)) {
            return m_file.Finish(error);  // which tells the failure
        }
        m_file.Write(i == 0 ? entry : ",\n" + entry);
    }
    m_file.Write("\n  ]\n}\n");
    return m_file.Finish(error);
}
