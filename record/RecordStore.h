// The record's tables and the statements that write them, for the writer thread and for import
// (each on its own connection). Not part of the library's interface.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "record/Record.h"
#include "record/Sqlite.h"

/// The tables of record version `version`, made from those of version - 1 (version 1: from an
/// empty file). Run inside a transaction; false with db.Problem() on failure.
bool MigrateRecord(SqliteDb& db, int version);

/// The record's version: 0 for a file without tables; -1 for a database that is not a record.
/// False with db.Problem() when it cannot be read.
bool ReadRecordVersion(SqliteDb& db, int& version);

/// `bytes` as lower-case hex digits, without blanks.
std::string HexText(const std::string& bytes);

/// A random roll-out or key id: 32 hex digits in the form of a UUID (version 4).
std::string NewUuid();

/// The first 8 hex digits of HMAC-SHA-256 of `secret` under `key`.
std::string FingerprintUnder(const std::string& key, const std::string& secret);

/// The keys of version 2: a send's row by its roll-out and seq (from 1 to kMaxSeq), a printer's last
/// value by the printer and setting (from 1 to kMaxSettingId).
constexpr int64_t kMaxSeq = 0xffffffff;
constexpr int64_t kMaxSettingId = 0xffff;
inline int64_t SendId(int64_t rollout, int64_t seq) {
    return rollout << 32 | seq;
}
inline int64_t LatestId(int64_t printer, int64_t setting) {
    return printer << 16 | setting;
}

/// One row of a command in flight, as a batch of them is written.
struct InFlightRow {
    int64_t rollout = 0, seq = 0, printer = 0, setting = 0, timeMs = 0;
    const RecordValue* value = nullptr;  // a secret as its fingerprint
};

/// A command's result: that of its rows `seq` to `lastSeq`.
struct ResultRows {
    int64_t rollout = 0, seq = 0, lastSeq = 0;
    SendResult result = SendResult::Sent;
    const std::string* error = nullptr;  // empty: none
};

/// A value a printer was sent (or failed to be sent) at `timeMs`, to note as its last.
struct LatestRow {
    int64_t printer = 0, setting = 0, rollout = 0, timeMs = 0;
    const RecordValue* value = nullptr;
};

/// Statements of one form that write up to 64 rows each: `head`, then `row` once a row, joined
/// by commas, then `tail`. Each row count used is prepared once.
class RowsStatement {
  public:
    RowsStatement(const char* head, const char* row, const char* tail)
        : m_head(head), m_row(row), m_tail(tail) {}
    /// Runs it for `rows` rows, in chunks; `bind(statement, row, first)` binds row `row`'s
    /// parameters from number `first` on and answers how many it bound.
    template <typename Bind>
    bool Run(SqliteDb& db, size_t rows, Bind bind);

  private:
    static constexpr size_t kSizes[] = {64, 16, 4, 1};
    const char* m_head;
    const char* m_row;
    const char* m_tail;
    SqliteStatement m_sized[4];  // [i]: kSizes[i] rows
};

class RecordStore {
  public:
    explicit RecordStore(SqliteDb& db);

    /// The ids of a printer's and a setting's names, made when new.
    bool PrinterId(const std::string& name, int64_t& id);
    bool SettingId(const std::string& name, int64_t& id);
    /// The id of the fingerprint key `uuid`, or 0 when the record has none of that id.
    bool KeyId(const std::string& uuid, int64_t& id);
    bool InsertKey(const std::string& uuid, const std::string& secret, bool own, int64_t& id);

    /// Adds a roll-out; `endMs` 0 and `counts` empty while it runs.
    bool InsertRollout(const std::string& uuid,
                       const RolloutStart& start,
                       int64_t keyId,
                       int64_t endMs,
                       const std::string& counts,
                       int64_t& id);
    bool FinishRollout(int64_t id, int64_t endMs, const std::string& counts);
    /// A roll-out's local id by its uuid (0: none), and whether it has ended.
    bool FindRollout(const std::string& uuid, int64_t& id, bool& ended);

    bool InsertSend(int64_t rollout,
                    int64_t seq,
                    int64_t printer,
                    int64_t setting,
                    const std::string& value,
                    bool secret,
                    SendResult result,
                    const std::string& error,
                    int64_t timeMs);
    /// Commands' rows in flight, in as few statements as it takes (one for up to 64 rows).
    bool InsertInFlight(const std::vector<InFlightRow>& rows);
    /// Import: adds the send, or gives one that is in flight here its final result; `changed`
    /// tells whether anything was written.
    bool MergeSend(int64_t rollout,
                   int64_t seq,
                   int64_t printer,
                   int64_t setting,
                   const std::string& value,
                   bool secret,
                   SendResult result,
                   const std::string& error,
                   int64_t timeMs,
                   bool& changed);
    /// Commands' results, each of its rows `seq` to `lastSeq`; their time stays the one they
    /// were sent at.
    bool SetResults(const std::vector<ResultRows>& results);
    /// Keeps each printer's last value of each setting: a Sent newer than the one kept replaces
    /// it; a Failed as new as it or newer is noted beside it. Other results change nothing.
    bool NoteLatest(int64_t printer,
                    int64_t setting,
                    int64_t rollout,
                    const std::string& value,
                    bool secret,
                    SendResult result,
                    int64_t timeMs);
    /// The same for many values sent (`result` Sent) or failed (Failed), in order.
    bool NoteLatest(const std::vector<LatestRow>& rows, SendResult result);

    /// Adds a status row and keeps it as the printer's last when it is the latest. `seq` 0: a new
    /// read, added only when its state or conditions differ from the printer's last; else the
    /// row `seq` of its millisecond from another record, added unless it is there. `added`
    /// tells whether it was.
    bool AddStatus(int64_t printer,
                   const std::string& state,
                   const std::string& conditions,
                   int64_t timeMs,
                   int64_t seq,
                   bool& added);

    /// Forgets the ids it knows (after a transaction was rolled back, they may be gone).
    void ForgetIds();

  private:
    bool Ready(SqliteStatement& statement, const char* sql);
    bool NameId(const char* table,
                std::unordered_map<std::string, int64_t>& known,
                const std::string& name,
                int64_t& id);

    SqliteDb& m_db;
    std::unordered_map<std::string, int64_t> m_printers, m_settings;
    SqliteStatement m_insertPrinter, m_selectPrinter, m_insertSetting, m_selectSetting;
    SqliteStatement m_selectKey, m_insertKey, m_insertRollout, m_finishRollout, m_findRollout;
    SqliteStatement m_insertSend, m_mergeSend, m_setResult;
    RowsStatement m_insertInFlight, m_latestSent, m_latestFailed;
    RowsStatement m_setSent;         // result 1: SendResult::Sent
    std::vector<int64_t> m_sentIds;  // SetResults: the rows it gives that result
    SqliteStatement m_lastStatus, m_insertStatus, m_setStatus;
};
