// Saved point records: decoding the 192 bytes and the CSV row printf makes of them.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "app/point_record.h"
#include "platform/codepage.h"

namespace {

using Bytes = std::array<uint8_t, kPointRecordLength>;

PointRecord Sample() {
    PointRecord r;
    r.gcid = 10231;
    r.golfCourseName = "Fuji";
    r.cid = 1;
    r.courseName = "East";
    r.holeNo = 1;
    r.year = 2015;
    r.month = 4;
    r.day = 1;
    r.hour = 9;
    r.minute = 5;
    r.second = 7;
    r.shotOrPutt = 's';
    r.additionalNo = '0';
    r.utcOffset = 540;
    r.latitudeRaw = 21000000;
    r.longitudeRaw = 83400000;
    return r;
}

template <typename T>
void Put(Bytes& b, size_t at, T value) {
    std::memcpy(b.data() + at, &value, sizeof(T));
}

TEST(PointRow, HomeOffsetHasNoSuffixAndLongitudeComesFirst) {
    EXPECT_EQ(FormatPointRowShiftJis(Sample()),
              "\"10231\",\"Fuji\",\"1\",\"East\",\"1\",\"2015/04/01\",\"09:05:07\",\"s\",\"0\","
              "139.000000,35.000000\r\n");
}

TEST(PointRow, OtherOffsetsFollowThePrintfForms) {
    const std::pair<int16_t, const char*> cases[] = {
        {600, "09:05:07 UTC+10:00"}, {60, "09:05:07 UTC+1:00"},   {330, "09:05:07 UTC+5:30"},
        {0, "09:05:07 UTC00:00"},    {-300, "09:05:07 UTC-5:00"}, {-570, "09:05:07 UTC-9:30"},
        {45, "09:05:07 UTC+0:45"},   {-30, "09:05:07 UTC00:30"},  {-720, "09:05:07 UTC-12:00"},
        {541, "09:05:07 UTC+9:01"},
    };
    for (const auto& [offset, column] : cases) {
        PointRecord r = Sample();
        r.utcOffset = offset;
        const std::string row = FormatPointRowShiftJis(r);
        EXPECT_NE(row.find(std::string(",\"") + column + "\",\"s\","), std::string::npos)
            << offset << ": " << row;
    }
}

TEST(PointRow, NegativeAndFractionalCoordinatesKeepSixDecimals) {
    PointRecord r = Sample();
    r.latitudeRaw = -21000000;
    r.longitudeRaw = 1;  // 1/600,000 degree rounds to 0.000002
    r.shotOrPutt = 'p';
    const std::string row = FormatPointRowShiftJis(r);
    EXPECT_TRUE(row.ends_with(",\"p\",\"0\",0.000002,-35.000000\r\n")) << row;
}

TEST(PointRow, AZeroAdditionalNoStaysAZeroByteThroughTheConversion) {
    PointRecord r = Sample();
    r.additionalNo = '\0';
    const std::string expected = std::string("\"s\",\"") + '\0' + "\",139.000000";
    const std::string sjis = FormatPointRowShiftJis(r);
    EXPECT_NE(sjis.find(expected), std::string::npos);
    const std::string utf8 = FormatPointRowUtf8(r);
    EXPECT_NE(utf8.find(expected), std::string::npos);
    EXPECT_EQ(utf8.size(), sjis.size());
    EXPECT_TRUE(utf8.ends_with("\r\n"));
}

TEST(PointRow, ShiftJisNamesArriveAsUtf8) {
    PointRecord r = Sample();
    r.golfCourseName = platform::Utf8ToShiftJis("富士見ヶ丘カントリー倶楽部");
    r.courseName = platform::Utf8ToShiftJis("東コース");
    const std::string row = FormatPointRowUtf8(r);
    EXPECT_NE(row.find("\"富士見ヶ丘カントリー倶楽部\",\"1\",\"東コース\""), std::string::npos);
}

TEST(PointRow, LongNamesAreNotCut) {
    PointRecord r = Sample();
    std::string golf;
    for (int i = 0; i < 50; ++i) golf += "漢";  // 100 Shift-JIS bytes
    std::string course;
    for (int i = 0; i < 25; ++i) course += "字";  // 50 Shift-JIS bytes
    r.golfCourseName = platform::Utf8ToShiftJis(golf);
    r.courseName = platform::Utf8ToShiftJis(course);
    ASSERT_EQ(r.golfCourseName.size(), 100u);
    const std::string sjis = FormatPointRowShiftJis(r);
    EXPECT_GT(sjis.size(), 200u);
    const std::string row = FormatPointRowUtf8(r);
    EXPECT_NE(row.find("\"" + golf + "\",\"1\",\"" + course + "\""), std::string::npos);
    EXPECT_TRUE(row.ends_with(",139.000000,35.000000\r\n"));
}

TEST(PointRecordBytes, FieldsAreReadLittleEndianAtTheirOffsets) {
    Bytes b{};
    Put<int32_t>(b, 0, -7);
    Put<uint16_t>(b, 4, 65535);
    b[6] = 18;
    b[7] = 0xAA;  // not read
    Put<int32_t>(b, 8, -123456789);
    Put<int32_t>(b, 12, 987654321);
    Put<uint16_t>(b, 16, 2024);
    b[18] = 12;
    b[19] = 31;
    b[20] = 23;
    b[21] = 59;
    b[22] = 58;
    std::memcpy(b.data() + 24, "Golf", 4);
    std::memcpy(b.data() + 124, "Course", 6);
    b[174] = 'p';
    b[175] = '3';
    Put<int16_t>(b, 176, -570);
    const PointRecord r = ParsePointRecord(b);
    EXPECT_EQ(r.gcid, -7);
    EXPECT_EQ(r.cid, 65535);
    EXPECT_EQ(r.holeNo, 18);
    EXPECT_EQ(r.latitudeRaw, -123456789);
    EXPECT_EQ(r.longitudeRaw, 987654321);
    EXPECT_EQ(r.year, 2024);
    EXPECT_EQ(r.month, 12);
    EXPECT_EQ(r.day, 31);
    EXPECT_EQ(r.hour, 23);
    EXPECT_EQ(r.minute, 59);
    EXPECT_EQ(r.second, 58);
    EXPECT_EQ(r.golfCourseName, "Golf");
    EXPECT_EQ(r.courseName, "Course");
    EXPECT_EQ(r.shotOrPutt, 'p');
    EXPECT_EQ(r.additionalNo, '3');
    EXPECT_EQ(r.utcOffset, -570);
    EXPECT_EQ(FormatPointRowShiftJis(r),
              "\"-7\",\"Golf\",\"65535\",\"Course\",\"18\",\"2024/12/31\",\"23:59:58 UTC-9:30\","
              "\"p\",\"3\",1646.090535,-205.761315\r\n");
}

TEST(PointRecordBytes, NamesThatFillTheirFieldEndAtTheFieldsEnd) {
    Bytes b{};
    std::memset(b.data() + 24, 'G', 100);
    std::memset(b.data() + 124, 'C', 50);
    b[174] = 's';  // right behind the course name
    const PointRecord r = ParsePointRecord(b);
    EXPECT_EQ(r.golfCourseName, std::string(100, 'G'));
    EXPECT_EQ(r.courseName, std::string(50, 'C'));
}

TEST(PointRecordBytes, ErasedFlashIsTwoFFBytes) {
    const uint8_t erased[] = {0xFF, 0xFF, 0x00};
    const uint8_t half[] = {0xFF, 0x00};
    const uint8_t other[] = {0x00, 0xFF};
    EXPECT_TRUE(IsErasedPointRecord(erased));
    EXPECT_FALSE(IsErasedPointRecord(half));
    EXPECT_FALSE(IsErasedPointRecord(other));
    EXPECT_FALSE(IsErasedPointRecord(std::span<const uint8_t>(erased, 1)));
}

TEST(PointCsv, HeaderIs136BytesWithTheByteOrderMark) {
    const std::string_view header = PointCsvHeader();
    EXPECT_EQ(header.size(), 136u);
    EXPECT_EQ(header.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(header.substr(3),
              "\"GCID\",\"Golf Course name\",\"CID\",\"Course name\",\"Hole No\",\"Date\","
              "\"time\",\"Shot (s) or Putt (p)\",\"Additional No\",\"Longitude\",\"Latitude\"\r\n");
}

}  // namespace
