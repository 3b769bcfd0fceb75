// The console and the fleet record: its sends written as roll-outs of kind "console", and the
// answers read from the record (the jobs, past ones too, and a printer's settings, history and
// status changes). A password never reaches the page: the record holds only its fingerprint,
// shown as "hmac:" and 8 hex digits.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "commands/SettingRegistry.h"
#include "console/Console.h"
#include "console/ConsoleJobs.h"
#include "console/ConsoleReply.h"
#include "json/JsonParse.h"
#include "record/RecordQueries.h"
#include "system/Files.h"
#include "system/UtcTime.h"
#include "transport/PortUri.h"
#include "values/Values.h"

namespace {

using Json = ConsoleJson;

/// A record's answer is written to its scratch file, and streamed from it, in pieces of this size.
constexpr size_t kSpoolPiece = 64 * 1024;

std::string JsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json RecordTime(int64_t ms) {
    return ms == 0 ? Json() : Json(UtcMsText(ms));
}

// A value as the record shows it: a secret as "hmac:" and its fingerprint.
std::string RecordShown(const std::string& value, bool secret) {
    return secret ? "hmac:" + value : value;
}

// An answer written to a scratch file as the record's rows are read, then streamed from it, so
// that one of many rows (a past job of 65,536 printers, years of a printer's history) is never
// whole in memory; kept in memory when no scratch file can be had.
class SpooledAnswer {
  public:
    explicit SpooledAnswer(const std::string& beside) : m_file(OpenScratchFileBeside(beside), Close) {}

    void Add(const std::string& text) {
        m_text += text;
        if (m_file && m_text.size() >= kSpoolPiece) {
            Spill();
        }
    }

    HttpReply Reply() {
        HttpReply reply = JsonReply(Json());
        if (m_spilled == 0) {
            reply.body = std::move(m_text);
            return reply;
        }
        Spill();
        if (m_failed || !SeekFile(m_file.get(), 0)) {
            return ::ErrorReply(500, "cannot keep the record's answer in a scratch file of the state folder");
        }
        reply.body.clear();
        std::shared_ptr<std::FILE> file = std::move(m_file);
        reply.stream = [file](const HttpWrite& write) {
            std::string piece(kSpoolPiece, '\0');
            piece.resize(std::fread(&piece[0], 1, piece.size(), file.get()));
            if (!piece.empty()) {
                write(piece);
            }
            return piece.size() == kSpoolPiece;
        };
        return reply;
    }

  private:
    static void Close(std::FILE* file) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }

    void Spill() {
        m_failed = m_failed || std::fwrite(m_text.data(), 1, m_text.size(), m_file.get()) != m_text.size();
        m_spilled += m_text.size();
        m_text.clear();
    }

    std::shared_ptr<std::FILE> m_file;
    std::string m_text;
    size_t m_spilled = 0;
    bool m_failed = false;
};

// Writes the rows of a list, each on a line of its own.
class ListWriter {
  public:
    explicit ListWriter(SpooledAnswer& answer) : m_answer(answer) {}
    void Add(const Json& row) {
        m_answer.Add((m_any ? ",\n    " : "\n    ") + JsonLine(row));
        m_any = true;
    }
    void End() { m_answer.Add(m_any ? "\n  ]" : "]"); }

  private:
    SpooledAnswer& m_answer;
    bool m_any = false;
};

// The console's job that roll-out `row` is, or "" when it is none (another kind, a send).
std::string JobOf(const RolloutRow& row) {
    if (row.kind != "console") {
        return "";
    }
    Json options;
    std::string ignored;
    if (!ParseJson(row.options, options, ignored) || !options.is_object() || !options.contains("job") ||
        !options["job"].is_string()) {
        return "";
    }
    return options["job"].get<std::string>();
}

Json RolloutJson(const RolloutRow& row, const std::string& job) {
    Json counts;
    std::string ignored;
    if (!ParseJson(row.counts, counts, ignored) || !counts.is_object()) {
        counts = Json();
    }
    return {{"job", job},
            {"rollout", row.uuid},
            {"started", RecordTime(row.startMs)},
            {"ended", RecordTime(row.endMs)},
            {"user", row.userHost},
            {"version", row.version},
            {"profile", row.profile},
            {"profile-digest", row.digest},
            {"counts", counts}};
}

}  // namespace

bool Console::ContinueJobs(std::string& problem) {
    if (m_settings.record == nullptr) {
        return true;
    }
    size_t highest = 0;
    const bool read = QueryRollouts(
        *m_settings.record,
        [&highest](const RolloutRow& row) {
            const std::string job = JobOf(row);
            if (!job.empty() && job.size() <= 9 && job.find_first_not_of("0123456789") == std::string::npos) {
                highest = std::max<size_t>(highest, std::stoul(job));
            }
        },
        problem);
    m_jobs->NotBelow(highest);
    return read;
}

SendOutcome Console::SendRecorded(const SendOptions& send,
                                  const Cmd& cmd,
                                  const std::string& command,
                                  const std::string& target,
                                  const std::vector<std::pair<std::string, RecordValue>>& settings,
                                  std::string& problem) {
    Record* record = m_settings.record;
    if (record == nullptr) {
        return SendCmd(send, cmd);
    }
    RolloutStart start;
    start.kind = "console";
    start.options = JsonLine({{"command", command}, {"target", target}});
    const RecordRollout rollout = record->BeginRollout(start);
    if (rollout.id == 0) {
        problem = "cannot write the record: " + record->Problem() + "; nothing was sent";
        return SendOutcome{SendOutcome::Result::Failed, problem, 0};
    }
    // Each setting in flight once the port is open and before the first byte leaves.
    const std::string printer = PrinterName(send.port);
    std::vector<RecordSend> sends;
    for (const auto& setting : settings) {
        sends.push_back(record->StartCommand(rollout, printer, setting.first, setting.second));
    }
    const SendOutcome outcome = SendCmd(send, cmd, 0, [&](std::string& reason) {
        for (RecordSend& one : sends) {
            if (!record->AwaitCommand(one)) {
                reason = "not sent: the record could not note it (" + record->Problem() + ")";
                return false;
            }
        }
        return true;
    });
    for (const RecordSend& one : sends) {
        record->CommandEnded(one, outcome.Sent() ? SendResult::Sent : SendResult::Failed, outcome.reason);
    }
    const int sent = outcome.Sent() ? 1 : 0;
    record->EndRollout(rollout,
                       JsonLine({{"printers", 1}, {"ok", sent}, {"failed", 1 - sent}, {"changed", sent}}));
    return outcome;
}

HttpReply Console::Jobs() {
    if (m_settings.record == nullptr) {
        // Without a record (--no-record): the jobs of this run that are kept.
        Json jobs = Json::array();
        for (const auto& job : m_jobs->List()) {
            jobs.push_back({{"job", job.first}, {"done", job.second}});
        }
        return JsonReply({{"jobs", jobs}});
    }
    SpooledAnswer answer(m_settings.stateFolder + "/jobs.json");
    answer.Add("{\n  \"jobs\": [");
    ListWriter list(answer);
    std::string problem;
    if (!QueryRollouts(
            *m_settings.record,
            [&list](const RolloutRow& row) {
                const std::string job = JobOf(row);
                if (!job.empty()) {
                    list.Add(RolloutJson(row, job));
                }
            },
            problem)) {
        return ::ErrorReply(500, problem);
    }
    list.End();
    answer.Add("\n}\n");
    return answer.Reply();
}

HttpReply Console::PastJob(const std::string& id) {
    RolloutRow found;
    std::string problem;
    bool known = false;
    if (m_settings.record != nullptr && !QueryRollouts(
                                            *m_settings.record,
                                            [&](const RolloutRow& row) {
                                                if (!known && JobOf(row) == id) {
                                                    found = row;
                                                    known = true;
                                                }
                                            },
                                            problem)) {
        return ::ErrorReply(500, problem);
    }
    if (!known) {
        return ::ErrorReply(404, "no job " + id +
                                     (m_settings.record != nullptr
                                          ? " in the record"
                                          : " (without a record jobs are kept while the console runs, the "
                                            "last 20; their reports in the state folder's jobs/)"));
    }
    // What the record holds of it: the roll-out and each printer's commands by result.
    SpooledAnswer answer(m_settings.stateFolder + "/job.json");
    Json head = RolloutJson(found, id);
    head["done"] = found.endMs != 0;
    const std::string text = head.dump(2, ' ', false, Json::error_handler_t::replace);
    answer.Add(text.substr(0, text.size() - 2) + ",\n  \"printers\": [");
    ListWriter list(answer);
    if (!QueryRolloutPrinters(
            *m_settings.record, found.uuid,
            [&list](const RolloutPrinterRow& row) {
                list.Add({{"target", row.printer},
                          {"result", row.result},
                          {"sent", row.sent},
                          {"failed", row.failed},
                          {"not-sent", row.notSent},
                          {"interrupted", row.interrupted},
                          {"in-flight", row.inFlight},
                          {"error", row.error.empty() ? Json() : Json(row.error)},
                          {"time", RecordTime(row.lastMs)}});
            },
            problem)) {
        return ::ErrorReply(500, problem);
    }
    list.End();
    answer.Add("\n}\n");
    return answer.Reply();
}

HttpReply Console::RecordedPrinter(const std::string& target) {
    PortUri port;
    std::string problem;
    if (!ParsePortUri(target, kWindowsPortNames, port, problem)) {
        return ::ErrorReply(400, ShownText(target, 64) + ": " + problem);
    }
    if (m_settings.record == nullptr) {
        return ::ErrorReply(404, "the console keeps no record (it was started with --no-record)");
    }
    Record& record = *m_settings.record;
    const std::string name = PrinterName(port);
    SpooledAnswer answer(m_settings.stateFolder + "/printer.json");
    answer.Add("{\n  \"target\": " + JsonLine(name) + ",\n  \"settings\": [");
    ListWriter settings(answer);
    Json status;
    bool read = QueryPrinters(
        record, {name},
        [&](const PrinterSettingRow& row) {
            if (row.statusMs != 0) {
                status = {{"state", row.state}, {"conditions", row.conditions}, {"time", RecordTime(row.statusMs)}};
            }
            if (!row.setting.empty()) {
                settings.Add({{"setting", row.setting},
                              {"value", row.sentMs == 0 ? Json() : Json(RecordShown(row.value, row.secret))},
                              {"sent", RecordTime(row.sentMs)},
                              {"rollout", row.rollout.empty() ? Json() : Json(row.rollout)},
                              {"failed", RecordTime(row.failedMs)}});
            }
        },
        problem);
    settings.End();
    answer.Add(",\n  \"status\": " + JsonLine(status) + ",\n  \"history\": [");
    ListWriter history(answer);
    read = read && QueryHistory(
                       record, name,
                       [&history](const HistoryRow& row) {
                           history.Add({{"time", RecordTime(row.timeMs)},
                                        {"rollout", row.rollout},
                                        {"setting", row.setting},
                                        {"value", RecordShown(row.value, row.secret)},
                                        {"result", SendResultName(row.result)},
                                        {"error", row.error.empty() ? Json() : Json(row.error)}});
                       },
                       problem);
    history.End();
    answer.Add(",\n  \"status-changes\": [");
    ListWriter changes(answer);
    read = read &&
           QueryStatusHistory(
               record, name,
               [&changes](const StatusRow& row) {
                   changes.Add(
                       {{"time", RecordTime(row.timeMs)}, {"state", row.state}, {"conditions", row.conditions}});
               },
               problem);
    changes.End();
    answer.Add("\n}\n");
    return read ? answer.Reply() : ::ErrorReply(500, problem);
}
