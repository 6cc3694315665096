// Every offset example of the CSV's time column, through the CSV writer, the CSV reader and the
// GPX/KML writers, read back by independent readers with the expected UTC time.
#include <gtest/gtest.h>

#include <map>

#include "app/point_export.h"
#include "export/gpx_writer.h"
#include "export/kml_writer.h"
#include "export/point_csv_reader.h"
#include "export_test_support.h"
#include "support/map_readers.h"

namespace {

using namespace export_test;

struct OffsetCase {
    int16_t offset;
    const char* csvTime;  // the time column for 09:05:07 on 2015-04-01
    const char* utc;      // worked out by hand
};

const OffsetCase kOffsets[] = {
    {540, "09:05:07", "2015-04-01T00:05:07"},
    {600, "09:05:07 UTC+10:00", "2015-03-31T23:05:07"},
    {60, "09:05:07 UTC+1:00", "2015-04-01T08:05:07"},
    {330, "09:05:07 UTC+5:30", "2015-04-01T03:35:07"},
    {0, "09:05:07 UTC00:00", "2015-04-01T09:05:07"},
    {-300, "09:05:07 UTC-5:00", "2015-04-01T14:05:07"},
    {-570, "09:05:07 UTC-9:30", "2015-04-01T18:35:07"},
    // Offsets under an hour: east prints "+0", west prints unsigned zero hours.
    {30, "09:05:07 UTC+0:30", "2015-04-01T08:35:07"},
    {-30, "09:05:07 UTC00:30", "2015-04-01T09:35:07"},
};

// Holes 1.. name the cases apart: "H1 s0", "H2 s0", ...
std::vector<PointRecord> OffsetRecords() {
    std::vector<PointRecord> records;
    for (const OffsetCase& c : kOffsets) {
        records.push_back(Record(c.offset, static_cast<uint8_t>(records.size() + 1)));
    }
    return records;
}

std::string Csv(const std::vector<PointRecord>& records) {
    std::string csv(PointCsvHeader());
    for (const PointRecord& r : records) csv += FormatPointRowUtf8(r);
    return csv;
}

TEST(UtcOffsets, CsvTimeColumnReadsBackAsTheStoredOffset) {
    for (const OffsetCase& c : kOffsets) {
        SCOPED_TRACE(c.offset);
        const std::string row = FormatPointRowUtf8(Record(c.offset));
        ASSERT_NE(row.find(std::string("\"") + c.csvTime + "\""), std::string::npos) << row;
        const auto time = mapexport::ParseTimeColumn(c.csvTime);
        ASSERT_TRUE(time);
        EXPECT_EQ(time->utcOffset, c.offset);
        EXPECT_EQ(time->hour * 10000 + time->minute * 100 + time->second, 90507);
    }
}

// Both sources of points give the same files: the records of an import and its CSV file.
TEST(UtcOffsets, CsvFileAndRecordsExportTheSameFiles) {
    const auto records = OffsetRecords();
    const mapexport::CsvReadResult csv = mapexport::ReadPointCsv(Csv(records));
    ASSERT_TRUE(csv.ok()) << csv.badLine;
    const auto direct = ToExportPoints(records);
    EXPECT_EQ(mapexport::WriteGpx(csv.points), mapexport::WriteGpx(direct));
    EXPECT_EQ(mapexport::WriteKml(csv.points), mapexport::WriteKml(direct));
}

TEST(UtcOffsets, IndependentReadersSeeUtcTimesAndCoordinates) {
    const auto points = ToExportPoints(OffsetRecords());
    ScratchDir dir;
    const std::map<std::string, std::string> files = {
        {"gpx", dir.Write("points.gpx", mapexport::WriteGpx(points))},
        {"kml", dir.Write("points.kml", mapexport::WriteKml(points))},
    };
    for (const auto& [format, path] : files) {
        SCOPED_TRACE(format);
        std::string lint;
        EXPECT_TRUE(map_readers::XmllintAccepts(path, &lint)) << lint;
        map_readers::ToolRun babelRun, pythonRun;
        const auto readers = {
            std::make_pair("gpsbabel", map_readers::GpsbabelPoints(format, path, &babelRun)),
            std::make_pair("python", map_readers::PythonPoints(format, path, nullptr, &pythonRun)),
        };
        for (const auto& [reader, read] : readers) {
            SCOPED_TRACE(reader);
            ASSERT_EQ(read.size(), std::size(kOffsets)) << babelRun.out << pythonRun.out;
            std::map<std::string, map_readers::MapPoint> byName;
            for (const auto& p : read) byName[p.name] = p;
            for (size_t i = 0; i < std::size(kOffsets); ++i) {
                const std::string name = "H" + std::to_string(i + 1) + " s0";
                SCOPED_TRACE(name);
                ASSERT_TRUE(byName.count(name));
                EXPECT_EQ(byName[name].utc, kOffsets[i].utc);
                EXPECT_NEAR(byName[name].latitude, 35.0, 5e-7);
                EXPECT_NEAR(byName[name].longitude, 139.0, 5e-7);
            }
        }
    }
}

}  // namespace
