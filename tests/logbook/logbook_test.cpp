// The logbook: each point once, migrations, transactions that survive kill -9, refused CSV
// files, rounds and their geodesic distances.
#include <gtest/gtest.h>
#include <sqlite3.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/point_export.h"
#include "app/point_record.h"
#include "logbook/csv_import.h"
#include "logbook/logbook.h"
#include "logbook/round_list.h"
#include "platform/utf8_paths.h"
#include "support/scratch_dir.h"

namespace {

using mapexport::ExportPoint;
using testsupport::ScratchDir;

PointRecord Record(int hole, int hour, int minute, int16_t offset, char kind = 's') {
    PointRecord r;
    r.gcid = 10231;
    r.cid = 1;
    r.holeNo = static_cast<uint8_t>(hole);
    r.latitudeRaw = 21216723 + hole * 100 + minute;
    r.longitudeRaw = 83238090 + minute * 37;
    r.year = 2015, r.month = 4, r.day = 1;
    r.hour = static_cast<uint8_t>(hour), r.minute = static_cast<uint8_t>(minute), r.second = 7;
    r.golfCourseName = "\x95\x78\x8e\x6d";  // 富士 (Shift-JIS)
    r.courseName = "East";
    r.shotOrPutt = kind;
    r.additionalNo = '\0';
    r.utcOffset = offset;
    return r;
}

std::string Csv(const std::vector<PointRecord>& records) {
    std::string csv(PointCsvHeader());
    for (const PointRecord& r : records) csv += FormatPointRowUtf8(r);
    return csv;
}

TEST(Logbook, EachPointOnceAcrossImportsAndTheirCsvFilesInEveryTimeForm) {
    ScratchDir dir("logbook");
    logbook::Logbook book(dir / "sub/logbook.sqlite3", true);
    // Offsets of the three time-column forms: none (540), east, zero and west.
    const std::vector<PointRecord> records = {Record(1, 9, 5, 540), Record(1, 9, 20, 600, 'p'),
                                              Record(2, 9, 40, 0), Record(3, 10, 1, -300)};
    const auto points = ToExportPoints(records);
    const auto first = book.Add(points, "device");
    EXPECT_EQ(first.added, 4);
    EXPECT_EQ(first.alreadyThere, 0);
    const auto again = book.Add(points, "device");
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(again.alreadyThere, 4);

    // The CSV file of the same import plus one newer point: only that one is new.
    std::vector<PointRecord> more = records;
    more.push_back(Record(4, 11, 0, 540));
    const auto fromCsv = logbook::AddCsvFile(book, dir.Write("old.csv", Csv(more)));
    ASSERT_TRUE(fromCsv.ok()) << fromCsv.error;
    EXPECT_EQ(fromCsv.counts.added, 1);
    EXPECT_EQ(fromCsv.counts.alreadyThere, 4);
    EXPECT_EQ(book.PointCount(), 5);
}

struct RoundCase {
    const char* name;
    std::vector<std::tuple<int, int, int, int, int, int>> points;  // cid, hole, day, h, m, offset
    std::vector<std::pair<std::string, int>> rounds;               // date and holes, newest first
};

class Rounds : public ::testing::TestWithParam<RoundCase> {};

TEST_P(Rounds, AreRunsAtOneGolfCourseWithoutASixHourGap) {
    ScratchDir dir("rounds");
    logbook::Logbook book(dir / "l.sqlite3");
    std::vector<PointRecord> records;
    for (const auto& [cid, hole, day, hour, minute, offset] : GetParam().points) {
        PointRecord r = Record(hole, hour, minute, static_cast<int16_t>(offset));
        r.cid = static_cast<uint16_t>(cid);
        r.courseName = cid == 1 ? "East" : "West";
        r.day = static_cast<uint8_t>(day);
        records.push_back(r);
    }
    book.Add(ToExportPoints(records), "test");
    const auto rounds = logbook::GroupRounds(book.TimedPoints());
    ASSERT_EQ(rounds.size(), GetParam().rounds.size());
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        EXPECT_EQ(rounds[i].date, GetParam().rounds[i].first) << i;
        EXPECT_EQ(rounds[i].holes, GetParam().rounds[i].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rounds,
    ::testing::Values(
        // Two nines, both with a hole 1: one round of four holes over two courses.
        RoundCase{"TwoNines",
                  {{1, 1, 1, 8, 0, 540},
                   {1, 2, 1, 8, 30, 540},
                   {2, 1, 1, 11, 0, 540},
                   {2, 2, 1, 11, 20, 540}},
                  {{"2015-04-01", 4}}},
        // A twilight round across midnight: dated by its first point.
        RoundCase{"AcrossMidnight",
                  {{1, 1, 1, 23, 10, 540}, {1, 2, 1, 23, 50, 540}, {1, 3, 2, 0, 25, 540}},
                  {{"2015-04-01", 3}}},
        // West of UTC: 08:00 and 13:30 local are 5.5 hours apart, 14:30 more after 16:00 is
        // a new round; time order is UTC order.
        RoundCase{"WestOfUtc",
                  {{1, 1, 1, 8, 0, -420}, {1, 2, 1, 13, 30, -420}, {1, 1, 1, 20, 0, -420}},
                  {{"2015-04-01", 1}, {"2015-04-01", 2}}},
        // 02:00 at UTC and 09:30 at UTC+9 are 7.5 hours apart on the clock but 1.5 hours in
        // UTC, where 09:30 comes first.
        RoundCase{"MixedOffsets", {{1, 1, 1, 2, 0, 0}, {1, 2, 1, 9, 30, 540}}, {{"2015-04-01", 2}}},
        RoundCase{"SixHoursAndOneMinuteApart",
                  {{1, 1, 1, 6, 0, 540}, {1, 2, 1, 12, 1, 540}},
                  {{"2015-04-01", 1}, {"2015-04-01", 1}}}),
    [](const ::testing::TestParamInfo<RoundCase>& info) { return info.param.name; });

TEST(Logbook, DistancesMatchAnIndependentGeodesicTable) {
    std::ifstream in(CADDORA_TEST_SOURCE_DIR "/tests/logbook/geodesic_table.csv");
    std::string line;
    std::getline(in, line);
    int rows = 0;
    while (std::getline(in, line)) {
        double lat1, lon1, lat2, lon2, metres;
        ASSERT_EQ(
            std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf", &lat1, &lon1, &lat2, &lon2, &metres),
            5);
        EXPECT_NEAR(logbook::GeodesicMetres(lat1, lon1, lat2, lon2), metres, 0.1) << line;
        ++rows;
    }
    EXPECT_GE(rows, 10);
}

TEST(Logbook, ScorecardGivesEachPointTheDistanceToTheNextOfItsHole) {
    ScratchDir dir("card");
    logbook::Logbook book(dir / "l.sqlite3");
    book.Add(ToExportPoints(std::vector{Record(1, 9, 0, 540), Record(2, 9, 10, 540),
                                        Record(1, 9, 5, 540, 'p')}),
             "test");
    const auto rounds = logbook::GroupRounds(book.TimedPoints());
    ASSERT_EQ(rounds.size(), 1u);
    EXPECT_EQ(rounds[0].shots, 2);
    EXPECT_EQ(rounds[0].putts, 1);
    const auto card = logbook::Scorecard(rounds[0]);
    ASSERT_EQ(card.size(), 2u);
    ASSERT_EQ(card[0].points.size(), 2u);
    const ExportPoint& a = card[0].points[0].stored.point;
    const ExportPoint& b = card[0].points[1].stored.point;
    ASSERT_TRUE(card[0].points[0].toNextMetres);
    EXPECT_DOUBLE_EQ(*card[0].points[0].toNextMetres,
                     logbook::GeodesicMetres(a.latitude, a.longitude, b.latitude, b.longitude));
    EXPECT_GT(*card[0].points[0].toNextMetres, 1.0);
    EXPECT_FALSE(card[0].points[1].toNextMetres);
    EXPECT_FALSE(card[1].points[0].toNextMetres);
}

TEST(Logbook, OpeningAnOlderSchemaMigratesItAndANewerOneIsRefused) {
    ScratchDir dir("schema");
    const std::string path = dir / "old.sqlite3";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const std::string sql =
            std::string(logbook::Migrations()[0]) +
            "INSERT INTO point (gcid, golfCourseName, cid, courseName, holeNo, year, month, day,"
            " hour, minute, second, utcOffset, shotOrPutt, additionalNo, longitude, latitude)"
            " VALUES (1, 'G', 1, 'C', 1, 2015, 4, 1, 9, 5, 7, 540, 's', '0', '139.0', '35.0');"
            "PRAGMA user_version = 1;";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    {
        logbook::Logbook book(path);
        const auto points = book.TimedPoints();
        ASSERT_EQ(points.size(), 1u);
        EXPECT_EQ(points[0].utc, 1427846707);  // 2015-04-01T00:05:07Z
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    try {
        logbook::Logbook book(path);
        FAIL() << "a newer schema was opened";
    } catch (const logbook::LogbookError& e) {
        EXPECT_NE(std::string(e.what()).find("newer version"), std::string::npos) << e.what();
    }
}

// A Japanese name reaches the file system as it is (on Windows: UTF-8 to SQLite, which opens
// the file by its wide name).
TEST(Logbook, AJapaneseFileNameIsKeptAsItIs) {
    ScratchDir dir("japanese");
    const std::string path = dir / "ゴルフ日記.sqlite3";
    EXPECT_EQ(
        logbook::Logbook(path).Add(ToExportPoints(std::vector{Record(1, 8, 0, 540)}), "jp").added,
        1);
    EXPECT_TRUE(std::filesystem::is_regular_file(platform::PathFromUtf8(path)));
    EXPECT_EQ(logbook::Logbook(path).PointCount(), 1);
}

#ifndef _WIN32
// Killing and memory figures are POSIX here.
TEST(Logbook, KilledDuringAnAddLeavesNothingOfThatImport) {
    ScratchDir dir("kill");
    const std::string path = dir / "l.sqlite3";
    logbook::Logbook(path).Add(ToExportPoints(std::vector{Record(1, 8, 0, 540)}), "first");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        logbook::Logbook book(path);
        logbook::Logbook::Import import(book, "killed");
        for (int i = 0; i < 2000; ++i) import.Add(ToExportPoint(Record(2, 9, i % 60, 540 + i)));
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
    logbook::Logbook book(path);
    EXPECT_EQ(book.PointCount(), 1);
    EXPECT_EQ(book.Add(ToExportPoints(std::vector{Record(3, 9, 0, 540)}), "after").added, 1);
}

#endif

struct HostileCase {
    const char* name;
    std::string rows;
    std::size_t line;
};

class HostileCsv : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileCsv, IsRefusedWithItsLineAndAddsNothing) {
    ScratchDir dir("hostile");
    logbook::Logbook book(dir / "l.sqlite3");
    const std::string good = FormatPointRowUtf8(Record(1, 9, 5, 540));
    const std::string file =
        dir.Write("bad.csv", std::string(PointCsvHeader()) + good + GetParam().rows);
    const auto r = logbook::AddCsvFile(book, file);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find(file + ", line " + std::to_string(GetParam().line) + ":"),
              std::string::npos)
        << r.error;
    EXPECT_EQ(book.PointCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileCsv,
    ::testing::Values(
        HostileCase{"WrongColumns", "\"1\",\"2\",\"3\"\r\n", 3},
        HostileCase{"BadNumber",
                    "\"10231\",\"G\",\"1\",\"C\",\"1\",\"2015/04/01\",\"09:05:07\",\"s\",\"0\","
                    "139.0x,35.0\r\n",
                    3},
        HostileCase{"BadUtf8",
                    "\"10231\",\"\xff\xfe\",\"1\",\"C\",\"1\",\"2015/04/01\",\"09:05:07\",\"s\","
                    "\"0\",139.0,35.0\r\n",
                    3},
        HostileCase{"LineTooLong", std::string(100000, 'a') + "\r\n", 3}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

#ifndef _WIN32
long PeakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(Logbook, A200MegabyteCsvIsRefusedWithBoundedMemory) {
    ScratchDir dir("huge");
    const std::string path = dir / "huge.csv";
    {
        std::ofstream out(path, std::ios::binary);
        out << PointCsvHeader() << FormatPointRowUtf8(Record(1, 9, 5, 540));
        const std::string block(1 << 20, 'z');  // one line with no end
        for (int i = 0; i < 200; ++i) out << block;
    }
    logbook::Logbook book(dir / "l.sqlite3");
    const long before = PeakKib();
    const auto r = logbook::AddCsvFile(book, path);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("line 3: not a point row (too long)"), std::string::npos) << r.error;
    EXPECT_LT(PeakKib() - before, 32 * 1024);
    EXPECT_EQ(book.PointCount(), 0);
}
#endif

}  // namespace
