#pragma once
// Owners of SQLite's handles: a connection, a prepared statement and a transaction. Every
// failure throws SqliteError with SQLite's own words.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace logbook {

class SqliteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Database {
public:
    // Opens (creating when `create`) the database file at `path` (UTF-8).
    Database(const std::string& path, bool create);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Exec(const std::string& sql);
    int64_t IntQuery(const std::string& sql);  // the first column of the first row
    int Changes() const;
    int64_t LastInsertId() const;
    sqlite3* Handle() const { return db_; }
    std::string Error() const;

private:
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1; text is bound with its length, so a NUL character stays.
    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, std::string_view text);
    Statement& BindNull(int index);
    // True while a row is there; false when the statement has run to its end.
    bool Step();
    void Reset();

    // Columns count from 0.
    int64_t Int(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE; rolled back unless committed, so an exception leaves nothing half-added.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Database& db_;
    bool open_ = true;
};

}  // namespace logbook
