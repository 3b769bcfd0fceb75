// The fleet record: one SQLite database of what tolctl sent to every printer, when, and in which
// roll-out, and of what the printers said about themselves. Printers give no settings back, so
// this is the only account of a fleet's settings. docs/record.md tells what is kept.
//
// Writing: one Record per process. Its writes go through one queue that one thread with one
// connection drains, several at a time in one transaction, each committed within milliseconds of
// its arrival; the jobs of an apply (up to 1,024 at once) share it. A command is written
// `in-flight` before it is sent (CommandStarted returns once that is committed) and then given
// its result (CommandEnded), so that a process killed at any moment leaves a record whose `sent`
// rows are what the printers took, except the commands then in flight, which read `in-flight`.
// Other processes (another apply, the console, a monitor) write to the same file at once: each
// waits its turn for the lock (SQLite's busy timeout) instead of failing.
//
// A secret (a password) is never written: in its place a keyed fingerprint, HMAC-SHA-256 under a
// random key kept in the record, shown as 8 hex digits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "record/Sqlite.h"

/// The version of the record's tables that this tolctl writes. A record of an older version is
/// brought up to it when opened; one of a newer version is refused.
constexpr int kRecordVersion = 2;

/// How a record is opened.
enum class RecordMode {
    Write,     // made when missing (the file 0600, its folders 0700) and brought up to this version
    Read,      // must be there; an older version is brought up to this one
    ReadOnly,  // must be there and is not written at all (--dry-run): an older version is refused
    Trial,     // must be there; written only by transactions that are rolled back (an import's
               // --dry-run): an older version is refused
};

/// Why a record could not be opened.
struct RecordProblem {
    enum class Kind {
        None,
        Missing,  // Read or ReadOnly, and there is no record at the path
        Failed,   // it could not be read or written (exit code 1)
        Refused,  // not a record, or one of a newer tolctl; nothing was changed (exit code 2)
    };
    Kind kind = Kind::None;
    std::string text;  // "cannot open 'x.sqlite': ...", "'x.sqlite' was written by a newer tolctl ..."
};

/// What became of one command sent to a printer.
enum class SendResult : uint8_t {
    InFlight = 0,     // being sent (or the process ended while it was)
    Sent = 1,         // the printer took it
    Failed = 2,       // sending it failed (with an error)
    NotSent = 3,      // not sent: an earlier command of its printer failed
    Interrupted = 4,  // not sent: the roll-out was stopped before it
};

/// "in-flight", "sent", "failed", "not-sent", "interrupted".
const char* SendResultName(SendResult result);
/// The result named `name`; false for another word.
bool ParseSendResult(const std::string& name, SendResult& result);

/// A roll-out as it begins: one apply, one single command, one job of the console.
struct RolloutStart {
    std::string kind = "apply";  // "apply", "send", "console", ...
    std::string profile;         // the profile's name as given ("shop.json"); empty for none
    std::string digest;          // the profile's digest, secrets in it as fingerprints
    std::string options;         // the options, a JSON object's text ("{}" when empty)
    int64_t startMs = 0;         // UTC milliseconds; 0: now
    std::string userHost;        // "user@host"; empty: this process's
    std::string version;         // the tolctl that sends; empty: this one
};

/// A roll-out being written, as BeginRollout answers it.
struct RecordRollout {
    int64_t id = 0;    // in this record; 0 when it could not be written
    std::string uuid;  // the same in every record it is imported into
};

/// A command being written, as CommandStarted answers it: its rows, one a setting, are seq to
/// seq + rows - 1 of its roll-out.
struct RecordSend {
    int64_t rollout = 0;
    int64_t seq = 0;      // its place in the roll-out, from 1; 0 when it could not be written
    int64_t rows = 1;     // its settings
    uint64_t ticket = 0;  // its place among the process's in-flight writes (AwaitCommand)
};

/// A setting's value as the record is told it.
struct RecordValue {
    std::string text;     // the value as text; a secret's own text, which is not kept
    bool secret = false;  // a password: only its fingerprint is written
};

/// One of a command's settings: its name ("wifi-station.password") and value.
struct RecordSetting {
    std::string setting;
    RecordValue value;
};

/// One record file, open.
class Record {
  public:
    /// Opens the record at `path` (UTF-8). Null with `problem` saying why.
    static std::unique_ptr<Record> Open(const std::string& path, RecordMode mode, RecordProblem& problem);
    /// A new, empty record that lives in memory until it is closed (RecordMode::Write): for an
    /// import's --dry-run when there is no record yet, and for trials.
    static std::unique_ptr<Record> OpenInMemory(RecordProblem& problem);
    /// Writes what is still queued and closes the file.
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    const std::string& Path() const { return m_path; }
    /// The record as messages name it: its file ('x.sqlite'), or "in memory".
    const std::string& Label() const { return m_label; }

    // Writing (RecordMode::Write). Every call may come from any thread. A write that fails
    // (a full disk, a lock held longer than the busy timeout) is told by Problem() and by the
    // calls that wait for it; the record stays as it was before that transaction.

    /// Writes a roll-out's beginning and waits for it to be committed. Its id is 0 on failure.
    RecordRollout BeginRollout(const RolloutStart& start);
    /// Writes the command `setting` ("wifi-station.password", "lan.ip", "cut") with `value`,
    /// to be sent to `printer` (PrinterName of its port), as `in-flight`, and waits until that is
    /// committed: only then may it be sent. Its seq is 0 when it could not be written; the caller
    /// then decides whether to send it unrecorded. (StartCommand and then AwaitCommand.)
    RecordSend CommandStarted(const RecordRollout& rollout,
                              const std::string& printer,
                              const std::string& setting,
                              const RecordValue& value);
    /// CommandStarted in two steps, so that the port is opened while the row is written:
    /// StartCommand queues the in-flight row and returns at once; AwaitCommand waits until it is
    /// committed (false, and its seq 0, when it could not be), which must be before the first
    /// byte of the command leaves. A job that connects meanwhile seldom waits at all.
    RecordSend StartCommand(const RecordRollout& rollout,
                            const std::string& printer,
                            const std::string& setting,
                            const RecordValue& value);
    /// StartCommand of a command that sends several settings (the station's: its network, its
    /// password, its addresses, ...): a row each, written together and given one result.
    RecordSend StartCommand(const RecordRollout& rollout,
                            const std::string& printer,
                            std::vector<RecordSetting> settings);
    bool AwaitCommand(RecordSend& send);
    /// The command's result (Sent, Failed with `error`), each of its rows', queued: committed
    /// within milliseconds.
    void CommandEnded(const RecordSend& send, SendResult result, const std::string& error = "");
    /// A command that was never sent (NotSent, Interrupted), queued.
    void CommandNotSent(const RecordRollout& rollout,
                        const std::string& printer,
                        const std::string& setting,
                        const RecordValue& value,
                        SendResult result,
                        const std::string& error = "");
    /// The roll-out's end with its counts (a JSON object's text: {"printers": 256, "ok": 250,
    /// ...}), queued.
    void EndRollout(const RecordRollout& rollout, const std::string& counts);
    /// A status read of `printer`: written only when its state or conditions differ from the last
    /// ones recorded for it. Queued.
    void StatusRead(const std::string& printer, const std::string& state, const std::string& conditions);
    /// Waits until everything queued so far is committed; false when some of it could not be.
    bool Flush();
    /// The first write that failed ("cannot write the record 'x.sqlite': database or disk is
    /// full"); empty while none did.
    std::string Problem() const;

    /// The fingerprint of `secret` under this record's own key: 8 hex digits ("3fa9c2d1").
    std::string Fingerprint(const std::string& secret) const;
    /// The fingerprint of `secret` under the key of roll-out `rolloutUuid` (a roll-out imported
    /// from another machine's record has that record's key); empty when the roll-out is unknown.
    std::string FingerprintFor(const std::string& rolloutUuid, const std::string& secret);

    /// The connection that queries (RecordQueries.h) and imports use; not the writer's.
    SqliteDb& Db() { return m_db; }

  private:
    struct Op;
    class Writer;

    Record() = default;
    static std::unique_ptr<Record> OpenAt(const std::string& path,
                                          const std::string& label,
                                          RecordMode mode,
                                          int flags,
                                          RecordProblem& problem);
    /// The writer thread: writes what is queued, a batch a transaction, until the record closes.
    void WriteQueued();
    /// Queues `op` for the writer (a command's seq and ticket given back); false without a writer.
    bool Enqueue(Op op, int64_t* seq = nullptr, uint64_t* ticket = nullptr);

    std::string m_path;
    std::string m_label;
    SqliteDb m_db;
    std::string m_key;  // this record's own fingerprint key

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // the writer: something was queued
    std::condition_variable m_done;  // Flush: a batch was committed
    int m_flushing = 0;              // callers of Flush waiting
    std::vector<Op> m_queue;
    uint64_t m_queued = 0;     // tickets handed out
    uint64_t m_committed = 0;  // tickets up to this one are written (or failed)
    // In-flight rows: those up to m_startsWritten are committed, except the ranges of
    // m_failedStarts (m_startFailed tells that there are any). AwaitCommand reads the count
    // without the lock; a caller that must wait for batch N waits on m_batchDone[N % 2], which
    // the writer sets once batch N is written: a future wakes its waiters without a lock for
    // them to take again. Batch m_batches (holding the rows up to m_startsTaken) is the one
    // written last or being written.
    struct BatchDone {
        std::promise<void> set;
        std::shared_future<void> done = set.get_future().share();
    };
    uint64_t m_startsIssued = 0;
    uint64_t m_startsTaken = 0;
    uint64_t m_batches = 0;
    std::atomic<uint64_t> m_startsWritten{0};
    std::atomic<bool> m_startFailed{false};
    std::vector<std::pair<uint64_t, uint64_t>> m_failedStarts;
    BatchDone m_batchDone[2];
    std::unordered_map<int64_t, int64_t> m_nextSeq;  // roll-out id -> its last seq
    std::string m_problem;
    bool m_stopping = false;
    std::unique_ptr<Writer> m_writer;
    std::thread m_thread;
};
