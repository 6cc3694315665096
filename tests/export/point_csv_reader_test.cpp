// Reading back the point CSV files: the rows the import writes, whatever bytes the names and
// the one-character columns hold, and the lines that are not point rows.
#include <gtest/gtest.h>

#include "app/point_export.h"
#include "export/gpx_writer.h"
#include "export/kml_writer.h"
#include "export/map_format.h"
#include "export/point_csv_reader.h"
#include "export_test_support.h"
#include "platform/codepage.h"
#include "support/map_readers.h"

namespace {

using namespace export_test;
using mapexport::ReadPointCsv;

const std::string kHeader(PointCsvHeader());

// Records whose rows are awkward to take apart (the navigator stores whatever bytes it was
// given); each must come back as the import saw it.
std::vector<PointRecord> HostileRecords() {
    auto sjis = [](const char* utf8) { return platform::Utf8ToShiftJis(utf8); };
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Pine \"Old\" Links", "East"},
        {"\"", "\""},
        {"\"Quoted\"", "West"},
        {"Ends in a quote\"", "\"Starts with one"},
        {"\"\"", "\"\"\"\""},
        {"A\",\"B", "West \",\"7\",\" 9"},  // what a field separator looks like
        {"Pine, Old", ",,,"},
        {"Two\rlines", "CR\r"},
        {"Two\nlines", "\nLF first"},
        {"Two\r\nlines", "CRLF at the end\r\n"},
        {"\"\r\n\"", "\",\r\n\","},
        {"  blanks around  ", " "},
        {sjis("富士見ヶ丘カントリー倶楽部"), sjis("東コース")},
        {sjis("ソ"), sjis("表")},  // second bytes 0x5C, the backslash
        {sjis("能\"予\""), sjis("ソ,表\r\n")},
        {"", ""},
        {"", "Course only"},
        {"\x81", "\x81\""},  // a lead byte alone: before the closing quote, before a quote
        {"\x81,", "\x81\r\n"},
        {"\xFF\xA0\xFD", "\x85\x40"},  // no character in Shift-JIS
        {"\xB1\xB2\xB3", "\xDF"},      // half-width kana
        {std::string(100, '"'), std::string(50, ',')},
        {"Tab\tand\x01control", "\x7F"},
        {"Back\\slash\\", "\\\""},
        {"1\",\"x\",\"2\",\"y\",\"3\",\"2015/04/01\",\"09:05:07\",\"s\",\"0\",1.0,2.0\r\n",
         "09:05:07 UTC+9:00"},
    };
    std::vector<PointRecord> records;
    for (const auto& [golf, course] : names) {
        PointRecord r = Record(540, static_cast<uint8_t>(records.size() + 1));
        r.golfCourseName = golf;
        r.courseName = course;
        records.push_back(r);
    }
    auto add = [&records](auto change) {
        PointRecord r = Record(540, static_cast<uint8_t>(records.size() + 1));
        change(r);
        records.push_back(r);
    };
    add([](PointRecord& r) { r.additionalNo = 0; });  // a NUL byte between the quotes
    add([](PointRecord& r) { r.additionalNo = '"'; });
    add([](PointRecord& r) { r.shotOrPutt = '"', r.additionalNo = '"'; });
    add([](PointRecord& r) { r.shotOrPutt = ','; });
    add([](PointRecord& r) { r.shotOrPutt = '\r', r.additionalNo = '\n'; });
    add([](PointRecord& r) { r.shotOrPutt = '\xB1'; });    // half-width kana: 3 UTF-8 bytes
    add([](PointRecord& r) { r.additionalNo = '\x81'; });  // a lead byte before a quote
    add([](PointRecord& r) { r.gcid = -5, r.cid = 65535, r.holeNo = 255; });
    add([](PointRecord& r) { r.holeNo = 0; });
    add([](PointRecord& r) { r.latitudeRaw = -54000000, r.longitudeRaw = -108000000; });
    add([](PointRecord& r) { r.longitudeRaw = 83400001; });  // 139.000002: the sixth decimal
    add([](PointRecord& r) { r.utcOffset = -32768, r.year = 65535, r.hour = 255; });
    add([](PointRecord& r) { r.utcOffset = 32767; });
    add([](PointRecord& r) { r.month = 12, r.day = 31, r.hour = 23, r.golfCourseName = "\"\n"; });
    add([](PointRecord& r) { r.utcOffset = -300, r.courseName = "\r\n\r\n"; });
    return records;
}

// The map as convert writes it: the file read through once to plan the map, then its rows
// read again one by one as the map is written.
std::string ConvertedMap(const std::string& csv, mapexport::MapFormat format) {
    mapexport::MemoryStreamBuf scan(csv), reread(csv);
    mapexport::CsvPointSource source(reread);
    const mapexport::CsvMapPlan plan = mapexport::PlanCsvMap(scan, format, source);
    EXPECT_TRUE(plan.ok()) << "line " << plan.badLine << ": " << plan.problem;
    std::string map;
    mapexport::XmlOut out(map);
    mapexport::WriteMap(format, source, plan.placed, out);
    return map;
}

std::string Hex(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        out += "0123456789abcdef"[c >> 4];
        out += "0123456789abcdef"[c & 15];
    }
    return out;
}

TEST(PointCsvReader, RowsReadBackAsTheRecordsTheImportWrote) {
    const auto records = HostileRecords();
    ASSERT_EQ(records.size(), 40u);
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

// The import's maps and the maps convert makes of its CSV file are the same files; and another
// CSV reader sees each row's eleven fields with the names the import read.
TEST(PointCsvReader, HostileNamesConvertToTheImportsMaps) {
    const auto records = HostileRecords();
    std::string csv = kHeader;
    for (const PointRecord& r : records) csv += FormatPointRowUtf8(r);
    const auto read = ReadPointCsv(csv);
    ASSERT_TRUE(read.ok()) << "line " << read.badLine << ": " << read.problem;
    ASSERT_EQ(read.points.size(), records.size());
    const auto direct = ToExportPoints(records);
    const std::string gpx = mapexport::WriteGpx(direct);
    EXPECT_EQ(mapexport::WriteGpx(read.points), gpx);
    EXPECT_EQ(ConvertedMap(csv, mapexport::MapFormat::Gpx), gpx);
    EXPECT_EQ(ConvertedMap(csv, mapexport::MapFormat::Kml), mapexport::WriteKml(direct));
    EXPECT_NE(gpx.find("lon=\"139.000002\""), std::string::npos);
    EXPECT_NE(gpx.find("<name>H0 s0</name>"), std::string::npos);

    ScratchDir dir;
    const auto rows = map_readers::PythonCsvRows(dir.Write("hostile.csv", csv));
    ASSERT_EQ(rows.size(), records.size() + 1);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(rows[i + 1], "11\t" + Hex(platform::ShiftJisToUtf8(records[i].golfCourseName)) +
                                   "\t" + Hex(platform::ShiftJisToUtf8(records[i].courseName)))
            << "record " << i;
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
        {"a quote never closed", kHeader + row + "\"1\",\"A\r\n\r\n", 1, 3},
        {"names with lone quotes, as written before they were doubled",
         kHeader +
             "\"1\",\"Pine, \"Old\"\",\"2\",\"West \",\"7\",\" 9\",\"3\",\"2015/04/01\","
             "\"09:05:07\",\"s\",\"0\",1.000000,2.000000\r\n" +
             row,
         2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ReadPointCsv(c.bytes);
        EXPECT_EQ(result.badLine, c.badLine) << result.problem;
        EXPECT_EQ(result.points.size(), c.points);  // rows before a bad line are kept
    }
}

}  // namespace
