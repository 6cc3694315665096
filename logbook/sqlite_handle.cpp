#include "logbook/sqlite_handle.h"

#include <sqlite3.h>

namespace logbook {

namespace {
// Another program (a second import, a window) may hold the write lock for a moment.
constexpr int kBusyTimeoutMs = 5000;
}  // namespace

Database::Database(const std::string& path, bool create) {
    const int flags =
        SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    // Paths are UTF-8 inside the program on every system, which is what SQLite takes (on Windows
    // too, where it opens the file by its wide name).
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(why);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message ? message : Error();
        sqlite3_free(message);
        throw SqliteError(why);
    }
}

int64_t Database::IntQuery(const std::string& sql) {
    Statement st(*this, sql);
    return st.Step() ? st.Int(0) : 0;
}

int Database::Changes() const {
    return sqlite3_changes(db_);
}

int64_t Database::LastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

std::string Database::Error() const {
    return sqlite3_errmsg(db_);
}

Statement::Statement(Database& db, std::string_view sql) : db_(db) {
    if (sqlite3_prepare_v2(db.Handle(), sql.data(), static_cast<int>(sql.size()), &stmt_,
                           nullptr) != SQLITE_OK) {
        throw SqliteError(db.Error());
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) throw SqliteError(db_.Error());
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        throw SqliteError(db_.Error());
    }
    return *this;
}

Statement& Statement::BindNull(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) throw SqliteError(db_.Error());
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SqliteError(db_.Error());
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::Real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
    db_.Exec("COMMIT");
    open_ = false;
}

}  // namespace logbook
