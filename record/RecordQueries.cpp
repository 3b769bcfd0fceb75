#include "record/RecordQueries.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "record/RecordStore.h"
#include "values/Values.h"

namespace {

// A read transaction: the rows of several statements come from one state of the record.
class ReadTransaction {
  public:
    explicit ReadTransaction(SqliteDb& db) : m_db(db), m_ok(db.Exec("BEGIN")) {}
    ~ReadTransaction() {
        if (m_ok) {
            m_db.Exec("COMMIT");
        }
    }
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;
    bool Ok() const { return m_ok; }

  private:
    SqliteDb& m_db;
    bool m_ok;
};

bool Failed(Record& record, std::string& problem) {
    problem = "cannot read the record " + record.Label() + ": " + record.Db().Problem();
    return false;
}

// The names of the settings and the uuids of the roll-outs by their ids: few, read once, so that
// each of many rows needs no lookup of its own.
bool ReadNames(SqliteDb& db, const char* sql, std::unordered_map<int64_t, std::string>& names) {
    SqliteStatement query;
    return query.Prepare(db, sql) && query.EachRow([&] { names[query.Int(0)] = query.Text(1); });
}

const char* const kRolloutColumns =
    "SELECT uuid, kind, started, ended, user_host, version, profile, digest, options, counts FROM rollouts ";

RolloutRow ReadRollout(const SqliteStatement& statement) {
    RolloutRow row;
    row.uuid = statement.Text(0);
    row.kind = statement.Text(1);
    row.startMs = statement.Int(2);
    row.endMs = statement.IsNull(3) ? 0 : statement.Int(3);
    row.userHost = statement.Text(4);
    row.version = statement.Text(5);
    row.profile = statement.Text(6);
    row.digest = statement.Text(7);
    row.options = statement.Text(8);
    row.counts = statement.Text(9);
    return row;
}

}  // namespace

bool QueryPrinters(Record& record,
                   const std::vector<std::string>& printers,
                   const std::function<void(const PrinterSettingRow&)>& row,
                   std::string& problem) {
    SqliteDb& db = record.Db();
    const ReadTransaction transaction(db);
    std::unordered_map<int64_t, std::string> settings, rollouts;
    // The printers and their last values, each read in the order of its table (by the printer's
    // id), side by side: no lookup per printer.
    SqliteStatement printer, latest;
    const bool all = printers.empty();
    if (!transaction.Ok() || !ReadNames(db, "SELECT id, name FROM settings", settings) ||
        !ReadNames(db, "SELECT id, uuid FROM rollouts", rollouts) ||
        !printer.Prepare(db, std::string("SELECT id, name, state, conditions, status_time FROM printers ") +
                                 (all ? "ORDER BY id" : "WHERE name = ?")) ||
        !latest.Prepare(db, std::string("SELECT id, value, secret, time, rollout, failed FROM latest ") +
                                (all ? "ORDER BY id" : "WHERE id BETWEEN ?1 << 16 AND (?1 << 16) | 65535"))) {
        return Failed(record, problem);
    }
    std::vector<PrinterSettingRow> group;  // one printer's rows, told in the order of their settings' names
    bool ok = !all || latest.Step();
    const auto tell = [&] {
        const int64_t id = printer.Int(0);
        if (!all) {
            ok = latest.Reset().Bind(1, id).Step();
        }
        size_t used = 0;
        // (The key holds the printer and the setting: LatestId.)
        for (; ok && latest.Row() && latest.Int(0) >> 16 <= id; ok = latest.Step()) {
            if (latest.Int(0) >> 16 < id) {
                continue;  // (a value of a printer that is not there)
            }
            if (used == group.size()) {
                group.emplace_back();
            }
            PrinterSettingRow& found = group[used++];
            found.setting = settings[latest.Int(0) & kMaxSettingId];
            found.value = latest.Text(1);
            found.secret = latest.Int(2) != 0;
            found.sentMs = latest.Int(3);
            found.rollout = latest.IsNull(4) ? std::string() : rollouts[latest.Int(4)];
            found.failedMs = latest.Int(5);
        }
        if (used == 0) {
            group.resize(std::max<size_t>(group.size(), 1));
            group[0] = PrinterSettingRow();
            used = 1;
        }
        std::sort(
            group.begin(), group.begin() + static_cast<std::ptrdiff_t>(used),
            [](const PrinterSettingRow& a, const PrinterSettingRow& b) { return a.setting < b.setting; });
        const std::string name = printer.Text(1), state = printer.Text(2), conditions = printer.Text(3);
        for (size_t i = 0; i < used; ++i) {
            group[i].printer = name;
            group[i].state = state;
            group[i].conditions = conditions;
            group[i].statusMs = printer.Int(4);
            row(group[i]);
        }
    };
    if (all) {
        return (ok && printer.EachRow(tell) && ok) || Failed(record, problem);
    }
    for (const std::string& name : printers) {
        if (!printer.Reset().Bind(1, name).EachRow(tell) || !ok) {
            return Failed(record, problem);
        }
    }
    return true;
}

bool QueryHistory(Record& record,
                  const std::string& printer,
                  const std::function<void(const HistoryRow&)>& row,
                  std::string& problem) {
    SqliteDb& db = record.Db();
    const ReadTransaction transaction(db);
    SqliteStatement query;
    if (!transaction.Ok() ||
        !query.Prepare(
            db,
            "SELECT r.uuid, x.seq, s.name, x.value, x.secret, x.result, x.error, x.time FROM sends x "
            "JOIN rollouts r ON r.id = x.rollout JOIN settings s ON s.id = x.setting "
            "WHERE x.printer = (SELECT id FROM printers WHERE name = ?) "
            "ORDER BY x.time DESC, x.rollout DESC, x.seq DESC") ||
        !query.Bind(1, printer).Step()) {
        return Failed(record, problem);
    }
    HistoryRow found;
    found.printer = printer;
    while (query.Row()) {
        found.rollout = query.Text(0);
        found.seq = query.Int(1);
        found.setting = query.Text(2);
        found.value = query.Text(3);
        found.secret = query.Int(4) != 0;
        found.result = static_cast<SendResult>(query.Int(5));
        found.error = query.Text(6);
        found.timeMs = query.Int(7);
        row(found);
        if (!query.Step()) {
            return Failed(record, problem);
        }
    }
    return true;
}

bool QueryStatusHistory(Record& record,
                        const std::string& printer,
                        const std::function<void(const StatusRow&)>& row,
                        std::string& problem) {
    SqliteDb& db = record.Db();
    SqliteStatement query;
    if (!query.Prepare(db,
                       "SELECT state, conditions, time FROM statuses WHERE printer = "
                       "(SELECT id FROM printers WHERE name = ?) ORDER BY time DESC, seq DESC") ||
        !query.Bind(1, printer).Step()) {
        return Failed(record, problem);
    }
    StatusRow found;
    found.printer = printer;
    while (query.Row()) {
        found.state = query.Text(0);
        found.conditions = query.Text(1);
        found.timeMs = query.Int(2);
        row(found);
        if (!query.Step()) {
            return Failed(record, problem);
        }
    }
    return true;
}

bool QueryRollouts(Record& record, const std::function<void(const RolloutRow&)>& row, std::string& problem) {
    SqliteStatement query;
    if (!query.Prepare(record.Db(), std::string(kRolloutColumns) + "ORDER BY started, id") || !query.Step()) {
        return Failed(record, problem);
    }
    while (query.Row()) {
        row(ReadRollout(query));
        if (!query.Step()) {
            return Failed(record, problem);
        }
    }
    return true;
}

bool FindRollout(Record& record,
                 const std::string& id,
                 RolloutRow& found,
                 bool& refused,
                 std::string& problem) {
    refused = true;
    const std::string lower = LowerCase(id);
    if (lower.size() < 4 || lower.find_first_not_of("0123456789abcdef-") != std::string::npos) {
        problem = ShownText(id) + " is not a roll-out id (its first 4 characters at least)";
        return false;
    }
    SqliteStatement query;
    // The uuids are lower-case hex, so that those that begin with `id` are the range [id, id + 1).
    std::string next = lower;
    next.back() = static_cast<char>(next.back() + 1);
    if (!query.Prepare(record.Db(), std::string(kRolloutColumns) + "WHERE uuid >= ? AND uuid < ? LIMIT 2") ||
        !query.Bind(1, lower).Bind(2, next).Step()) {
        refused = false;
        return Failed(record, problem);
    }
    if (!query.Row()) {
        problem = "no roll-out " + ShownText(id) + " in the record";
        return false;
    }
    found = ReadRollout(query);
    if (!query.Step()) {
        refused = false;
        return Failed(record, problem);
    }
    if (query.Row()) {
        problem = "more than one roll-out begins with " + ShownText(id) + "; give more of its id";
        return false;
    }
    return true;
}

bool QueryRolloutPrinters(Record& record,
                          const std::string& uuid,
                          const std::function<void(const RolloutPrinterRow&)>& row,
                          std::string& problem) {
    SqliteDb& db = record.Db();
    const ReadTransaction transaction(db);
    SqliteStatement query;
    if (!transaction.Ok() ||
        !query.Prepare(
            db,
            "SELECT x.printer, p.name, x.result, x.error, x.time FROM sends x JOIN printers p ON "
            "p.id = x.printer JOIN rollouts r ON x.id BETWEEN r.id << 32 AND (r.id << 32) | 4294967295 "
            "WHERE r.uuid = ? ORDER BY x.id") ||
        !query.Bind(1, uuid).Step()) {
        return Failed(record, problem);
    }
    std::vector<RolloutPrinterRow> printers;
    std::map<int64_t, size_t> index;  // printer id -> its place in `printers`
    while (query.Row()) {
        const auto place = index.emplace(query.Int(0), printers.size());
        if (place.second) {
            printers.emplace_back();
            printers.back().printer = query.Text(1);
        }
        RolloutPrinterRow& printer = printers[place.first->second];
        switch (static_cast<SendResult>(query.Int(2))) {
            case SendResult::InFlight:
                ++printer.inFlight;
                break;
            case SendResult::Sent:
                ++printer.sent;
                break;
            case SendResult::Failed:
                ++printer.failed;
                printer.error = query.Text(3);
                break;
            case SendResult::NotSent:
                ++printer.notSent;
                if (printer.error.empty()) {
                    printer.error = query.Text(3);  // why, when no command of it failed
                }
                break;
            case SendResult::Interrupted:
                ++printer.interrupted;
                break;
        }
        printer.lastMs = std::max(printer.lastMs, query.Int(4));
        if (!query.Step()) {
            return Failed(record, problem);
        }
    }
    for (RolloutPrinterRow& printer : printers) {
        printer.result = printer.failed > 0        ? "failed"
                         : printer.inFlight > 0    ? "in-flight"
                         : printer.interrupted > 0 ? "interrupted"
                         // Nothing sent, nothing failed: the canary or the failure budget left it out.
                         : printer.notSent > 0 ? (printer.sent == 0 ? "not-sent" : "failed")
                                               : "ok";
        row(printer);
    }
    return true;
}
