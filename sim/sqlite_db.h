#pragma once
// A thin RAII layer over the SQLite C API: a connection, prepared statements with
// positional binding, and a transaction guard. Errors are reported as results, not
// exceptions; the last error text is kept on the connection.

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace sim {

class SqliteDb;

class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(SqliteDb& db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool Valid() const { return stmt_ != nullptr; }

    // Parameters are 1-based, as in SQL.
    SqliteStatement& Bind(int index, std::int64_t value);
    SqliteStatement& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
    SqliteStatement& Bind(int index, std::string_view text);
    SqliteStatement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
    SqliteStatement& Bind(int index, const std::string& text) { return Bind(index, std::string_view(text)); }
    SqliteStatement& BindNull(int index);

    // True while a row is available; false at the end or on an error (see Failed).
    bool Step();
    // Runs a statement that returns no rows; true on success. Resets it afterwards.
    bool Run();
    void Reset();
    bool Failed() const { return failed_; }

    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    SqliteDb* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

class SqliteDb {
public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens (creating when missing) the database file; ":memory:" for a private one.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Runs one or more statements without results.
    bool Execute(std::string_view sql);
    SqliteStatement Prepare(std::string_view sql) { return SqliteStatement(*this, sql); }
    std::int64_t LastInsertId() const;
    int Changes() const;
    const std::string& LastError() const { return lastError_; }

    sqlite3* Handle() { return db_; }
    void NoteError();

private:
    sqlite3* db_ = nullptr;
    std::string lastError_;
};

// Rolls back unless Commit was called.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDb& db);
    ~SqliteTransaction();
    bool Commit();
    bool Active() const { return active_; }

private:
    SqliteDb& db_;
    bool active_ = false;
};

}  // namespace sim
