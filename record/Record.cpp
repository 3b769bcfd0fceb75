#include "record/Record.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>

#include "TolVersion.h"
#include "json/JsonParse.h"
#include "record/RecordStore.h"
#include "system/ErrnoText.h"
#include "system/Files.h"
#include "system/UserPlaces.h"
#include "system/UtcTime.h"

namespace {

// How long a write waits for the lock that another process (another apply, the console, a
// monitor) holds before it fails. Their transactions take milliseconds; an import of a large
// record, seconds.
constexpr int kBusyMs = 60 * 1000;

// A writer woken for fewer writes than kGatherOps while many come waits kGatherUs for more
// before it writes them. More than that gather by themselves while the writer writes the last
// batch, and are not kept waiting: the jobs of an apply wait for their in-flight rows.
constexpr size_t kGatherOps = 128;
constexpr int kGatherUs = 3000;

// Puts the record in WAL mode. Two processes that open a new record at once may both try: SQLite
// answers one of them "busy" at once rather than wait (each holds a read lock the other needs
// gone), so the loser tries again until the other is done.
bool SwitchToWal(SqliteDb& db) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyMs);
    while (!db.Exec("PRAGMA journal_mode = WAL")) {
        if ((db.Code() & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

const char* const kResultNames[] = {"in-flight", "sent", "failed", "not-sent", "interrupted"};

// The folder of `path`, or "" when it names none.
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const size_t cut = path.find_last_of("\\/");
#else
    const size_t cut = path.rfind('/');
#endif
    return cut == std::string::npos || cut == 0 ? std::string() : path.substr(0, cut);
}

// `text` when it is a JSON object's, "{}" when empty, else {"text": TEXT}: the options and counts
// are objects wherever they go (the export, the console).
std::string JsonObjectText(const std::string& text) {
    nlohmann::ordered_json parsed;
    std::string problem;
    if (text.empty()) {
        return "{}";
    }
    if (ParseJson(text, parsed, problem) && parsed.is_object()) {
        return text;
    }
    return nlohmann::ordered_json{{"text", text}}.dump(-1, ' ', false,
                                                       nlohmann::ordered_json::error_handler_t::replace);
}

bool Exists(const std::string& path) {
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return errno != ENOENT;
    }
    std::fclose(file);
    return true;
}

// Makes the record's file anew, readable by the user alone, in a folder of the user's alone: SQLite
// would make it as the umask leaves a new file. Its journal files take the file's permissions.
bool MakeFile(const std::string& path, RecordProblem& problem) {
    const std::string folder = FolderOf(path);
    std::string why;
    if (!folder.empty() && !MakePrivateFolder(folder, why)) {
        problem = {RecordProblem::Kind::Failed, "cannot make the record " + FileLabel(path) + ": " + why};
        return false;
    }
    std::FILE* file = OpenNewFile(path, true);
    if (file == nullptr && errno != EEXIST) {
        problem = {RecordProblem::Kind::Failed,
                   "cannot make the record " + FileLabel(path) + ": " + ErrnoText(errno)};
        return false;
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return true;
}

}  // namespace

const char* SendResultName(SendResult result) {
    const auto index = static_cast<size_t>(result);
    return index < sizeof kResultNames / sizeof kResultNames[0] ? kResultNames[index] : "?";
}

bool ParseSendResult(const std::string& name, SendResult& result) {
    for (size_t i = 0; i < sizeof kResultNames / sizeof kResultNames[0]; ++i) {
        if (name == kResultNames[i]) {
            result = static_cast<SendResult>(i);
            return true;
        }
    }
    return false;
}

// One write waiting in the queue.
struct Record::Op {
    enum class Kind : uint8_t { Begin, Start, End, NotSent, Finish, Status };
    Kind kind = Kind::Start;
    SendResult result = SendResult::InFlight;
    bool secret = false;
    int64_t rollout = 0;
    int64_t seq = 0;
    int64_t rows = 1;  // End: its command's rows, from seq on
    int64_t timeMs = 0;
    std::string printer, setting, value;  // Status: the state in `setting`, the conditions in `value`
    std::vector<RecordSetting> settings;  // Start: a row each, from seq on (secrets as fingerprints)
    std::string text;                     // the error; Finish: the counts
    std::shared_ptr<RolloutStart> start;  // Begin
    // For a caller that waits for it: whether it was committed; Begin: the roll-out's id too.
    uint64_t ticket = 0;                           // Start: its place among the in-flight rows
    std::unique_ptr<std::promise<int64_t>> begun;  // Begin: the roll-out's id, 0 on failure
};

// The writer thread's connection and what it keeps between batches.
class Record::Writer {
  public:
    explicit Writer(int64_t keyId) : m_store(m_db), m_keyId(keyId) {}

    bool Open(const std::string& path, int flags) {
        // Fewer checkpoints (one a 32 MiB of log), each copying a page that many batches rewrote
        // once: a checkpoint waits for the disk, and the jobs wait for the writer. The log keeps
        // its room between them (no file cut and grown again) and goes when the record closes.
        return m_db.Open(path, flags, kBusyMs) && m_db.Exec("PRAGMA synchronous = NORMAL") &&
               m_db.Exec("PRAGMA wal_autocheckpoint = 8192") &&
               m_db.Exec("PRAGMA journal_size_limit = 40000000") &&
               m_begin.Prepare(m_db, "BEGIN IMMEDIATE") && m_commit.Prepare(m_db, "COMMIT");
    }

    /// Writes `batch` in one transaction; false with `problem` when it was rolled back. The
    /// commands' rows in flight, their results and the printers' last values are written last,
    /// a statement for many (each costs far more than a row): a result always follows its
    /// command's start in the queue, and nothing else in a batch bears on them.
    bool Write(std::vector<Op>& batch, std::string& problem) {
        m_inFlight.clear();
        m_results.clear();
        m_sent.clear();
        m_failed.clear();
        m_started.clear();
        m_ended.clear();
        bool ok = m_begin.Reset().Run();
        for (size_t i = 0; ok && i < batch.size(); ++i) {
            ok = WriteOne(batch[i]);
        }
        ok = ok && m_store.InsertInFlight(m_inFlight) && m_store.SetResults(m_results) &&
             m_store.NoteLatest(m_sent, SendResult::Sent) && m_store.NoteLatest(m_failed, SendResult::Failed);
        ok = ok && m_commit.Reset().Run();
        if (!ok) {
            problem = m_db.Problem();
            m_db.Exec("ROLLBACK");
            m_store.ForgetIds();
            for (const Key& key : m_started) {  // their rows were not written
                m_flying.erase(key);
            }
        }
        for (const Key& key : m_ended) {
            m_flying.erase(key);
        }
        return ok;
    }

  private:
    using Key = int64_t;  // a command's first row: SendId(roll-out, seq)
    /// A command whose rows are written in flight, until its result is.
    struct Flying {
        int64_t printer = 0;
        int64_t timeMs = 0;
        std::vector<RecordSetting> settings;
        std::vector<int64_t> ids;  // the settings' ids
    };

    bool WriteOne(Op& op) {
        int64_t printer = 0, setting = 0;
        switch (op.kind) {
            case Op::Kind::Begin: {
                int64_t id = 0;
                if (!m_store.InsertRollout(NewUuid(), *op.start, m_keyId, 0, "", id)) {
                    return false;
                }
                op.rollout = id;
                return true;
            }
            case Op::Kind::Start: {
                const Key key = SendId(op.rollout, op.seq);
                Flying& flying = m_flying[key];
                m_started.push_back(key);
                flying.timeMs = op.timeMs;
                flying.settings = std::move(op.settings);
                if (!m_store.PrinterId(op.printer, flying.printer)) {
                    return false;
                }
                for (size_t i = 0; i < flying.settings.size(); ++i) {
                    if (!m_store.SettingId(flying.settings[i].setting, setting)) {
                        return false;
                    }
                    flying.ids.push_back(setting);
                    m_inFlight.push_back({op.rollout, op.seq + static_cast<int64_t>(i), flying.printer,
                                          setting, op.timeMs, &flying.settings[i].value});
                }
                return true;
            }
            case Op::Kind::End: {
                // (A command whose in-flight rows could not be written has no row to change.)
                const Key key = SendId(op.rollout, op.seq);
                const auto found = m_flying.find(key);
                if (found == m_flying.end()) {
                    return true;
                }
                const Flying& flying = found->second;
                m_ended.push_back(key);
                m_results.push_back({op.rollout, op.seq, op.seq + op.rows - 1, op.result, &op.text});
                std::vector<LatestRow>* latest = op.result == SendResult::Sent     ? &m_sent
                                                 : op.result == SendResult::Failed ? &m_failed
                                                                                   : nullptr;
                for (size_t i = 0; latest != nullptr && i < flying.ids.size(); ++i) {
                    latest->push_back({flying.printer, flying.ids[i], op.rollout, flying.timeMs,
                                       &flying.settings[i].value});
                }
                return true;
            }
            case Op::Kind::NotSent:
                return m_store.PrinterId(op.printer, printer) && m_store.SettingId(op.setting, setting) &&
                       m_store.InsertSend(op.rollout, op.seq, printer, setting, op.value, op.secret,
                                          op.result, op.text, op.timeMs);
            case Op::Kind::Finish:
                return m_store.FinishRollout(op.rollout, op.timeMs, op.text);
            case Op::Kind::Status: {
                bool added = false;
                return m_store.PrinterId(op.printer, printer) &&
                       m_store.AddStatus(printer, op.setting, op.value, op.timeMs, 0, added);
            }
        }
        return false;
    }

    SqliteDb m_db;
    SqliteStatement m_begin, m_commit;  // prepared once: a batch's own cost is its rows'
    RecordStore m_store;
    int64_t m_keyId = 0;

    std::unordered_map<Key, Flying> m_flying;
    // The batch's rows in flight, results and last values, and the commands it began and ended.
    std::vector<InFlightRow> m_inFlight;
    std::vector<ResultRows> m_results;
    std::vector<LatestRow> m_sent, m_failed;
    std::vector<Key> m_started, m_ended;
};

std::unique_ptr<Record> Record::Open(const std::string& path, RecordMode mode, RecordProblem& problem) {
    problem = RecordProblem();
    std::error_code ignored;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), ignored)) {
        problem = {RecordProblem::Kind::Refused,
                   FileLabel(path) + " is a folder, not a record: name a file in it (like record.sqlite)"};
        return nullptr;
    }
    if (mode != RecordMode::Write && !Exists(path)) {
        problem = {RecordProblem::Kind::Missing, "there is no record " + FileLabel(path)};
        return nullptr;
    }
    if (mode == RecordMode::Write && !MakeFile(path, problem)) {
        return nullptr;
    }
    return OpenAt(path, FileLabel(path), mode,
                  mode == RecordMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, problem);
}

std::unique_ptr<Record> Record::OpenInMemory(RecordProblem& problem) {
    // Shared by this record's two connections (its writer's and its own), and by no other record.
    static std::atomic<unsigned> count{0};
    problem = RecordProblem();
    const std::string name = "file:tolctl-record-" + std::to_string(++count) + "?mode=memory&cache=shared";
    return OpenAt(name, "in memory", RecordMode::Write,
                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_MEMORY, problem);
}

std::unique_ptr<Record> Record::OpenAt(const std::string& path,
                                       const std::string& label,
                                       RecordMode mode,
                                       int flags,
                                       RecordProblem& problem) {
    std::unique_ptr<Record> record(new Record());
    record->m_path = path;
    record->m_label = label;
    SqliteDb& db = record->m_db;
    const auto failed = [&](const std::string& what) {
        problem = {RecordProblem::Kind::Failed, what + " " + label + ": " + db.Problem()};
        return nullptr;
    };
    if (!db.Open(path, flags, kBusyMs)) {
        return failed("cannot open the record");
    }
    int version = 0;
    if (!ReadRecordVersion(db, version)) {
        if ((db.Code() & 0xff) == SQLITE_NOTADB) {
            problem = {RecordProblem::Kind::Refused,
                       label + " is not a tolctl record (not an SQLite database)"};
            return nullptr;
        }
        return failed("cannot read the record");
    }
    if (version < 0) {
        problem = {RecordProblem::Kind::Refused,
                   label + " is not a tolctl record (an SQLite database of other tables)"};
        return nullptr;
    }
    if (version > kRecordVersion) {
        problem = {RecordProblem::Kind::Refused,
                   label + " was written by a newer tolctl (record version " + std::to_string(version) +
                       "; this tolctl " TOL_VERSION_TEXT " knows up to " + std::to_string(kRecordVersion) +
                       "): nothing was changed"};
        return nullptr;
    }
    if (mode == RecordMode::ReadOnly || mode == RecordMode::Trial) {
        if (version == 0) {
            problem = {RecordProblem::Kind::Missing, label + " holds no record yet"};
            return nullptr;
        }
        if (version < kRecordVersion) {
            problem = {RecordProblem::Kind::Refused,
                       label + " is of an older record version (" + std::to_string(version) +
                           "); run without --dry-run to bring it up to this tolctl's"};
            return nullptr;
        }
    } else {
        // Readers never wait for the writer, and the writer's commits go to the log file without
        // waiting for the disk: a killed process loses nothing committed (a power cut may lose
        // the last ones).
        if (!SwitchToWal(db) || !db.Exec("PRAGMA synchronous = NORMAL")) {
            return failed("cannot open the record");
        }
        if (version < kRecordVersion) {
            // Another process may be bringing it up at once: the version is read again under the lock.
            if (!db.Exec("BEGIN IMMEDIATE") || !ReadRecordVersion(db, version)) {
                db.Exec("ROLLBACK");
                return failed("cannot write the record");
            }
            for (int next = version + 1; next <= kRecordVersion && version >= 0; ++next) {
                if (!MigrateRecord(db, next)) {
                    db.Exec("ROLLBACK");
                    return failed("cannot write the record");
                }
            }
            if (!db.Exec("PRAGMA application_id = 1416586834") || !db.Exec("COMMIT")) {
                db.Exec("ROLLBACK");
                return failed("cannot write the record");
            }
        }
    }
    SqliteStatement key;
    if (!key.Prepare(db, "SELECT id, secret FROM fingerprint_keys WHERE own = 1") || !key.Step() ||
        !key.Row()) {
        return failed("cannot read the record");
    }
    const int64_t keyId = key.Int(0);
    record->m_key = key.Blob(1);
    if (mode == RecordMode::Write) {
        record->m_writer = std::make_unique<Writer>(keyId);
        if (!record->m_writer->Open(path, flags)) {
            problem = {RecordProblem::Kind::Failed, "cannot open the record " + label};
            return nullptr;
        }
        record->m_thread = std::thread([raw = record.get()] { raw->WriteQueued(); });
    }
    return record;
}

void Record::WriteQueued() {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::vector<Op> batch;
    size_t lastBatch = 0;
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty()) {
            return;
        }
        if (!m_stopping && m_queue.size() < kGatherOps && (m_queue.size() > 1 || lastBatch > 1)) {
            // While many write (an apply's jobs), a moment for more to come, so that one
            // transaction (and one wake of this thread) serves many: each costs far more than a
            // row. A lone writer (one printer, one command) is not kept waiting.
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::microseconds(kGatherUs));
            lock.lock();
        }
        // The two vectors trade places, each keeping its room.
        batch.clear();
        batch.swap(m_queue);
        lastBatch = batch.size();
        const uint64_t last = m_queued;
        const uint64_t startsFrom = m_startsWritten + 1, startsTo = m_startsIssued;
        const uint64_t number = ++m_batches;
        m_startsTaken = startsTo;
        m_batchDone[(number + 1) % 2] = BatchDone();  // for the next batch's (that of number - 1 is set)
        lock.unlock();
        std::string why;
        const bool ok = m_writer->Write(batch, why);
        for (Op& op : batch) {
            if (op.begun) {
                op.begun->set_value(ok ? op.rollout : 0);
            }
        }
        lock.lock();
        if (!ok && m_problem.empty()) {
            m_problem = "cannot write the record " + m_label + ": " + why;
        }
        if (!ok && startsTo >= startsFrom) {
            m_failedStarts.emplace_back(startsFrom, startsTo);
            m_startFailed = true;
        }
        m_startsWritten = startsTo;
        m_committed = last;
        // Woken after the lock is let go, so that those woken do not wait for it at once.
        BatchDone done = std::move(m_batchDone[number % 2]);
        const bool flushes = m_flushing > 0;
        lock.unlock();
        done.set.set_value();
        if (flushes) {
            m_done.notify_all();
        }
        lock.lock();
    }
}

Record::~Record() {
    if (m_thread.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
}

bool Record::Enqueue(Op op, int64_t* seq, uint64_t* ticket) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_writer) {
        return false;
    }
    if (op.kind == Op::Kind::Start || op.kind == Op::Kind::NotSent) {
        // A command's rows take consecutive seqs (a roll-out has room for some four billion).
        int64_t& last = m_nextSeq[op.rollout];
        const int64_t rows = op.kind == Op::Kind::Start ? static_cast<int64_t>(op.settings.size()) : 1;
        if (last + rows > kMaxSeq) {
            return false;
        }
        op.seq = last + 1;
        last += rows;
        if (seq != nullptr) {
            *seq = op.seq;
        }
    }
    if (op.kind == Op::Kind::Start) {
        op.ticket = ++m_startsIssued;
        if (ticket != nullptr) {
            *ticket = op.ticket;
        }
    }
    // The writer sleeps only when nothing is queued: only the first of a batch wakes it.
    const bool first = m_queue.empty();
    m_queue.push_back(std::move(op));
    ++m_queued;
    lock.unlock();
    if (first) {
        m_wake.notify_one();
    }
    return true;
}

RecordRollout Record::BeginRollout(const RolloutStart& start) {
    Op op;
    op.kind = Op::Kind::Begin;
    op.start = std::make_shared<RolloutStart>(start);
    RolloutStart& filled = *op.start;
    filled.startMs = filled.startMs != 0 ? filled.startMs : UtcNowMs();
    filled.userHost = filled.userHost.empty() ? UserAtHost() : filled.userHost;
    filled.version = filled.version.empty() ? TOL_VERSION_TEXT : filled.version;
    filled.options = JsonObjectText(filled.options);
    op.begun = std::make_unique<std::promise<int64_t>>();
    std::future<int64_t> begun = op.begun->get_future();
    RecordRollout rollout;
    if (!Enqueue(std::move(op))) {
        return rollout;
    }
    rollout.id = begun.get();
    if (rollout.id == 0) {
        return rollout;
    }
    SqliteStatement uuid;
    // The uuid was made by the writer; it is read back on this thread's own connection.
    if (uuid.Prepare(m_db, "SELECT uuid FROM rollouts WHERE id = ?") && uuid.Bind(1, rollout.id).Step() &&
        uuid.Row()) {
        rollout.uuid = uuid.Text(0);
    }
    return rollout;
}

RecordSend Record::CommandStarted(const RecordRollout& rollout,
                                  const std::string& printer,
                                  const std::string& setting,
                                  const RecordValue& value) {
    RecordSend send = StartCommand(rollout, printer, setting, value);
    AwaitCommand(send);
    return send;
}

RecordSend Record::StartCommand(const RecordRollout& rollout,
                                const std::string& printer,
                                const std::string& setting,
                                const RecordValue& value) {
    return StartCommand(rollout, printer, std::vector<RecordSetting>{{setting, value}});
}

RecordSend Record::StartCommand(const RecordRollout& rollout,
                                const std::string& printer,
                                std::vector<RecordSetting> settings) {
    RecordSend send;
    if (rollout.id == 0 || settings.empty()) {
        return send;
    }
    Op op;
    op.kind = Op::Kind::Start;
    op.rollout = rollout.id;
    op.printer = printer;
    send.rows = static_cast<int64_t>(settings.size());
    op.settings = std::move(settings);
    for (RecordSetting& one : op.settings) {
        if (one.value.secret) {
            one.value.text = Fingerprint(one.value.text);
        }
    }
    op.timeMs = UtcNowMs();
    if (!Enqueue(std::move(op), &send.seq, &send.ticket)) {
        return send;
    }
    send.rollout = rollout.id;
    return send;
}

bool Record::AwaitCommand(RecordSend& send) {
    if (send.seq == 0 || send.ticket == 0) {
        send.seq = 0;
        return false;
    }
    // Most often it is written before the caller's port is open: no lock, no sleep.
    if (m_startsWritten < send.ticket) {
        std::unique_lock<std::mutex> lock(m_mutex);
        // Its batch is the one being written, or else the next: the callers of one batch wait
        // apart from those of the next, so that each is woken once, when its own is written.
        if (m_startsWritten < send.ticket) {
            const std::shared_future<void> done =
                m_batchDone[(send.ticket <= m_startsTaken ? m_batches : m_batches + 1) % 2].done;
            lock.unlock();
            done.wait();
        }
    }
    if (m_startFailed) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& range : m_failedStarts) {
            if (send.ticket >= range.first && send.ticket <= range.second) {
                send.seq = 0;
                return false;
            }
        }
    }
    return true;
}

void Record::CommandEnded(const RecordSend& send, SendResult result, const std::string& error) {
    if (send.seq == 0) {
        return;
    }
    Op op;
    op.kind = Op::Kind::End;
    op.rollout = send.rollout;
    op.seq = send.seq;
    op.rows = send.rows;
    op.result = result;
    op.text = error;
    Enqueue(std::move(op));
}

void Record::CommandNotSent(const RecordRollout& rollout,
                            const std::string& printer,
                            const std::string& setting,
                            const RecordValue& value,
                            SendResult result,
                            const std::string& error) {
    if (rollout.id == 0) {
        return;
    }
    Op op;
    op.kind = Op::Kind::NotSent;
    op.rollout = rollout.id;
    op.printer = printer;
    op.setting = setting;
    op.secret = value.secret;
    op.value = value.secret ? Fingerprint(value.text) : value.text;
    op.result = result;
    op.text = error;
    op.timeMs = UtcNowMs();
    Enqueue(std::move(op));
}

void Record::EndRollout(const RecordRollout& rollout, const std::string& counts) {
    if (rollout.id == 0) {
        return;
    }
    Op op;
    op.kind = Op::Kind::Finish;
    op.rollout = rollout.id;
    op.text = JsonObjectText(counts);
    op.timeMs = UtcNowMs();
    Enqueue(std::move(op));
}

void Record::StatusRead(const std::string& printer, const std::string& state, const std::string& conditions) {
    Op op;
    op.kind = Op::Kind::Status;
    op.printer = printer;
    op.setting = state;
    op.value = conditions;
    op.timeMs = UtcNowMs();
    Enqueue(std::move(op));
}

bool Record::Flush() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const uint64_t ticket = m_queued;
    ++m_flushing;
    m_done.wait(lock, [&] { return m_committed >= ticket; });
    --m_flushing;
    return m_problem.empty();
}

std::string Record::Problem() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_problem;
}

std::string Record::Fingerprint(const std::string& secret) const {
    // An apply sends one password to every printer: each job works it out once.
    thread_local std::string key, last, fingerprint;
    if (secret != last || key != m_key || fingerprint.empty()) {
        fingerprint = FingerprintUnder(m_key, secret);
        key = m_key;
        last = secret;
    }
    return fingerprint;
}

std::string Record::FingerprintFor(const std::string& rolloutUuid, const std::string& secret) {
    SqliteStatement key;
    if (!key.Prepare(m_db,
                     "SELECT k.secret FROM rollouts r JOIN fingerprint_keys k ON k.id = r.fingerprint_key "
                     "WHERE r.uuid = ?") ||
        !key.Bind(1, rolloutUuid).Step() || !key.Row()) {
        return "";
    }
    return FingerprintUnder(key.Blob(0), secret);
}
