#include "record/RecordTransfer.h"

#include <istream>
#include <ostream>
#include <unordered_map>

#include "TolVersion.h"
#include "json/JsonParse.h"
#include "record/RecordStore.h"
#include "values/Values.h"

namespace {

using Json = nlohmann::ordered_json;

// A JSON object's text as the object; anything else as it is, a string.
Json ObjectOf(const std::string& text) {
    Json parsed;
    std::string problem;
    if (!text.empty() && ParseJson(text, parsed, problem) && parsed.is_object()) {
        return parsed;
    }
    return text.empty() ? Json(nullptr) : Json(text);
}

void WriteLine(std::ostream& out, const Json& line) {
    out << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

bool ReadFailed(Record& record, std::string& problem) {
    problem = "cannot read the record " + record.Label() + ": " + record.Db().Problem();
    return false;
}

// The fields of one line, each checked as it is taken; the first problem is kept.
class LineFields {
  public:
    explicit LineFields(const Json& line) : m_line(line) {}

    std::string Text(const char* key, bool nullable = false) {
        const auto found = m_line.find(key);
        if (found != m_line.end() && found->is_string()) {
            return found->get<std::string>();
        }
        if (!(nullable && (found == m_line.end() || found->is_null()))) {
            Problem(std::string("\"") + key + "\" is not " + (nullable ? "text or null" : "text"));
        }
        return "";
    }
    int64_t Number(const char* key, bool nullable = false) {
        const auto found = m_line.find(key);
        if (found != m_line.end() && found->is_number_integer() && found->get<int64_t>() >= 0) {
            return found->get<int64_t>();
        }
        if (!(nullable && (found == m_line.end() || found->is_null()))) {
            Problem(std::string("\"") + key + "\" is not " +
                    (nullable ? "a whole number or null" : "a whole number"));
        }
        return 0;
    }
    bool Flag(const char* key) {
        const auto found = m_line.find(key);
        if (found != m_line.end() && found->is_boolean()) {
            return found->get<bool>();
        }
        Problem(std::string("\"") + key + "\" is not true or false");
        return false;
    }
    // An object, as its text; empty for null when `nullable`.
    std::string Object(const char* key, bool nullable) {
        const auto found = m_line.find(key);
        if (found != m_line.end() && found->is_object()) {
            return found->dump(-1, ' ', false, Json::error_handler_t::replace);
        }
        if (!(nullable && (found == m_line.end() || found->is_null()))) {
            Problem(std::string("\"") + key + "\" is not an object");
        }
        return "";
    }
    void Problem(const std::string& problem) {
        if (m_problem.empty()) {
            m_problem = problem;
        }
    }
    const std::string& Problem() const { return m_problem; }

  private:
    const Json& m_line;
    std::string m_problem;
};

bool HexToBytes(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return true;
}

}  // namespace

bool ExportRecord(Record& record, std::ostream& out, std::string& problem) {
    SqliteDb& db = record.Db();
    if (!db.Exec("BEGIN")) {
        return ReadFailed(record, problem);
    }
    WriteLine(
        out,
        Json{{"type", "tolctl-record"}, {"version", kRecordExportVersion}, {"tolctl", TOL_VERSION_TEXT}});
    SqliteStatement keys, rollouts, sends, statuses;
    const bool ok =
        keys.Prepare(db, "SELECT uuid, secret FROM fingerprint_keys ORDER BY id") && keys.EachRow([&] {
            const std::string secret = keys.Blob(1);
            WriteLine(out, Json{{"type", "key"}, {"uuid", keys.Text(0)}, {"secret", HexText(secret)}});
        }) &&
        rollouts.Prepare(
            db,
            "SELECT r.uuid, r.kind, r.started, r.ended, r.user_host, r.version, r.profile, r.digest, "
            "r.options, r.counts, k.uuid FROM rollouts r JOIN fingerprint_keys k ON "
            "k.id = r.fingerprint_key ORDER BY r.id") &&
        rollouts.EachRow([&] {
            WriteLine(out, Json{{"type", "rollout"},
                                {"uuid", rollouts.Text(0)},
                                {"kind", rollouts.Text(1)},
                                {"started", rollouts.Int(2)},
                                {"ended", rollouts.IsNull(3) ? Json(nullptr) : Json(rollouts.Int(3))},
                                {"user-host", rollouts.Text(4)},
                                {"version", rollouts.Text(5)},
                                {"profile", rollouts.Text(6)},
                                {"digest", rollouts.Text(7)},
                                {"options", ObjectOf(rollouts.Text(8))},
                                {"counts", ObjectOf(rollouts.Text(9))},
                                {"key", rollouts.Text(10)}});
        }) &&
        sends.Prepare(
            db,
            "SELECT r.uuid, x.seq, p.name, s.name, x.value, x.secret, x.result, x.error, x.time FROM sends x "
            "JOIN rollouts r ON r.id = x.rollout JOIN printers p ON p.id = x.printer "
            "JOIN settings s ON s.id = x.setting ORDER BY x.id") &&
        sends.EachRow([&] {
            WriteLine(out, Json{{"type", "send"},
                                {"rollout", sends.Text(0)},
                                {"seq", sends.Int(1)},
                                {"target", sends.Text(2)},
                                {"setting", sends.Text(3)},
                                {"value", sends.Text(4)},
                                {"secret", sends.Int(5) != 0},
                                {"result", SendResultName(static_cast<SendResult>(sends.Int(6)))},
                                {"error", sends.IsNull(7) ? Json(nullptr) : Json(sends.Text(7))},
                                {"time", sends.Int(8)}});
        }) &&
        statuses.Prepare(
            db,
            "SELECT p.name, x.time, x.seq, x.state, x.conditions FROM statuses x JOIN printers p ON "
            "p.id = x.printer ORDER BY x.printer, x.time, x.seq") &&
        statuses.EachRow([&] {
            WriteLine(out, Json{{"type", "status"},
                                {"target", statuses.Text(0)},
                                {"time", statuses.Int(1)},
                                {"seq", statuses.Int(2)},
                                {"state", statuses.Text(3)},
                                {"conditions", statuses.Text(4)}});
        });
    if (!ok) {
        ReadFailed(record, problem);
    }
    db.Exec("COMMIT");
    return ok;
}

bool ImportRecord(Record& record,
                  std::istream& in,
                  const std::string& origin,
                  bool dryRun,
                  ImportCounts& counts,
                  bool& refused,
                  std::string& problem) {
    counts = ImportCounts();
    refused = false;
    SqliteDb& db = record.Db();
    if (!db.Exec("BEGIN IMMEDIATE")) {
        problem = "cannot write the record " + record.Label() + ": " + db.Problem();
        return false;
    }
    RecordStore store(db);
    std::unordered_map<std::string, int64_t> rollouts;  // uuid -> id here
    std::string line;
    size_t number = 0;
    bool header = false;
    const auto refuse = [&](const std::string& why) {
        refused = true;
        problem = origin + ":" + std::to_string(number) + ": " + why;
        return false;
    };
    // One line merged; false with `problem` (and `refused` when the line is at fault).
    const auto merge = [&](const Json& parsed) {
        LineFields fields(parsed);
        const std::string type = fields.Text("type");
        if (!header) {
            const int64_t version = fields.Number("version");
            if (type != "tolctl-record" || !fields.Problem().empty()) {
                return refuse(
                    "not a record export of tolctl (its first line must be {\"type\": \"tolctl-record\", "
                    "...})");
            }
            if (version > kRecordExportVersion) {
                return refuse("an export of a newer tolctl (version " + std::to_string(version) +
                              "; this one reads up to " + std::to_string(kRecordExportVersion) + ")");
            }
            header = true;
            return true;
        }
        bool changed = false;
        bool ok = true;
        if (type == "key") {
            const std::string uuid = fields.Text("uuid");
            std::string secret;
            if (!HexToBytes(fields.Text("secret"), secret) || secret.empty()) {
                fields.Problem("\"secret\" is not hex");
            }
            int64_t id = 0;
            if (fields.Problem().empty()) {
                ok = store.KeyId(uuid, id);
                if (ok && id == 0) {
                    ok = store.InsertKey(uuid, secret, false, id);
                    changed = true;
                }
            }
        } else if (type == "rollout") {
            RolloutStart start;
            const std::string uuid = fields.Text("uuid");
            start.kind = fields.Text("kind");
            start.startMs = fields.Number("started");
            const int64_t ended = fields.Number("ended", true);
            start.userHost = fields.Text("user-host");
            start.version = fields.Text("version");
            start.profile = fields.Text("profile");
            start.digest = fields.Text("digest");
            start.options = fields.Object("options", false);
            const std::string endCounts = fields.Object("counts", true);
            const std::string key = fields.Text("key");
            int64_t id = 0, keyId = 0;
            bool hadEnd = false;
            if (fields.Problem().empty()) {
                ok = store.FindRollout(uuid, id, hadEnd) && store.KeyId(key, keyId);
                if (ok && keyId == 0) {
                    fields.Problem("its key " + ShownText(key) +
                                   " is neither in this record nor on an earlier line");
                } else if (ok && id == 0) {
                    ok = store.InsertRollout(uuid, start, keyId, ended, endCounts, id);
                    changed = true;
                } else if (ok && !hadEnd && ended != 0) {
                    ok = store.FinishRollout(id, ended, endCounts.empty() ? "{}" : endCounts);
                    changed = true;
                }
                rollouts[uuid] = id;
                counts.rollouts += changed ? 1 : 0;
            }
        } else if (type == "send") {
            const std::string rollout = fields.Text("rollout");
            const int64_t seq = fields.Number("seq");
            if (fields.Problem().empty() && (seq < 1 || seq > kMaxSeq)) {
                fields.Problem("\"seq\" is not a number from 1 to " + std::to_string(kMaxSeq));
            }
            const std::string target = fields.Text("target");
            const std::string setting = fields.Text("setting");
            const std::string value = fields.Text("value");
            const bool secret = fields.Flag("secret");
            SendResult result = SendResult::InFlight;
            if (!ParseSendResult(fields.Text("result"), result)) {
                fields.Problem("\"result\" is not in-flight, sent, failed, not-sent or interrupted");
            }
            const std::string error = fields.Text("error", true);
            const int64_t time = fields.Number("time");
            int64_t rolloutId = 0;
            bool ended = false;
            if (fields.Problem().empty()) {
                const auto known = rollouts.find(rollout);
                ok = known != rollouts.end() ? (rolloutId = known->second, true)
                                             : store.FindRollout(rollout, rolloutId, ended);
                if (ok && rolloutId == 0) {
                    fields.Problem("its roll-out " + ShownText(rollout) +
                                   " is neither in this record nor on an earlier line");
                }
            }
            int64_t printer = 0, settingId = 0;
            if (ok && fields.Problem().empty()) {
                rollouts[rollout] = rolloutId;
                ok = store.PrinterId(target, printer) && store.SettingId(setting, settingId) &&
                     store.MergeSend(rolloutId, seq, printer, settingId, value, secret, result, error, time,
                                     changed) &&
                     (!changed ||
                      store.NoteLatest(printer, settingId, rolloutId, value, secret, result, time));
                counts.sends += changed ? 1 : 0;
            }
        } else if (type == "status") {
            const std::string target = fields.Text("target");
            const int64_t time = fields.Number("time");
            const int64_t seq = fields.Number("seq");
            const std::string state = fields.Text("state");
            const std::string conditions = fields.Text("conditions");
            if (seq == 0) {
                fields.Problem("\"seq\" is not a number from 1");
            }
            int64_t printer = 0;
            if (fields.Problem().empty()) {
                ok = store.PrinterId(target, printer) &&
                     store.AddStatus(printer, state, conditions, time, seq, changed);
                counts.statuses += changed ? 1 : 0;
            }
        } else if (fields.Problem().empty()) {
            fields.Problem("\"type\" is not key, rollout, send or status");
        }
        if (!fields.Problem().empty()) {
            return refuse(fields.Problem());
        }
        if (!ok) {
            problem = "cannot write the record " + record.Label() + ": " + db.Problem();
            return false;
        }
        counts.known += changed ? 0 : 1;
        return true;
    };
    bool ok = true;
    while (ok && std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        Json parsed;
        std::string why;
        ok = !ParseJson(line, parsed, why) ? refuse(why)
             : !parsed.is_object()         ? refuse("not a JSON object")
                                           : merge(parsed);
    }
    if (ok && in.bad()) {
        problem = "cannot read " + origin;
        ok = false;
    }
    if (ok && !header) {
        ok = refuse("not a record export of tolctl (it is empty)");
    }
    if (!ok || dryRun) {
        db.Exec("ROLLBACK");
        return ok;
    }
    if (!db.Exec("COMMIT")) {
        problem = "cannot write the record " + record.Label() + ": " + db.Problem();
        db.Exec("ROLLBACK");
        return false;
    }
    return true;
}
