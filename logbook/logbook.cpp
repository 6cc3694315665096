#include "logbook/logbook.h"

#include <array>
#include <filesystem>

#include "export/rounds.h"
#include "export/utc_time.h"
#include "logbook/sqlite_handle.h"
#include "platform/program_folder.h"
#include "platform/user_folders.h"
#include "platform/utf8_paths.h"

namespace logbook {

namespace {

// Every column a CSV row shows, coordinates as the row's six-decimal texts: a point from the
// navigator and the same point read back from its CSV file are one row.
constexpr std::string_view kVersion1 = R"sql(
CREATE TABLE point (
    id INTEGER PRIMARY KEY,
    gcid INTEGER NOT NULL,
    golfCourseName TEXT NOT NULL,
    cid INTEGER NOT NULL,
    courseName TEXT NOT NULL,
    holeNo INTEGER NOT NULL,
    year INTEGER NOT NULL,
    month INTEGER NOT NULL,
    day INTEGER NOT NULL,
    hour INTEGER NOT NULL,
    minute INTEGER NOT NULL,
    second INTEGER NOT NULL,
    utcOffset INTEGER NOT NULL,
    shotOrPutt TEXT NOT NULL,
    additionalNo TEXT NOT NULL,
    longitude TEXT NOT NULL,
    latitude TEXT NOT NULL,
    UNIQUE (gcid, golfCourseName, cid, courseName, holeNo, year, month, day, hour, minute,
            second, utcOffset, shotOrPutt, additionalNo, longitude, latitude)
);
)sql";

// Rounds are runs in UTC order per golf course: the instant is kept (filled for older rows
// when migrating), with an index to read them in that order; each import is noted.
constexpr std::string_view kVersion2 = R"sql(
ALTER TABLE point ADD COLUMN utc INTEGER;
ALTER TABLE point ADD COLUMN importId INTEGER REFERENCES import(id);
CREATE TABLE import (
    id INTEGER PRIMARY KEY,
    source TEXT NOT NULL,
    added INTEGER NOT NULL DEFAULT 0,
    alreadyThere INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX point_course_time ON point (gcid, utc, id);
)sql";

constexpr std::array<std::string_view, kSchemaVersion> kMigrations = {kVersion1, kVersion2};

constexpr std::string_view kInsert = R"sql(
INSERT OR IGNORE INTO point (gcid, golfCourseName, cid, courseName, holeNo, year, month, day,
    hour, minute, second, utcOffset, shotOrPutt, additionalNo, longitude, latitude, utc, importId)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)
)sql";

constexpr std::string_view kColumns =
    "id, gcid, golfCourseName, cid, courseName, holeNo, year, month, day, hour, minute, "
    "second, utcOffset, shotOrPutt, additionalNo, longitude, latitude, utc";

double Degrees(const std::string& text) {
    try {
        return std::stod(text);
    } catch (const std::exception&) {
        return 0;
    }
}

StoredPoint ReadPoint(const Statement& st) {
    StoredPoint s;
    s.id = st.Int(0);
    mapexport::ExportPoint& p = s.point;
    p.gcid = static_cast<int32_t>(st.Int(1));
    p.golfCourseName = st.Text(2);
    p.cid = static_cast<int32_t>(st.Int(3));
    p.courseName = st.Text(4);
    p.holeNo = static_cast<int>(st.Int(5));
    p.local = {static_cast<int>(st.Int(6)),  static_cast<int>(st.Int(7)),
               static_cast<int>(st.Int(8)),  static_cast<int>(st.Int(9)),
               static_cast<int>(st.Int(10)), static_cast<int>(st.Int(11))};
    p.utcOffset = static_cast<int>(st.Int(12));
    p.shotOrPutt = st.Text(13);
    p.additionalNo = st.Text(14);
    p.longitude = Degrees(st.Text(15));
    p.latitude = Degrees(st.Text(16));
    if (!st.IsNull(17)) s.utc = st.Int(17);
    return s;
}

// Rows of version 1 had no instant.
void FillUtc(Database& db) {
    Statement read(
        db, std::string("SELECT ") + std::string(kColumns) + " FROM point WHERE utc IS NULL");
    Statement write(db, "UPDATE point SET utc = ?1 WHERE id = ?2");
    while (read.Step()) {
        const StoredPoint s = ReadPoint(read);
        const auto utc = mapexport::UtcSeconds(s.point.local, s.point.utcOffset);
        if (!utc) continue;
        write.Bind(1, *utc).Bind(2, s.id);
        write.Step();
        write.Reset();
    }
}

void Migrate(Database& db, const std::string& path) {
    const int64_t version = db.IntQuery("PRAGMA user_version");
    if (version > kSchemaVersion) {
        throw LogbookError(path + " was written by a newer version of caddora (logbook schema " +
                           std::to_string(version) + ", this version knows up to " +
                           std::to_string(kSchemaVersion) + "); it was left as it is");
    }
    if (version == kSchemaVersion) return;
    Transaction t(db);
    for (int64_t v = version; v < kSchemaVersion; ++v) {
        db.Exec(std::string(kMigrations[static_cast<std::size_t>(v)]));
        if (v + 1 == 2) FillUtc(db);
    }
    db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    t.Commit();
}

}  // namespace

std::span<const std::string_view> Migrations() {
    return kMigrations;
}

Logbook::Logbook(const std::string& path, bool createFolder) : path_(path) {
    try {
        if (createFolder) {
            const std::filesystem::path folder = platform::PathFromUtf8(path).parent_path();
            std::error_code ec;
            if (!folder.empty()) std::filesystem::create_directories(folder, ec);
        }
        db_ = std::make_unique<Database>(path, true);
        db_->Exec("PRAGMA journal_mode = WAL");
        db_->Exec("PRAGMA foreign_keys = ON");
        Migrate(*db_, path);
    } catch (const SqliteError& e) {
        throw LogbookError("cannot open the logbook " + path + ": " + e.what());
    }
}

Logbook::~Logbook() = default;

Logbook::Import::Import(Logbook& logbook, std::string_view source)
    : logbook_(logbook), source_(source) {
    try {
        transaction_ = std::make_unique<Transaction>(*logbook_.db_);
        Statement note(*logbook_.db_, "INSERT INTO import (source) VALUES (?1)");
        note.Bind(1, source_).Step();
        importId_ = logbook_.db_->LastInsertId();
        insert_ = std::make_unique<Statement>(*logbook_.db_, kInsert);
    } catch (const SqliteError& e) {
        throw LogbookError("cannot write the logbook " + logbook_.path_ + ": " + e.what());
    }
}

Logbook::Import::~Import() = default;

void Logbook::Import::Add(const mapexport::ExportPoint& p) {
    try {
        Statement& st = *insert_;
        st.Bind(1, p.gcid).Bind(2, p.golfCourseName).Bind(3, p.cid).Bind(4, p.courseName);
        st.Bind(5, p.holeNo).Bind(6, p.local.year).Bind(7, p.local.month).Bind(8, p.local.day);
        st.Bind(9, p.local.hour).Bind(10, p.local.minute).Bind(11, p.local.second);
        st.Bind(12, p.utcOffset).Bind(13, p.shotOrPutt).Bind(14, p.additionalNo);
        st.Bind(15, mapexport::DegreesText(p.longitude));
        st.Bind(16, mapexport::DegreesText(p.latitude));
        if (const auto utc = mapexport::UtcSeconds(p.local, p.utcOffset)) {
            st.Bind(17, *utc);
        } else {
            st.BindNull(17);
        }
        st.Bind(18, importId_);
        st.Step();
        ++(logbook_.db_->Changes() == 1 ? counts_.added : counts_.alreadyThere);
        st.Reset();
    } catch (const SqliteError& e) {
        throw LogbookError("cannot write the logbook " + logbook_.path_ + ": " + e.what());
    }
}

AddCounts Logbook::Import::Commit() {
    try {
        Statement note(*logbook_.db_,
                       "UPDATE import SET added = ?1, alreadyThere = ?2 WHERE id = ?3");
        note.Bind(1, counts_.added).Bind(2, counts_.alreadyThere).Bind(3, importId_).Step();
        insert_.reset();
        transaction_->Commit();
    } catch (const SqliteError& e) {
        throw LogbookError("cannot write the logbook " + logbook_.path_ + ": " + e.what());
    }
    return counts_;
}

AddCounts Logbook::Add(std::span<const mapexport::ExportPoint> points, std::string_view source) {
    Import import(*this, source);
    for (const mapexport::ExportPoint& p : points) import.Add(p);
    return import.Commit();
}

std::vector<StoredPoint> Logbook::TimedPoints() {
    std::vector<StoredPoint> points;
    try {
        Statement st(*db_, std::string("SELECT ") + std::string(kColumns) +
                               " FROM point WHERE utc IS NOT NULL ORDER BY gcid, utc, id");
        while (st.Step()) points.push_back(ReadPoint(st));
    } catch (const SqliteError& e) {
        throw LogbookError("cannot read the logbook " + path_ + ": " + e.what());
    }
    return points;
}

int64_t Logbook::PointCount() {
    return db_->IntQuery("SELECT count(*) FROM point");
}

std::string LogbookPath(const std::string& option, const char* environment) {
    if (!option.empty()) return option;
    if (environment && *environment) return environment;
    const std::string folder = platform::UserDataFolder();
    return folder.empty() ? std::string()
                          : folder + platform::kPathSeparator + "caddora" +
                                platform::kPathSeparator + "logbook.sqlite3";
}

}  // namespace logbook
