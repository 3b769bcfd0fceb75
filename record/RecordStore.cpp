#include "record/RecordStore.h"

#include <algorithm>
#include <random>

#include "system/Sha256.h"

namespace {

// Version 1: the roll-outs, the commands sent (by roll-out and sequence, and by printer and
// time for a printer's history), each printer's last value of each setting, and the status rows
// (each printer's last one also beside its name). Printers and settings are numbered once, so
// that each command's row holds two small numbers instead of their names.
const char* const kVersion1 = R"(
CREATE TABLE schema_version(version INTEGER NOT NULL);
INSERT INTO schema_version VALUES(1);
CREATE TABLE fingerprint_keys(id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, secret BLOB NOT NULL,
                              own INTEGER NOT NULL);
CREATE TABLE printers(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, status_time INTEGER, state TEXT,
                      conditions TEXT);
CREATE TABLE settings(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE rollouts(id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, kind TEXT NOT NULL,
                      started INTEGER NOT NULL, ended INTEGER, user_host TEXT NOT NULL, version TEXT NOT NULL,
                      profile TEXT NOT NULL, digest TEXT NOT NULL, options TEXT NOT NULL, counts TEXT,
                      fingerprint_key INTEGER NOT NULL);
CREATE TABLE sends(rollout INTEGER NOT NULL, seq INTEGER NOT NULL, printer INTEGER NOT NULL,
                   setting INTEGER NOT NULL, value TEXT NOT NULL, secret INTEGER NOT NULL,
                   result INTEGER NOT NULL, error TEXT, time INTEGER NOT NULL,
                   PRIMARY KEY(rollout, seq)) WITHOUT ROWID;
CREATE INDEX sends_by_printer ON sends(printer, time);
CREATE TABLE latest(printer INTEGER NOT NULL, setting INTEGER NOT NULL, rollout INTEGER, time INTEGER,
                    value TEXT, secret INTEGER, failed INTEGER, PRIMARY KEY(printer, setting)) WITHOUT ROWID;
CREATE TABLE statuses(printer INTEGER NOT NULL, time INTEGER NOT NULL, seq INTEGER NOT NULL, state TEXT NOT NULL,
                      conditions TEXT NOT NULL, PRIMARY KEY(printer, time, seq)) WITHOUT ROWID;
)";

// Version 2: a command's rows and the printers' last values each keyed by one integer (the
// roll-out and seq, the printer and setting, packed: SendId, LatestId) instead of two columns;
// the columns stay readable as before (computed from the key, not stored). Each row an apply
// writes is found by one comparison of integers at each step down its table, and the writer's
// commits are about a third smaller.
const char* const kVersion2 = R"(
CREATE TABLE sends_v2(id INTEGER PRIMARY KEY, printer INTEGER NOT NULL, setting INTEGER NOT NULL,
                      value TEXT NOT NULL, secret INTEGER NOT NULL, result INTEGER NOT NULL, error TEXT,
                      time INTEGER NOT NULL, rollout INTEGER AS (id >> 32), seq INTEGER AS (id & 4294967295));
INSERT INTO sends_v2(id, printer, setting, value, secret, result, error, time)
    SELECT rollout << 32 | seq, printer, setting, value, secret, result, error, time FROM sends ORDER BY 1;
DROP TABLE sends;
ALTER TABLE sends_v2 RENAME TO sends;
CREATE INDEX sends_by_printer ON sends(printer, time);
CREATE TABLE latest_v2(id INTEGER PRIMARY KEY, rollout INTEGER, time INTEGER, value TEXT, secret INTEGER,
                       failed INTEGER, printer INTEGER AS (id >> 16), setting INTEGER AS (id & 65535));
INSERT INTO latest_v2(id, rollout, time, value, secret, failed)
    SELECT printer << 16 | setting, rollout, time, value, secret, failed FROM latest ORDER BY 1;
DROP TABLE latest;
ALTER TABLE latest_v2 RENAME TO latest;
UPDATE schema_version SET version = 2;
)";

// Each printer's last value of each setting (its row keyed by LatestId), from a send's values: a
// Sent newer than the one kept replaces it, and a failure noted after
// it stays noted only while it is the later one; a Failed at least as new as the value kept is
// noted beside it. Ties in time go to the later write.
const char* const kLatestSent =
    " ON CONFLICT(id) DO UPDATE SET rollout = excluded.rollout, time = excluded.time, "
    "value = excluded.value, secret = excluded.secret, "
    "failed = CASE WHEN latest.failed > excluded.time THEN latest.failed END "
    "WHERE latest.time IS NULL OR excluded.time >= latest.time";
const char* const kLatestFailed =
    " ON CONFLICT(id) DO UPDATE SET failed = excluded.failed "
    "WHERE (latest.time IS NULL OR excluded.failed >= latest.time) AND "
    "(latest.failed IS NULL OR excluded.failed >= latest.failed)";

std::string RandomBytes(size_t count) {
    std::random_device random;  // the system's source (getrandom, RtlGenRandom)
    std::string bytes;
    while (bytes.size() < count) {
        const unsigned int word = random();
        for (int i = 0; i < 4 && bytes.size() < count; ++i) {
            bytes += static_cast<char>((word >> (8 * i)) & 0xff);
        }
    }
    return bytes;
}

}  // namespace

std::string HexText(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string NewUuid() {
    std::string bytes = RandomBytes(16);
    bytes[6] = static_cast<char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<char>((bytes[8] & 0x3f) | 0x80);
    const std::string hex = HexText(bytes);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) +
           "-" + hex.substr(20);
}

std::string FingerprintUnder(const std::string& key, const std::string& secret) {
    const Sha256Digest digest = HmacSha256(key, secret);
    return HexText(std::string(digest.begin(), digest.begin() + 4));
}

bool MigrateRecord(SqliteDb& db, int version) {
    switch (version) {
        case 1: {
            if (!db.Exec(kVersion1)) {
                return false;
            }
            // The record's own key for the fingerprints of secrets, made once with the record.
            RecordStore store(db);
            int64_t id = 0;
            return store.InsertKey(NewUuid(), RandomBytes(32), true, id);
        }
        case 2: {
            // A row whose seq or setting lies beyond its key's room (only a hand-made import
            // could make one) would land among other rows: such a record is left as it is.
            SqliteStatement beyond;
            if (!beyond.Prepare(
                    db,
                    "SELECT (SELECT count(*) FROM sends WHERE seq NOT BETWEEN 1 AND 4294967295) + "
                    "(SELECT count(*) FROM settings WHERE id NOT BETWEEN 1 AND 65535)") ||
                !beyond.Step()) {
                return false;
            }
            const int64_t rows = beyond.Int(0);
            beyond.Reset();  // (a statement still reading a table keeps it from being dropped)
            if (rows != 0) {
                return db.Refuse("it holds a seq or a setting beyond what this tolctl keeps (" +
                                 std::to_string(kMaxSeq) + " rows a roll-out, " +
                                 std::to_string(kMaxSettingId) + " settings)");
            }
            return db.Exec(kVersion2);
        }
        // A later version adds its step here: the tables of version N made from those of N - 1,
        // keeping every row.
        default:
            return db.Failed(1);
    }
}

bool ReadRecordVersion(SqliteDb& db, int& version) {
    SqliteStatement tables;
    if (!tables.Prepare(db,
                        "SELECT count(*), count(CASE WHEN name = 'schema_version' THEN 1 END) FROM "
                        "sqlite_master WHERE type = 'table'") ||
        !tables.Step()) {
        return false;
    }
    if (tables.Int(0) == 0) {
        version = 0;
        return true;
    }
    if (tables.Int(1) == 0) {
        version = -1;
        return true;
    }
    SqliteStatement read;
    if (!read.Prepare(db, "SELECT max(version) FROM schema_version") || !read.Step()) {
        return false;
    }
    version = read.Row() && !read.IsNull(0) ? static_cast<int>(read.Int(0)) : -1;
    return true;
}

template <typename Bind>
bool RowsStatement::Run(SqliteDb& db, size_t rows, Bind bind) {
    for (size_t done = 0; done < rows;) {
        size_t size = 0;
        while (kSizes[size] > rows - done) {
            ++size;
        }
        SqliteStatement& statement = m_sized[size];
        if (!statement.Prepared()) {
            std::string sql = m_head;
            for (size_t i = 0; i < kSizes[size]; ++i) {
                sql += (i == 0 ? "" : ", ") + std::string(m_row);
            }
            if (!statement.Prepare(db, sql + m_tail)) {
                return false;
            }
        } else {
            statement.Reset();
        }
        int at = 1;
        for (size_t i = 0; i < kSizes[size]; ++i) {
            at += bind(statement, done + i, at);
        }
        if (!statement.Run()) {
            return false;
        }
        done += kSizes[size];
    }
    return true;
}

RecordStore::RecordStore(SqliteDb& db)
    : m_db(db),
      m_insertInFlight("INSERT INTO sends(id, printer, setting, value, secret, result, time) VALUES ",
                       "(?, ?, ?, ?, ?, 0, ?)",
                       ""),
      m_latestSent("INSERT INTO latest(id, rollout, time, value, secret) VALUES ",
                   "(?, ?, ?, ?, ?)",
                   kLatestSent),
      m_latestFailed("INSERT INTO latest(id, failed) VALUES ", "(?, ?)", kLatestFailed),
      m_setSent("UPDATE sends SET result = 1, error = NULL WHERE id IN (", "?", ")") {}

bool RecordStore::InsertInFlight(const std::vector<InFlightRow>& rows) {
    return m_insertInFlight.Run(m_db, rows.size(), [&](SqliteStatement& statement, size_t i, int at) {
        const InFlightRow& row = rows[i];
        statement.Bind(at, SendId(row.rollout, row.seq)).Bind(at + 1, row.printer).Bind(at + 2, row.setting);
        statement.BindKept(at + 3, row.value->text)
            .Bind(at + 4, row.value->secret ? 1 : 0)
            .Bind(at + 5, row.timeMs);
        return 6;
    });
}

bool RecordStore::SetResults(const std::vector<ResultRows>& results) {
    // The rows of the commands sent without an error (nearly all of them) are given their result
    // by one statement for up to 64 rows. A failure's rows, each with its error, by a statement a
    // command: one for many of those (UPDATE ... FROM VALUES) builds two temporary tables each
    // time, and costs more than these do. The time stays the send's: the result moves nothing in
    // the printer's history (nor in its index).
    m_sentIds.clear();
    for (const ResultRows& one : results) {
        const bool plain = one.result == SendResult::Sent && (one.error == nullptr || one.error->empty());
        for (int64_t seq = one.seq; plain && seq <= one.lastSeq; ++seq) {
            m_sentIds.push_back(SendId(one.rollout, seq));
        }
        if (plain) {
            continue;
        }
        if (!Ready(m_setResult, "UPDATE sends SET result = ?3, error = ?4 WHERE id BETWEEN ?1 AND ?2")) {
            return false;
        }
        m_setResult.Bind(1, SendId(one.rollout, one.seq)).Bind(2, SendId(one.rollout, one.lastSeq));
        m_setResult.Bind(3, static_cast<int64_t>(one.result));
        one.error == nullptr || one.error->empty() ? m_setResult.BindNull(4)
                                                   : m_setResult.BindKept(4, *one.error);
        if (!m_setResult.Run()) {
            return false;
        }
    }
    return m_setSent.Run(m_db, m_sentIds.size(), [&](SqliteStatement& statement, size_t i, int at) {
        statement.Bind(at, m_sentIds[i]);
        return 1;
    });
}

bool RecordStore::Ready(SqliteStatement& statement, const char* sql) {
    if (statement.Prepared()) {
        statement.Reset();
        return true;
    }
    return statement.Prepare(m_db, sql);
}

bool RecordStore::NameId(const char* table,
                         std::unordered_map<std::string, int64_t>& known,
                         const std::string& name,
                         int64_t& id) {
    const auto found = known.find(name);
    if (found != known.end()) {
        id = found->second;
        return true;
    }
    const bool printers = std::string(table) == "printers";
    SqliteStatement& insert = printers ? m_insertPrinter : m_insertSetting;
    SqliteStatement& select = printers ? m_selectPrinter : m_selectSetting;
    const std::string insertSql = std::string("INSERT OR IGNORE INTO ") + table + "(name) VALUES(?)";
    const std::string selectSql = std::string("SELECT id FROM ") + table + " WHERE name = ?";
    if (!Ready(insert, insertSql.c_str()) || !insert.Bind(1, name).Run()) {
        return false;
    }
    if (m_db.Changes() == 1) {  // a new name
        id = m_db.LastRowId();
        if (!printers && id > kMaxSettingId) {
            return m_db.Refuse("the record holds more settings' names than it can (" +
                               std::to_string(kMaxSettingId) + ")");
        }
        known.emplace(name, id);
        return true;
    }
    if (!Ready(select, selectSql.c_str()) || !select.Bind(1, name).Step()) {
        return false;
    }
    if (!select.Row()) {
        return m_db.Failed(1);
    }
    id = select.Int(0);
    select.Reset();
    known.emplace(name, id);
    return true;
}

bool RecordStore::PrinterId(const std::string& name, int64_t& id) {
    return NameId("printers", m_printers, name, id);
}

bool RecordStore::SettingId(const std::string& name, int64_t& id) {
    return NameId("settings", m_settings, name, id);
}

bool RecordStore::KeyId(const std::string& uuid, int64_t& id) {
    if (!Ready(m_selectKey, "SELECT id FROM fingerprint_keys WHERE uuid = ?") ||
        !m_selectKey.Bind(1, uuid).Step()) {
        return false;
    }
    id = m_selectKey.Row() ? m_selectKey.Int(0) : 0;
    m_selectKey.Reset();
    return true;
}

bool RecordStore::InsertKey(const std::string& uuid, const std::string& secret, bool own, int64_t& id) {
    if (!Ready(m_insertKey, "INSERT INTO fingerprint_keys(uuid, secret, own) VALUES(?, ?, ?)") ||
        !m_insertKey.Bind(1, uuid).BindBlob(2, secret).Bind(3, own ? 1 : 0).Run()) {
        return false;
    }
    id = m_db.LastRowId();
    return true;
}

bool RecordStore::InsertRollout(const std::string& uuid,
                                const RolloutStart& start,
                                int64_t keyId,
                                int64_t endMs,
                                const std::string& counts,
                                int64_t& id) {
    if (!Ready(
            m_insertRollout,
            "INSERT INTO rollouts(uuid, kind, started, ended, user_host, version, profile, digest, options, "
            "counts, fingerprint_key) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")) {
        return false;
    }
    m_insertRollout.Bind(1, uuid).Bind(2, start.kind).Bind(3, start.startMs);
    endMs != 0 ? m_insertRollout.Bind(4, endMs) : m_insertRollout.BindNull(4);
    m_insertRollout.Bind(5, start.userHost)
        .Bind(6, start.version)
        .Bind(7, start.profile)
        .Bind(8, start.digest);
    m_insertRollout.Bind(9, start.options);
    counts.empty() ? m_insertRollout.BindNull(10) : m_insertRollout.Bind(10, counts);
    if (!m_insertRollout.Bind(11, keyId).Run()) {
        return false;
    }
    id = m_db.LastRowId();
    return true;
}

bool RecordStore::FinishRollout(int64_t id, int64_t endMs, const std::string& counts) {
    return Ready(m_finishRollout, "UPDATE rollouts SET ended = ?, counts = ? WHERE id = ?") &&
           m_finishRollout.Bind(1, endMs).Bind(2, counts).Bind(3, id).Run();
}

bool RecordStore::FindRollout(const std::string& uuid, int64_t& id, bool& ended) {
    if (!Ready(m_findRollout, "SELECT id, ended IS NOT NULL FROM rollouts WHERE uuid = ?") ||
        !m_findRollout.Bind(1, uuid).Step()) {
        return false;
    }
    id = m_findRollout.Row() ? m_findRollout.Int(0) : 0;
    ended = m_findRollout.Row() && m_findRollout.Int(1) != 0;
    m_findRollout.Reset();
    return true;
}

bool RecordStore::InsertSend(int64_t rollout,
                             int64_t seq,
                             int64_t printer,
                             int64_t setting,
                             const std::string& value,
                             bool secret,
                             SendResult result,
                             const std::string& error,
                             int64_t timeMs) {
    if (!Ready(m_insertSend,
               "INSERT INTO sends(id, printer, setting, value, secret, result, error, time) "
               "VALUES(?, ?, ?, ?, ?, ?, ?, ?)")) {
        return false;
    }
    m_insertSend.Bind(1, SendId(rollout, seq)).Bind(2, printer).Bind(3, setting).Bind(4, value);
    m_insertSend.Bind(5, secret ? 1 : 0).Bind(6, static_cast<int64_t>(result));
    error.empty() ? m_insertSend.BindNull(7) : m_insertSend.Bind(7, error);
    return m_insertSend.Bind(8, timeMs).Run();
}

bool RecordStore::MergeSend(int64_t rollout,
                            int64_t seq,
                            int64_t printer,
                            int64_t setting,
                            const std::string& value,
                            bool secret,
                            SendResult result,
                            const std::string& error,
                            int64_t timeMs,
                            bool& changed) {
    // A row known here keeps what it says, unless it is still in flight and the other record
    // knows how the command ended.
    if (!Ready(m_mergeSend,
               "INSERT INTO sends(id, printer, setting, value, secret, result, error, time) "
               "VALUES(?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(id) DO UPDATE SET result = excluded.result, "
               "error = excluded.error WHERE sends.result = 0 AND excluded.result <> 0")) {
        return false;
    }
    m_mergeSend.Bind(1, SendId(rollout, seq)).Bind(2, printer).Bind(3, setting).Bind(4, value);
    m_mergeSend.Bind(5, secret ? 1 : 0).Bind(6, static_cast<int64_t>(result));
    error.empty() ? m_mergeSend.BindNull(7) : m_mergeSend.Bind(7, error);
    if (!m_mergeSend.Bind(8, timeMs).Run()) {
        return false;
    }
    changed = m_db.Changes() > 0;
    return true;
}

bool RecordStore::NoteLatest(int64_t printer,
                             int64_t setting,
                             int64_t rollout,
                             const std::string& value,
                             bool secret,
                             SendResult result,
                             int64_t timeMs) {
    const RecordValue sent{value, secret};
    return NoteLatest({LatestRow{printer, setting, rollout, timeMs, &sent}}, result);
}

bool RecordStore::NoteLatest(const std::vector<LatestRow>& rows, SendResult result) {
    if (result == SendResult::Sent) {
        return m_latestSent.Run(m_db, rows.size(), [&](SqliteStatement& statement, size_t i, int at) {
            const LatestRow& row = rows[i];
            statement.Bind(at, LatestId(row.printer, row.setting)).Bind(at + 1, row.rollout);
            statement.Bind(at + 2, row.timeMs)
                .BindKept(at + 3, row.value->text)
                .Bind(at + 4, row.value->secret ? 1 : 0);
            return 5;
        });
    }
    if (result == SendResult::Failed) {
        return m_latestFailed.Run(m_db, rows.size(), [&](SqliteStatement& statement, size_t i, int at) {
            statement.Bind(at, LatestId(rows[i].printer, rows[i].setting)).Bind(at + 1, rows[i].timeMs);
            return 2;
        });
    }
    return true;
}

bool RecordStore::AddStatus(int64_t printer,
                            const std::string& state,
                            const std::string& conditions,
                            int64_t timeMs,
                            int64_t seq,
                            bool& added) {
    added = false;
    if (seq == 0) {
        if (!Ready(m_lastStatus,
                   "SELECT status_time IS NOT NULL, state, conditions FROM printers WHERE id = ?") ||
            !m_lastStatus.Bind(1, printer).Step()) {
            return false;
        }
        const bool same = m_lastStatus.Row() && m_lastStatus.Int(0) != 0 && m_lastStatus.Text(1) == state &&
                          m_lastStatus.Text(2) == conditions;
        m_lastStatus.Reset();
        if (same) {
            return true;
        }
    }
    // A new row's seq tells it from the printer's other rows of the same millisecond.
    if (!Ready(m_insertStatus,
               "INSERT OR IGNORE INTO statuses(printer, time, seq, state, conditions) SELECT ?1, ?2, "
               "CASE WHEN ?3 > 0 THEN ?3 ELSE coalesce(max(seq), 0) + 1 END, ?4, ?5 FROM statuses "
               "WHERE printer = ?1 AND time = ?2") ||
        !m_insertStatus.Bind(1, printer)
             .Bind(2, timeMs)
             .Bind(3, seq)
             .Bind(4, state)
             .Bind(5, conditions)
             .Run()) {
        return false;
    }
    added = m_db.Changes() > 0;
    return !added || (Ready(m_setStatus,
                            "UPDATE printers SET status_time = ?1, state = ?2, conditions = ?3 "
                            "WHERE id = ?4 AND (status_time IS NULL OR status_time <= ?1)") &&
                      m_setStatus.Bind(1, timeMs).Bind(2, state).Bind(3, conditions).Bind(4, printer).Run());
}

void RecordStore::ForgetIds() {
    m_printers.clear();
    m_settings.clear();
}
