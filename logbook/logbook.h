#pragma once
// The golfer's logbook: every saved point once, whichever import or CSV file brought it. Two
// points are the same when every field their CSV row shows is equal (coordinates as their six
// decimals), so the same navigator imported twice, or a CSV file of an earlier import, adds
// nothing new.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_point.h"

namespace logbook {

class Database;
class Statement;
class Transaction;

class LogbookError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The schema's steps: step i (0-based) takes a database from version i to i + 1.
std::span<const std::string_view> Migrations();
inline constexpr int kSchemaVersion = 2;

struct AddCounts {
    int64_t added = 0;
    int64_t alreadyThere = 0;
};

// A point as kept, with its row id and UTC instant (none when the stored date or time is not a
// real one).
struct StoredPoint {
    int64_t id = 0;
    mapexport::ExportPoint point;
    std::optional<int64_t> utc;
};

class Logbook {
public:
    // Opens the logbook at `path`, creating it (and, when `createFolder`, its folder) when it is
    // not there, and brings its schema up to date. Throws LogbookError naming the file.
    explicit Logbook(const std::string& path, bool createFolder = false);
    ~Logbook();
    Logbook(const Logbook&) = delete;
    Logbook& operator=(const Logbook&) = delete;

    // One import: its points go in together or not at all.
    class Import {
    public:
        Import(Logbook& logbook, std::string_view source);
        ~Import();  // without Commit() nothing of this import stays
        Import(const Import&) = delete;
        Import& operator=(const Import&) = delete;
        void Add(const mapexport::ExportPoint& point);
        AddCounts Commit();

    private:
        Logbook& logbook_;
        std::unique_ptr<Transaction> transaction_;
        std::unique_ptr<Statement> insert_;
        std::string source_;
        int64_t importId_ = 0;
        AddCounts counts_;
    };

    // Adds `points` as one import.
    AddCounts Add(std::span<const mapexport::ExportPoint> points, std::string_view source);

    // Points with a UTC instant, by golf course, then time.
    std::vector<StoredPoint> TimedPoints();
    int64_t PointCount();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<Database> db_;
};

// Where the logbook is: `option` (--logbook) when given, else `environment`
// (CADDORA_LOGBOOK) when set, else caddora/logbook.sqlite3 in the user's data folder. Empty
// when none of them is known.
std::string LogbookPath(const std::string& option, const char* environment);

}  // namespace logbook
