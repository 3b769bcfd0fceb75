#include "record/Sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

const int SqliteDb::kReadWriteCreate = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

SqliteDb::~SqliteDb() {
    if (m_db != nullptr) {
        sqlite3_close_v2(m_db);
    }
}

bool SqliteDb::Open(const std::string& path, int flags, int busyMs) {
    // SQLite keeps no count of its memory (each count takes a lock that every thread shares):
    // set once, before its first connection.
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)configured;
    // On Windows a file that another process holds open without sharing its writing (for the
    // moment it takes to make a new record) is opened read-only instead: such a connection is
    // opened again for up to a second (a file that is truly read-only fails after that).
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::min(busyMs, 1000));
    for (;;) {
        const int code = sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (code != SQLITE_OK) {
            m_code = code;
            m_problem = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
            return false;
        }
        if ((flags & SQLITE_OPEN_READWRITE) == 0 || sqlite3_db_readonly(m_db, "main") != 1) {
            break;
        }
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        if (std::chrono::steady_clock::now() > giveUp) {
            m_code = SQLITE_READONLY;
            m_problem = "it could be opened only for reading";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyMs);
    return true;
}

bool SqliteDb::Exec(const std::string& sql) {
    const int code = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
    return code == SQLITE_OK || Failed(code);
}

bool SqliteDb::Failed(int code) {
    m_code = code;
    m_problem = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
    return false;
}

bool SqliteDb::Refuse(const std::string& problem) {
    m_code = SQLITE_RANGE;
    m_problem = problem;
    return false;
}

int SqliteDb::Changes() const {
    return sqlite3_changes(m_db);
}

int64_t SqliteDb::LastRowId() const {
    return sqlite3_last_insert_rowid(m_db);
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

bool SqliteStatement::Prepare(SqliteDb& db, const std::string& sql) {
    m_db = &db;
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
    const int code = sqlite3_prepare_v3(db.Handle(), sql.c_str(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr);
    return code == SQLITE_OK || db.Failed(code);
}

SqliteStatement& SqliteStatement::Reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_row = false;
    m_failed = false;
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
    m_failed = sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK || m_failed;
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, const std::string& text) {
    m_failed = sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT) != SQLITE_OK ||
               m_failed;
    return *this;
}

SqliteStatement& SqliteStatement::BindKept(int index, const std::string& text) {
    m_failed = sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_STATIC) != SQLITE_OK ||
               m_failed;
    return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int index, const std::string& bytes) {
    m_failed = sqlite3_bind_blob(m_statement, index, bytes.data(), static_cast<int>(bytes.size()),
                                 SQLITE_TRANSIENT) != SQLITE_OK ||
               m_failed;
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
    m_failed = sqlite3_bind_null(m_statement, index) != SQLITE_OK || m_failed;
    return *this;
}

bool SqliteStatement::Step() {
    if (m_failed) {
        m_db->Failed(SQLITE_RANGE);
        return false;
    }
    const int code = sqlite3_step(m_statement);
    m_row = code == SQLITE_ROW;
    if (code == SQLITE_ROW || code == SQLITE_DONE) {
        return true;
    }
    m_db->Failed(code);
    sqlite3_reset(m_statement);
    return false;
}

bool SqliteStatement::IsNull(int index) const {
    return sqlite3_column_type(m_statement, index) == SQLITE_NULL;
}

int64_t SqliteStatement::Int(int index) const {
    return sqlite3_column_int64(m_statement, index);
}

std::string SqliteStatement::Text(int index) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, index));
    return text == nullptr ? std::string()
                           : std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_statement, index)));
}

std::string SqliteStatement::Blob(int index) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, index));
    return bytes == nullptr
               ? std::string()
               : std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(m_statement, index)));
}
