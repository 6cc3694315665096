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

namespace {

// A quoted CSV field's text: a quote inside it doubled, so that a name holding quotes, commas
// or line breaks stays one field (RFC 4180).
std::string Quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

// The time column: the local time, and the offset for any but the home one. Hours truncate
// toward zero and the remainder takes the offset's sign.
std::string TimeText(const PointRecord& r) {
    if (r.utcOffset == kHomeUtcOffset) {
        return Printf("%02d:%02d:%02d", r.hour, r.minute, r.second);
    }
    const int hours = r.utcOffset / 60;
    const int remainder = r.utcOffset % 60;
    if (r.utcOffset > 0) {
        return Printf("%02d:%02d:%02d UTC%+02d:%02d", r.hour, r.minute, r.second, hours, remainder);
    }
    return Printf("%02d:%02d:%02d UTC%02d:%02d", r.hour, r.minute, r.second, hours, -remainder);
}

// The row from its texts, already in the encoding of the row: the same bytes the row patterns
// give for texts without quotes.
std::string Row(const PointRecord& r, std::string_view golf, std::string_view course,
                std::string_view shot, std::string_view additional) {
    std::string row = Printf("\"%d\",", r.gcid);
    row += Quoted(golf);
    row += Printf(",\"%d\",", r.cid);
    row += Quoted(course);
    row += Printf(",\"%d\",\"%04d/%02d/%02d\",\"", r.holeNo, r.year, r.month, r.day);
    row += TimeText(r);
    row += "\",";
    row += Quoted(shot);
    row += ',';
    row += Quoted(additional);
    row += Printf(",%.6f,%.6f\r\n", r.longitudeRaw / kPointUnitsPerDegree,
                  r.latitudeRaw / kPointUnitsPerDegree);
    return row;
}

}  // namespace

std::string FormatPointRowShiftJis(const PointRecord& r) {
    return Row(r, r.golfCourseName, r.courseName, std::string_view(&r.shotOrPutt, 1),
               std::string_view(&r.additionalNo, 1));
}

// Each text is converted on its own: a byte that is no whole Shift-JIS character (a lead byte
// at a name's end, say) then never takes the quote after it into the conversion, whichever
// system converts. For whole characters this gives the bytes of converting the row at once.
std::string FormatPointRowUtf8(const PointRecord& r) {
    auto utf8 = [](std::string_view sjis) { return platform::ShiftJisToUtf8(sjis); };
    return Row(r, utf8(r.golfCourseName), utf8(r.courseName),
               utf8(std::string_view(&r.shotOrPutt, 1)),
               utf8(std::string_view(&r.additionalNo, 1)));
}
