// A thin owner of SQLite's connections and statements for the record's own code: every call
// answers whether it worked, with SQLite's message kept for the one that failed.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

/// One connection to a database file.
class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    /// Opens `path` (UTF-8) with SQLite's open `flags`, waiting up to `busyMs` for a lock that
    /// another connection holds. False with Problem() set.
    bool Open(const std::string& path, int flags, int busyMs);
    /// The flags of Open for reading and writing a file made when missing.
    static const int kReadWriteCreate;
    sqlite3* Handle() const { return m_db; }

    /// Runs `sql` (statements without results, or whose results are not wanted).
    bool Exec(const std::string& sql);
    /// The last failure: SQLite's message, and its (extended) result code.
    const std::string& Problem() const { return m_problem; }
    int Code() const { return m_code; }
    /// Keeps SQLite's message for a failure of code `code`; answers false.
    bool Failed(int code);
    /// False, with `problem` for Problem(): a write this code does not make (SQLITE_RANGE).
    bool Refuse(const std::string& problem);
    /// Rows changed by the last INSERT, UPDATE or DELETE.
    int Changes() const;
    int64_t LastRowId() const;

  private:
    sqlite3* m_db = nullptr;
    std::string m_problem;
    int m_code = 0;
};

/// A prepared statement of one connection, reset and bound anew for each use.
class SqliteStatement {
  public:
    SqliteStatement() = default;
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    /// Prepares `sql` on `db`; false with db.Problem() set.
    bool Prepare(SqliteDb& db, const std::string& sql);
    bool Prepared() const { return m_statement != nullptr; }

    /// Resets the statement and clears its bindings, for the next use.
    SqliteStatement& Reset();
    /// Binds parameter `index` (from 1).
    SqliteStatement& Bind(int index, int64_t value);
    SqliteStatement& Bind(int index, const std::string& text);
    /// Binds `text` without a copy: it must stay as it is until the statement is reset.
    SqliteStatement& BindKept(int index, const std::string& text);
    SqliteStatement& BindBlob(int index, const std::string& bytes);
    SqliteStatement& BindNull(int index);

    /// Steps once: true with a row to read (Row() then true), true without one when done (Row()
    /// false), false on failure (db.Problem() set).
    bool Step();
    bool Row() const { return m_row; }
    /// Steps to the end, reading no row: for statements that change something.
    bool Run() { return Step() && (Reset(), true); }
    /// Steps through every row, calling `body` for each; false when a step failed.
    template <typename Body>
    bool EachRow(Body body) {
        if (!Step()) {
            return false;
        }
        while (m_row) {
            body();
            if (!Step()) {
                return false;
            }
        }
        return true;
    }

    /// Column `index` (from 0) of the current row.
    bool IsNull(int index) const;
    int64_t Int(int index) const;
    std::string Text(int index) const;
    std::string Blob(int index) const;

  private:
    SqliteDb* m_db = nullptr;
    sqlite3_stmt* m_statement = nullptr;
    bool m_row = false;
    bool m_failed = false;
};
