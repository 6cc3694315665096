#include "app/point_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"

namespace {

constexpr std::size_t kGolfCourseNameOffset = 24;
constexpr std::size_t kGolfCourseNameSize = 100;
constexpr std::size_t kCourseNameOffset = 124;
constexpr std::size_t kCourseNameSize = 50;

constexpr std::string_view kCsvHeader =
    "\xEF\xBB\xBF"
    "\"GCID\",\"Golf Course name\",\"CID\",\"Course name\",\"Hole No\",\"Date\",\"time\","
    "\"Shot (s) or Putt (p)\",\"Additional No\",\"Longitude\",\"Latitude\"\r\n";
static_assert(kCsvHeader.size() == 136);

template <typename T>
T Le(std::span<const uint8_t, kPointRecordLength> b, std::size_t at) {
    T value;
    std::memcpy(&value, b.data() + at, sizeof(T));  // the device and this host are little-endian
    return value;
}

std::string Text(std::span<const uint8_t, kPointRecordLength> b, std::size_t at, std::size_t size) {
    const char* begin = reinterpret_cast<const char*>(b.data() + at);
    return std::string(begin, strnlen(begin, size));
}

// snprintf into a string sized to fit: a row has no fixed limit. Embedded 0x00 bytes that %c
// produced are kept, since the length comes from snprintf's count.
__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return out;
}

}  // namespace

bool IsErasedPointRecord(std::span<const uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFF;
}

PointRecord ParsePointRecord(std::span<const uint8_t, kPointRecordLength> b) {
    PointRecord r;
    r.gcid = Le<int32_t>(b, 0);
    r.cid = Le<uint16_t>(b, 4);
    r.holeNo = b[6];
    r.latitudeRaw = Le<int32_t>(b, 8);
    r.longitudeRaw = Le<int32_t>(b, 12);
    r.year = Le<uint16_t>(b, 16);
    r.month = b[18];
    r.day = b[19];
    r.hour = b[20];
    r.minute = b[21];
    r.second = b[22];
    r.golfCourseName = Text(b, kGolfCourseNameOffset, kGolfCourseNameSize);
    r.courseName = Text(b, kCourseNameOffset, kCourseNameSize);
    r.shotOrPutt = static_cast<char>(b[174]);
    r.additionalNo = static_cast<char>(b[175]);
    r.utcOffset = Le<int16_t>(b, 176);
    return r;
}

std::string_view PointCsvHeader() {
    return kCsvHeader;
}

std::string FormatPointRowShiftJis(const PointRecord& r) {
    const double longitude = r.longitudeRaw / kPointUnitsPerDegree;
    const double latitude = r.latitudeRaw / kPointUnitsPerDegree;
    const char* golf = r.golfCourseName.c_str();
    const char* course = r.courseName.c_str();
    // %c takes the byte as the device stores it (char promotes to int, printf writes it back).
    const int shot = static_cast<unsigned char>(r.shotOrPutt);
    const int additional = static_cast<unsigned char>(r.additionalNo);
    if (r.utcOffset == kHomeUtcOffset) {
        return Printf(
            "\"%d\",\"%s\",\"%d\",\"%s\",\"%d\",\"%04d/%02d/%02d\",\"%02d:%02d:%02d\",\"%c\","
            "\"%c\",%.6f,%.6f\r\n",
            r.gcid, golf, r.cid, course, r.holeNo, r.year, r.month, r.day, r.hour, r.minute,
            r.second, shot, additional, longitude, latitude);
    }
    // Hours truncate toward zero and the remainder takes the offset's sign.
    const int hours = r.utcOffset / 60;
    const int remainder = r.utcOffset % 60;
    if (r.utcOffset > 0) {
        return Printf(
            "\"%d\",\"%s\",\"%d\",\"%s\",\"%d\",\"%04d/%02d/%02d\",\"%02d:%02d:%02d "
            "UTC%+02d:%02d\","
            "\"%c\",\"%c\",%.6f,%.6f\r\n",
            r.gcid, golf, r.cid, course, r.holeNo, r.year, r.month, r.day, r.hour, r.minute,
            r.second, hours, remainder, shot, additional, longitude, latitude);
    }
    return Printf(
        "\"%d\",\"%s\",\"%d\",\"%s\",\"%d\",\"%04d/%02d/%02d\",\"%02d:%02d:%02d UTC%02d:%02d\","
        "\"%c\",\"%c\",%.6f,%.6f\r\n",
        r.gcid, golf, r.cid, course, r.holeNo, r.year, r.month, r.day, r.hour, r.minute, r.second,
        hours, -remainder, shot, additional, longitude, latitude);
}

std::string FormatPointRowUtf8(const PointRecord& record) {
    return platform::Utf16ToUtf8(platform::ShiftJisToUtf16(FormatPointRowShiftJis(record)));
}
