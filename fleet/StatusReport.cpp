#include "fleet/StatusReport.h"

#include <cstdio>

namespace {

// The states in the order of the enumeration, Unreachable to Ok.
constexpr StatusState kStates[] = {StatusState::Unreachable, StatusState::NoAnswer, StatusState::NotAPrinter,
                                   StatusState::Error,       StatusState::Offline,  StatusState::Warning,
                                   StatusState::Ok};

// `text` as valid UTF-8: a byte that is no part of a UTF-8 character becomes U+FFFD. (A name read
// from a targets file may hold such bytes; a scraper would refuse the whole page.)
std::string ValidUtf8(const std::string& text) {
    const std::string quoted =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(quoted).get<std::string>();
}

// A label value as the exposition format quotes it: backslash, double quote and line feed escaped.
void AppendLabelValue(std::string& text, const std::string& value) {
    for (const char c : ValidUtf8(value)) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
}

void AppendHeader(std::string& text, const char* name, const char* help) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += " gauge\n";
}

// `name{target="..."` without the closing brace, for more labels to follow.
void AppendSeriesStart(std::string& text, const char* name, const std::string& target) {
    text += name;
    text += "{target=\"";
    text += target;
    text += '"';
}

}  // namespace

nlohmann::ordered_json PrinterStatusJson(const Target& target, const PrinterStatus& status) {
    nlohmann::ordered_json entry;
    entry["target"] = target.name;
    entry["state"] = StatusStateName(status.state);
    entry["conditions"] = nlohmann::ordered_json::array();
    for (const char* name : StatusConditionNames(status.conditions)) {
        entry["conditions"].push_back(name);
    }
    entry["answers"] = StatusAnswersText(status.answers);
    if (!status.reason.empty()) {
        entry["reason"] = status.reason;
    }
    return entry;
}

std::string FleetStatusJsonText(const std::vector<Target>& targets, const FleetStatus& found) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (size_t i = 0; i < targets.size(); ++i) {
        if (found.read[i] != 0) {
            list.push_back(PrinterStatusJson(targets[i], found.printers[i]));
        }
    }
    // A name read from a targets file may hold bytes that are not UTF-8: shown as U+FFFD.
    return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string FleetStatusMetrics(const std::vector<Target>& targets, const FleetStatus& found) {
    std::vector<std::string> labels;  // each read printer's target label value, escaped
    std::vector<size_t> shown;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (found.read[i] != 0) {
            labels.emplace_back();
            AppendLabelValue(labels.back(), targets[i].name);
            shown.push_back(i);
        }
    }
    const std::vector<const char*> conditions = StatusConditionNames(static_cast<StatusConditions>(~0u));
    std::string text;
    text.reserve(256 * (1 + shown.size() * (4 + std::size(kStates) + conditions.size())));

    AppendHeader(text, "tolctl_printer_up", "1 when the printer answered all four status requests, else 0.");
    for (size_t n = 0; n < shown.size(); ++n) {
        const StatusAnswers& answers = found.printers[shown[n]].answers;
        bool all = true;
        for (const int answer : answers) {
            all = all && answer >= 0;
        }
        AppendSeriesStart(text, "tolctl_printer_up", labels[n]);
        text += all ? "} 1\n" : "} 0\n";
    }
    AppendHeader(text, "tolctl_printer_state",
                 "1 for the printer's state (the first that applies: unreachable, no-answer, not-a-printer, "
                 "error, offline, warning, ok), 0 for the others.");
    for (size_t n = 0; n < shown.size(); ++n) {
        const StatusState state = found.printers[shown[n]].state;
        for (const StatusState each : kStates) {
            AppendSeriesStart(text, "tolctl_printer_state", labels[n]);
            text += ",state=\"";
            text += StatusStateName(each);
            text += each == state ? "\"} 1\n" : "\"} 0\n";
        }
    }
    AppendHeader(text, "tolctl_printer_condition",
                 "1 when the printer's status answers report the condition, else 0.");
    for (size_t n = 0; n < shown.size(); ++n) {
        const StatusConditions has = found.printers[shown[n]].conditions;
        for (size_t bit = 0; bit < conditions.size(); ++bit) {
            AppendSeriesStart(text, "tolctl_printer_condition", labels[n]);
            text += ",condition=\"";
            text += conditions[bit];
            text += (has >> bit & 1u) != 0 ? "\"} 1\n" : "\"} 0\n";
        }
    }
    AppendHeader(text, "tolctl_printer_status_seconds", "Unix time when the printer's status was last read.");
    for (size_t n = 0; n < shown.size(); ++n) {
        const int64_t ms = found.readAtMs[shown[n]];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%lld.%03d", static_cast<long long>(ms / 1000),
                      static_cast<int>(ms % 1000));
        AppendSeriesStart(text, "tolctl_printer_status_seconds", labels[n]);
        text += "} ";
        text += seconds;
        text += '\n';
    }
    return text;
}
