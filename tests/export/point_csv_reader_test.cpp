// Reading back the point CSV files: the rows the import writes, whatever bytes the names and
// the one-character columns hold, and the lines that are not point rows.
#include <gtest/gtest.h>

#include "app/point_export.h"
#include "export/gpx_writer.h"
#include "export/point_csv_reader.h"
#include "export_test_support.h"
#include "platform/codepage.h"

namespace {

using namespace export_test;
using mapexport::ReadPointCsv;

const std::string kHeader(PointCsvHeader());

// Records whose rows are awkward to take apart; each must come back as the import saw it.
std::vector<PointRecord> AwkwardRecords() {
    std::vector<PointRecord> records;
    auto add = [&records](auto change) {
        PointRecord r = Record(540, static_cast<uint8_t>(records.size() + 1));
        change(r);
        records.push_back(r);
    };
    add([](PointRecord& r) {
        r.golfCourseName = platform::Utf8ToShiftJis("富士見ヶ丘カントリー倶楽部");
        r.courseName = platform::Utf8ToShiftJis("東コース");
    });
    add([](PointRecord& r) { r.additionalNo = 0; });    // a NUL byte between the quotes
    add([](PointRecord& r) { r.additionalNo = '"'; });  // a quote as the character
    add([](PointRecord& r) { r.shotOrPutt = ','; });
    add([](PointRecord& r) { r.shotOrPutt = '\xB1'; });  // half-width kana: 3 UTF-8 bytes
    add([](PointRecord& r) { r.courseName = "West \",\"7\",\" 9"; });  // quotes in the name
    add([](PointRecord& r) { r.golfCourseName = "Pine, \"Old\""; });
    add([](PointRecord& r) { r.golfCourseName.clear(), r.courseName.clear(); });
    add([](PointRecord& r) { r.gcid = -5, r.cid = 65535, r.holeNo = 255; });
    add([](PointRecord& r) { r.latitudeRaw = -54000000, r.longitudeRaw = -108000000; });
    add([](PointRecord& r) { r.utcOffset = -32768, r.year = 65535, r.hour = 255; });
    add([](PointRecord& r) { r.utcOffset = 32767; });
    return records;
}

TEST(PointCsvReader, RowsReadBackAsTheRecordsTheImportWrote) {
    const auto records = AwkwardRecords();
    for (const PointRecord& r : records) {
        const std::string row = FormatPointRowUtf8(r);
        SCOPED_TRACE(row);
        const auto read = mapexport::ParsePointCsvRow(row.substr(0, row.size() - 2));
        ASSERT_TRUE(read);
        mapexport::ExportPoint expected = ToExportPoint(r);
        // The CSV holds six decimals.
        EXPECT_NEAR(read->latitude, expected.latitude, 5e-7);
        EXPECT_NEAR(read->longitude, expected.longitude, 5e-7);
        expected.latitude = read->latitude;
        expected.longitude = read->longitude;
        EXPECT_EQ(*read, expected);
    }
}

TEST(PointCsvReader, FilesAndTheirProblemLines) {
    const std::string row = FormatPointRowUtf8(Record(540));
    const std::string bare = row.substr(0, row.size() - 2);
    const std::string headerNoBom = kHeader.substr(3);
    struct Case {
        const char* name;
        std::string bytes;
        size_t points;
        size_t badLine;
    };
    const Case cases[] = {
        {"empty file (import that read nothing)", "", 0, 0},
        {"header only", kHeader, 0, 0},
        {"header and rows", kHeader + row + row, 2, 0},
        {"no byte-order mark, LF line ends",
         headerNoBom.substr(0, headerNoBom.size() - 2) + "\n" + bare + "\n" + bare, 2, 0},
        {"blank lines skipped", kHeader + "\r\n" + row + "\r\n", 1, 0},
        {"not our header", "a,b,c\r\n" + row, 0, 1},
        {"rows without a header", row, 0, 1},
        {"comma-decimal coordinates", kHeader + row + bare.substr(0, bare.rfind('.')) + ",5\r\n", 1,
         3},
        {"no time column suffix pattern",
         kHeader + "\"1\",\"A\",\"2\",\"B\",\"3\",\"2015/04/01\","
                   "\"09:05:07 UTC+9\",\"s\",\"0\",1.000000,2.000000\r\n",
         0, 2},
        {"unsigned nonzero hours",
         kHeader + "\"1\",\"A\",\"2\",\"B\",\"3\",\"2015/04/01\","
                   "\"09:05:07 UTC05:00\",\"s\",\"0\",1.0,2.0\r\n",
         0, 2},
        {"no course id",
         kHeader + "\"1\",\"A\",\"B\",\"3\",\"2015/04/01\",\"09:05:07\",\"s\","
                   "\"0\",1.0,2.0\r\n",
         0, 2},
        {"cut short", kHeader + row.substr(0, 40), 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ReadPointCsv(c.bytes);
        EXPECT_EQ(result.badLine, c.badLine) << result.problem;
        EXPECT_EQ(result.points.size(), c.points);  // rows before a bad line are kept
    }
}

}  // namespace
