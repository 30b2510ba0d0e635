#include "sim/sqlite_db.h"

#include <sqlite3.h>

#include <utility>

namespace sim {

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(&db) {
    if (!db.IsOpen() ||
        sqlite3_prepare_v2(db.Handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
        db.NoteError();
        stmt_ = nullptr;
        failed_ = true;
    }
}

SqliteStatement::~SqliteStatement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)), failed_(other.failed_) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        if (stmt_) sqlite3_finalize(stmt_);
        db_ = other.db_;
        stmt_ = std::exchange(other.stmt_, nullptr);
        failed_ = other.failed_;
    }
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::int64_t value) {
    if (stmt_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) failed_ = true;
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
    if (stmt_ && sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        failed_ = true;
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
    if (stmt_ && sqlite3_bind_null(stmt_, index) != SQLITE_OK) failed_ = true;
    return *this;
}

bool SqliteStatement::Step() {
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        failed_ = true;
        db_->NoteError();
    }
    return false;
}

bool SqliteStatement::Run() {
    if (!stmt_ || failed_) return false;
    int rc = sqlite3_step(stmt_);
    bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    if (!ok) db_->NoteError();
    Reset();
    return ok;
}

void SqliteStatement::Reset() {
    if (!stmt_) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    failed_ = false;
}

std::int64_t SqliteStatement::Int(int column) const { return stmt_ ? sqlite3_column_int64(stmt_, column) : 0; }

std::string SqliteStatement::Text(int column) const {
    if (!stmt_) return {};
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column));
}

bool SqliteStatement::IsNull(int column) const {
    return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

SqliteDb::~SqliteDb() { Close(); }

bool SqliteDb::Open(const std::string& path) {
    Close();
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        NoteError();
        Close();
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    return Execute("PRAGMA foreign_keys=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
}

void SqliteDb::Close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool SqliteDb::Execute(std::string_view sql) {
    if (!db_) return false;
    std::string text(sql);
    char* error = nullptr;
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        lastError_ = error ? error : "sqlite error";
        sqlite3_free(error);
        return false;
    }
    return true;
}

std::int64_t SqliteDb::LastInsertId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

int SqliteDb::Changes() const { return db_ ? sqlite3_changes(db_) : 0; }

void SqliteDb::NoteError() { lastError_ = db_ ? sqlite3_errmsg(db_) : "database not open"; }

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { active_ = db_.Execute("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
    if (active_) db_.Execute("ROLLBACK");
}

bool SqliteTransaction::Commit() {
    if (!active_) return false;
    active_ = false;
    return db_.Execute("COMMIT");
}

}  // namespace sim
