#include "sim/point_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "sim/spinor_flash.h"

using namespace sim;

namespace {

template <typename T>
T At(const PointRecordBytes& r, size_t offset) {
    T v;
    std::memcpy(&v, r.data() + offset, sizeof v);
    return v;
}

std::string Field(const PointRecordBytes& r, size_t offset, size_t size) {
    std::string s(reinterpret_cast<const char*>(r.data() + offset), size);
    return s.substr(0, s.find('\0'));
}

}  // namespace

TEST(PointRecordEncoding, FieldsSitAtTheirOffsetsLittleEndianWithShiftJisNames) {
    SavedPoint p;
    p.gcid = -123456;
    p.cid = 0xBEEF;
    p.holeNo = 17;
    p.latitudeRaw = 21000000;
    p.longitudeRaw = -83400000;
    p.year = 2015;
    p.month = 4;
    p.day = 1;
    p.hour = 9;
    p.minute = 5;
    p.second = 7;
    p.golfCourseName = "富士見ヶ丘カントリー倶楽部";
    p.courseName = "東コース";
    p.shotOrPutt = 'p';
    p.additionalNo = '\0';
    p.utcOffset = -570;
    PointRecordBytes r = EncodePointRecord(p);
    EXPECT_EQ(At<int32_t>(r, 0), -123456);
    EXPECT_EQ(At<uint16_t>(r, 4), 0xBEEF);
    EXPECT_EQ(r[6], 17);
    EXPECT_EQ(At<int32_t>(r, 8), 21000000);
    EXPECT_EQ(At<int32_t>(r, 12), -83400000);
    EXPECT_EQ((std::vector<uint8_t>(r.begin() + 16, r.begin() + 23)),
              (std::vector<uint8_t>{0xDF, 0x07, 4, 1, 9, 5, 7}));
    // "東コース" in Shift-JIS.
    EXPECT_EQ(Field(r, 124, 50), "\x93\x8C\x83\x52\x81\x5B\x83\x58");
    EXPECT_EQ(Field(r, 24, 100).size(), 26u);  // 13 double-byte characters
    EXPECT_EQ(r[174], 'p');
    EXPECT_EQ(r[175], 0);
    EXPECT_EQ(At<int16_t>(r, 176), -570);
    for (size_t i = 178; i < 192; ++i) EXPECT_EQ(r[i], 0) << i;
    EXPECT_EQ(r[7], 0);
    EXPECT_EQ(r[23], 0);
}

TEST(PointRecordEncoding, LongNamesAreCutAtACharacterBoundary) {
    SavedPoint p;
    p.courseName = std::string(49, 'a') + "東";  // 51 bytes: the kanji does not fit
    p.golfCourseName.clear();
    for (int i = 0; i < 60; ++i) p.golfCourseName += "東";
    PointRecordBytes r = EncodePointRecord(p);
    EXPECT_EQ(Field(r, 124, 50), std::string(49, 'a'));
    EXPECT_EQ(r[124 + 49], 0);
    EXPECT_EQ(Field(r, 24, 100).size(), 100u);  // exactly fills the field, no terminator
    EXPECT_EQ(static_cast<uint8_t>(r[24 + 98]), 0x93);
    EXPECT_EQ(r[124], 'a');  // the next field is untouched
}

TEST(PointText, ParsesEveryKeyAndEscape) {
    auto records = ParsePointsText(
        "# comment\n"
        "\n"
        "gcid=10231; golf=富士見ヶ丘カントリー倶楽部; cid=2; course=A\\;B; hole=3;"
        " date=2015/04/01; time=09:05:07; utc=600; lat=35.0; lon=139; kind=p; add=\\x00\r\n"
        "latraw=-5; lonraw=7; date=2020-12-31; add=\n");
    ASSERT_EQ(records.size(), 2u);
    SavedPoint p;
    p.gcid = 10231;
    p.golfCourseName = "富士見ヶ丘カントリー倶楽部";
    p.cid = 2;
    p.courseName = "A;B";
    p.holeNo = 3;
    p.month = 4;
    p.hour = 9;
    p.minute = 5;
    p.second = 7;
    p.utcOffset = 600;
    p.latitudeRaw = 21000000;
    p.longitudeRaw = 83400000;
    p.shotOrPutt = 'p';
    p.additionalNo = '\0';
    EXPECT_EQ(records[0], EncodePointRecord(p));
    SavedPoint q;  // defaults for everything not given
    q.latitudeRaw = -5;
    q.longitudeRaw = 7;
    q.year = 2020;
    q.month = 12;
    q.day = 31;
    q.additionalNo = '\0';
    EXPECT_EQ(records[1], EncodePointRecord(q));
}

TEST(PointText, RawRecordsAreTakenVerbatim) {
    std::string hex;
    for (int i = 0; i < 192; ++i) hex += "ab";
    auto records = ParsePointsText("raw=" + hex);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][0], 0xAB);
    EXPECT_EQ(records[0][191], 0xAB);
}

TEST(PointText, ErrorsNameTheirLine) {
    const char* bad[] = {"hole=1\ncolour=red",     "hole=1\nhole=300",  "hole=1\nkind=sp",
                         "hole=1\nraw=abcd",       "hole=1\nlat=north", "hole=1\ntime=9:05",
                         "hole=1\nraw=00; hole=2", "hole=1\ngolf=a\\q", "hole=1\nutc=40000"};
    for (const char* text : bad) {
        try {
            ParsePointsText(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const PointsFormatError& e) {
            EXPECT_EQ(e.Line(), 2u) << text;
        }
    }
    EXPECT_THROW(LoadPointsFile("/nonexistent/points.txt"), std::runtime_error);
}

TEST(PointSamples, SampleCoversTheInterestingCases) {
    auto sample = SamplePoints();
    ASSERT_GE(sample.size(), 4u);
    std::set<int> offsets;
    std::set<char> kinds;
    bool fujimi = false;
    for (const SavedPoint& p : sample) {
        offsets.insert(p.utcOffset);
        kinds.insert(p.shotOrPutt);
        fujimi |= p.golfCourseName == "富士見ヶ丘カントリー倶楽部" && p.courseName == "東コース";
        EXPECT_LE(std::abs(p.latitudeRaw), 90 * 600000);
        EXPECT_LE(std::abs(p.longitudeRaw), 180 * 600000);
        EXPECT_NE(p.latitudeRaw, 0);
    }
    EXPECT_TRUE(fujimi);
    EXPECT_EQ(offsets, (std::set<int>{-300, 330, 540, 600}));
    EXPECT_EQ(kinds, (std::set<char>{'p', 's'}));
}

TEST(PointSamples, SyntheticRecordsFillTheDefaultAreaAndAreRepeatable) {
    auto points = SyntheticPoints(4096, 9);
    auto again = SyntheticPoints(4096, 9);
    ASSERT_EQ(points.size(), 4096u);
    EXPECT_EQ(EncodePointRecord(points[123]), EncodePointRecord(again[123]));
    EXPECT_NE(EncodePointRecord(SyntheticPoints(1, 10)[0]), EncodePointRecord(points[0]));
    SpiNorFlash flash;
    flash.LoadRecords(EncodePointRecords(points));
    EXPECT_EQ(flash.Read(4095 * 192, 192)[0], EncodePointRecord(points[4095])[0]);
    EXPECT_EQ(flash.Read(kDefaultPointAreaLength, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    for (const SavedPoint& p : points) {
        // No record may look erased, or a reader would stop early.
        auto r = EncodePointRecord(p);
        ASSERT_FALSE(r[0] == 0xFF && r[1] == 0xFF);
    }
    SpiNorFlash small(1000);
    EXPECT_THROW(small.LoadRecords(EncodePointRecords(SyntheticPoints(6))), std::out_of_range);
}
