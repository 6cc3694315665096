#pragma once
// Saved point records as the navigator keeps them in its SPI-NOR flash: fixed 192-byte records,
// little-endian, names in Shift-JIS. Builds records from readable descriptions, parses the
// simulator's point text format and provides a built-in sample and synthetic fillers.
//
// Point text format, one point per line ('#' starts a comment line, blank lines are skipped):
//
//   gcid=10231; golf=富士見ヶ丘カントリー倶楽部; cid=1; course=東コース; hole=1;
//   date=2015-04-01; time=09:05:07; utc=540; lat=35.3612; lon=138.7301; kind=s; add=0
//
// (all on one line). Keys, all optional (defaults in SavedPoint):
//   gcid, cid, hole      integers
//   lat, lon             decimal degrees (stored as round(degrees * 600,000))
//   latraw, lonraw       the stored integers directly
//   date                 YYYY-MM-DD or YYYY/MM/DD;   time  HH:MM:SS
//   utc                  offset in minutes east of UTC (-300, 540, ...)
//   golf, course         names in UTF-8, stored as Shift-JIS (cut to 100 / 50 bytes at a
//                        character boundary)
//   kind, add            exactly one byte each ('s' / 'p' for kind); an empty value is 0x00
//   raw                  384 hex digits: the whole record verbatim (other keys not allowed)
// Values are trimmed of surrounding blanks. Escapes in values: "\;" for ';', "\\" for '\' and
// "\xHH" for any byte. Unknown keys and malformed values are errors naming the line.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr size_t kPointRecordSize = 192;
// The area the point import reads by default: 4,096 records.
inline constexpr uint32_t kDefaultPointAreaLength = 786432;
// Stored coordinates are in units of 1/600,000 degree.
inline constexpr double kRawUnitsPerDegree = 600000.0;

using PointRecordBytes = std::array<uint8_t, kPointRecordSize>;

// Field offsets inside a record.
namespace point_offsets {
inline constexpr size_t kGcid = 0;
inline constexpr size_t kCid = 4;
inline constexpr size_t kHoleNo = 6;
inline constexpr size_t kLatitudeRaw = 8;
inline constexpr size_t kLongitudeRaw = 12;
inline constexpr size_t kYear = 16;
inline constexpr size_t kMonth = 18;
inline constexpr size_t kDay = 19;
inline constexpr size_t kHour = 20;
inline constexpr size_t kMinute = 21;
inline constexpr size_t kSecond = 22;
inline constexpr size_t kGolfCourseName = 24;
inline constexpr size_t kGolfCourseNameSize = 100;
inline constexpr size_t kCourseName = 124;
inline constexpr size_t kCourseNameSize = 50;
inline constexpr size_t kShotOrPutt = 174;
inline constexpr size_t kAdditionalNo = 175;
inline constexpr size_t kUtcOffset = 176;
}  // namespace point_offsets

// One saved point in readable form. Names are UTF-8.
struct SavedPoint {
    int32_t gcid = 0;
    uint16_t cid = 0;
    uint8_t holeNo = 1;
    int32_t latitudeRaw = 0;
    int32_t longitudeRaw = 0;
    uint16_t year = 2015;
    uint8_t month = 1;
    uint8_t day = 1;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    std::string golfCourseName;
    std::string courseName;
    char shotOrPutt = 's';
    char additionalNo = '0';
    int16_t utcOffset = 540;
};

// Raised by the point text parser; what() names the line.
class PointsFormatError : public std::runtime_error {
public:
    PointsFormatError(size_t line, const std::string& message);
    size_t Line() const { return line_; }

private:
    size_t line_;
};

int32_t DegreesToRaw(double degrees);

// The 192 bytes of one record; padding and the unused tail are 0x00.
PointRecordBytes EncodePointRecord(const SavedPoint& point);
std::vector<PointRecordBytes> EncodePointRecords(std::span<const SavedPoint> points);

// Parses the point text format above. Throws PointsFormatError.
std::vector<PointRecordBytes> ParsePointsText(std::string_view text);
// Reads and parses a file; throws std::runtime_error when it cannot be read.
std::vector<PointRecordBytes> LoadPointsFile(const std::string& path);

// A handful of realistic points: Japanese courses at UTC+9 and a few abroad (UTC+10, -5,
// +5:30), shots and putts.
std::vector<SavedPoint> SamplePoints();
// `count` generated points for volume tests; the same seed gives the same points.
std::vector<SavedPoint> SyntheticPoints(size_t count, uint32_t seed = 1);

}  // namespace sim
