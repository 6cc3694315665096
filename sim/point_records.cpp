#include "sim/point_records.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "platform/codepage.h"

namespace sim {
namespace {

using namespace point_offsets;

template <typename T>
void Put(PointRecordBytes& r, size_t offset, T value) {
    std::memcpy(r.data() + offset, &value, sizeof(T));  // host is little-endian like the device
}

bool IsShiftJisLead(uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Cuts Shift-JIS text to at most `size` bytes without splitting a double-byte character.
std::string CutShiftJis(const std::string& sjis, size_t size) {
    size_t i = 0;
    while (i < sjis.size()) {
        size_t step = IsShiftJisLead(static_cast<uint8_t>(sjis[i])) ? 2 : 1;
        if (i + step > size) break;
        i += step;
    }
    return sjis.substr(0, std::min(i, sjis.size()));
}

void PutName(PointRecordBytes& r, size_t offset, size_t size, const std::string& utf8) {
    std::string sjis = CutShiftJis(platform::Utf8ToShiftJis(utf8), size);
    std::memcpy(r.data() + offset, sjis.data(), sjis.size());
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits a line at unescaped ';' and resolves the escapes of each field.
std::vector<std::string> SplitFields(std::string_view line, size_t lineNo) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ';') {
            fields.emplace_back();
        } else if (c == '\\') {
            if (i + 1 >= line.size()) throw PointsFormatError(lineNo, "dangling '\\'");
            char e = line[++i];
            if (e == ';' || e == '\\') {
                fields.back() += e;
            } else if (e == 'x' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
                       HexDigit(line[i + 2]) >= 0) {
                fields.back() +=
                    static_cast<char>(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
                i += 2;
            } else {
                throw PointsFormatError(lineNo, std::string("unknown escape '\\") + e + "'");
            }
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

template <typename T>
T ParseInt(std::string_view text, size_t lineNo, const char* key) {
    text = Trim(text);
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
        v < static_cast<long long>(std::numeric_limits<T>::min()) ||
        v > static_cast<long long>(std::numeric_limits<T>::max())) {
        throw PointsFormatError(
            lineNo, std::string("bad value for ") + key + ": '" + std::string(text) + "'");
    }
    return static_cast<T>(v);
}

double ParseDouble(std::string_view text, size_t lineNo, const char* key) {
    text = Trim(text);
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
        !std::isfinite(v) || std::fabs(v) > 3000.0) {
        throw PointsFormatError(
            lineNo, std::string("bad value for ") + key + ": '" + std::string(text) + "'");
    }
    return v;
}

// "a<sep>b<sep>c" with one of the given separators, three integer parts.
std::array<int, 3> ParseTriple(std::string_view text, std::string_view seps, size_t lineNo,
                               const char* key) {
    std::array<int, 3> parts{};
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        size_t stop = k < 2 ? text.find_first_of(seps, start) : text.size();
        if (stop == std::string_view::npos) {
            throw PointsFormatError(lineNo,
                                    std::string("bad ") + key + ": '" + std::string(text) + "'");
        }
        parts[k] = ParseInt<uint16_t>(text.substr(start, stop - start), lineNo, key);
        start = stop + 1;
    }
    return parts;
}

char ParseOneByte(const std::string& value, size_t lineNo, const char* key) {
    if (value.empty()) return '\0';
    if (value.size() != 1) {
        throw PointsFormatError(lineNo, std::string(key) + " must be one byte: '" + value + "'");
    }
    return value[0];
}

PointRecordBytes ParseRaw(std::string_view hex, size_t lineNo) {
    hex = Trim(hex);
    PointRecordBytes r{};
    if (hex.size() != 2 * kPointRecordSize) {
        throw PointsFormatError(lineNo, "raw needs 384 hex digits");
    }
    for (size_t i = 0; i < kPointRecordSize; ++i) {
        int hi = HexDigit(hex[2 * i]);
        int lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) throw PointsFormatError(lineNo, "raw holds a non-hex digit");
        r[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return r;
}

PointRecordBytes ParseLine(std::string_view line, size_t lineNo) {
    SavedPoint p;
    std::vector<std::string> fields = SplitFields(line, lineNo);
    bool sawRaw = false;
    bool sawOther = false;
    PointRecordBytes raw{};
    for (const std::string& field : fields) {
        std::string_view f = Trim(field);
        if (f.empty()) continue;
        size_t eq = f.find('=');
        if (eq == std::string_view::npos) {
            throw PointsFormatError(lineNo, "expected key=value, got '" + std::string(f) + "'");
        }
        std::string key(Trim(f.substr(0, eq)));
        std::string value(Trim(f.substr(eq + 1)));
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (key == "raw") {
            sawRaw = true;
            raw = ParseRaw(value, lineNo);
            continue;
        }
        sawOther = true;
        if (key == "gcid") {
            p.gcid = ParseInt<int32_t>(value, lineNo, "gcid");
        } else if (key == "cid") {
            p.cid = ParseInt<uint16_t>(value, lineNo, "cid");
        } else if (key == "hole") {
            p.holeNo = ParseInt<uint8_t>(value, lineNo, "hole");
        } else if (key == "lat") {
            p.latitudeRaw = DegreesToRaw(ParseDouble(value, lineNo, "lat"));
        } else if (key == "lon") {
            p.longitudeRaw = DegreesToRaw(ParseDouble(value, lineNo, "lon"));
        } else if (key == "latraw") {
            p.latitudeRaw = ParseInt<int32_t>(value, lineNo, "latraw");
        } else if (key == "lonraw") {
            p.longitudeRaw = ParseInt<int32_t>(value, lineNo, "lonraw");
        } else if (key == "date") {
            auto d = ParseTriple(value, "-/", lineNo, "date");
            if (d[1] > 255 || d[2] > 255) throw PointsFormatError(lineNo, "bad date");
            p.year = static_cast<uint16_t>(d[0]);
            p.month = static_cast<uint8_t>(d[1]);
            p.day = static_cast<uint8_t>(d[2]);
        } else if (key == "time") {
            auto t = ParseTriple(value, ":", lineNo, "time");
            if (t[0] > 255 || t[1] > 255 || t[2] > 255) throw PointsFormatError(lineNo, "bad time");
            p.hour = static_cast<uint8_t>(t[0]);
            p.minute = static_cast<uint8_t>(t[1]);
            p.second = static_cast<uint8_t>(t[2]);
        } else if (key == "utc") {
            p.utcOffset = ParseInt<int16_t>(value, lineNo, "utc");
        } else if (key == "golf") {
            p.golfCourseName = value;
        } else if (key == "course") {
            p.courseName = value;
        } else if (key == "kind") {
            p.shotOrPutt = ParseOneByte(value, lineNo, "kind");
        } else if (key == "add") {
            p.additionalNo = ParseOneByte(value, lineNo, "add");
        } else {
            throw PointsFormatError(lineNo, "unknown key '" + key + "'");
        }
    }
    if (sawRaw && sawOther) throw PointsFormatError(lineNo, "raw cannot be mixed with other keys");
    return sawRaw ? raw : EncodePointRecord(p);
}

SavedPoint MakePoint(int32_t gcid, const char* golf, uint16_t cid, const char* course, uint8_t hole,
                     double lat, double lon, uint16_t y, uint8_t mo, uint8_t d, uint8_t h,
                     uint8_t mi, uint8_t s, char kind, char add, int16_t utc) {
    SavedPoint p;
    p.gcid = gcid;
    p.golfCourseName = golf;
    p.cid = cid;
    p.courseName = course;
    p.holeNo = hole;
    p.latitudeRaw = DegreesToRaw(lat);
    p.longitudeRaw = DegreesToRaw(lon);
    p.year = y;
    p.month = mo;
    p.day = d;
    p.hour = h;
    p.minute = mi;
    p.second = s;
    p.shotOrPutt = kind;
    p.additionalNo = add;
    p.utcOffset = utc;
    return p;
}

}  // namespace

PointsFormatError::PointsFormatError(size_t line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}

int32_t DegreesToRaw(double degrees) {
    return static_cast<int32_t>(std::lround(degrees * kRawUnitsPerDegree));
}

PointRecordBytes EncodePointRecord(const SavedPoint& p) {
    PointRecordBytes r{};
    Put(r, kGcid, p.gcid);
    Put(r, kCid, p.cid);
    Put(r, kHoleNo, p.holeNo);
    Put(r, kLatitudeRaw, p.latitudeRaw);
    Put(r, kLongitudeRaw, p.longitudeRaw);
    Put(r, kYear, p.year);
    Put(r, kMonth, p.month);
    Put(r, kDay, p.day);
    Put(r, kHour, p.hour);
    Put(r, kMinute, p.minute);
    Put(r, kSecond, p.second);
    PutName(r, kGolfCourseName, kGolfCourseNameSize, p.golfCourseName);
    PutName(r, kCourseName, kCourseNameSize, p.courseName);
    Put(r, kShotOrPutt, p.shotOrPutt);
    Put(r, kAdditionalNo, p.additionalNo);
    Put(r, kUtcOffset, p.utcOffset);
    return r;
}

std::vector<PointRecordBytes> EncodePointRecords(std::span<const SavedPoint> points) {
    std::vector<PointRecordBytes> out;
    out.reserve(points.size());
    for (const SavedPoint& p : points) out.push_back(EncodePointRecord(p));
    return out;
}

std::vector<PointRecordBytes> ParsePointsText(std::string_view text) {
    std::vector<PointRecordBytes> out;
    size_t lineNo = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find('\n', start);
        if (stop == std::string_view::npos) stop = text.size();
        std::string_view line = text.substr(start, stop - start);
        ++lineNo;
        if (lineNo == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        std::string_view t = Trim(line);
        if (!t.empty() && t.front() != '#') out.push_back(ParseLine(line, lineNo));
        start = stop + 1;
    }
    return out;
}

std::vector<PointRecordBytes> LoadPointsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read points file " + path);
    std::ostringstream all;
    all << in.rdbuf();
    return ParsePointsText(all.str());
}

std::vector<SavedPoint> SamplePoints() {
    return {
        MakePoint(10231, "富士見ヶ丘カントリー倶楽部", 1, "東コース", 1, 35.361205, 138.730150,
                  2015, 4, 1, 9, 5, 7, 's', '0', 540),
        MakePoint(10231, "富士見ヶ丘カントリー倶楽部", 1, "東コース", 1, 35.362480, 138.732910,
                  2015, 4, 1, 9, 21, 44, 'p', '0', 540),
        MakePoint(10231, "富士見ヶ丘カントリー倶楽部", 2, "西コース", 12, 35.358830, 138.727460,
                  2015, 4, 1, 13, 2, 9, 's', '1', 540),
        MakePoint(20517, "琵琶湖レイクサイドゴルフ倶楽部", 3, "中コース", 7, 35.072910, 135.938820,
                  2016, 10, 23, 10, 48, 30, 's', '0', 540),
        MakePoint(90114, "ロイヤル・パインズ・リゾート", 1, "ゴールド", 5, -27.968640, 153.381470,
                  2017, 1, 14, 7, 33, 2, 's', '0', 600),
        MakePoint(90877, "ドラル・ゴルフリゾート", 2, "ブルーモンスター", 18, 25.813520, -80.338610,
                  2017, 3, 5, 15, 12, 57, 'p', '0', -300),
        MakePoint(91203, "デリー・ゴルフクラブ", 1, "ロディコース", 9, 28.593310, 77.233140, 2018,
                  2, 11, 8, 0, 15, 's', '0', 330),
    };
}

std::vector<SavedPoint> SyntheticPoints(size_t count, uint32_t seed) {
    static const char* const kCourses[] = {"富士見ヶ丘カントリー倶楽部",
                                           "琵琶湖レイクサイドゴルフ倶楽部", "那須高原ゴルフクラブ",
                                           "阿蘇くじゅう高原カントリー"};
    static const char* const kParts[] = {"東コース", "西コース", "中コース", "南コース"};
    static const int16_t kOffsets[] = {540, 540, 540, 600, -300, 330};
    std::mt19937 rng(seed);
    std::vector<SavedPoint> out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        SavedPoint p;
        uint32_t r = rng();
        size_t course = r % 4;
        p.gcid = static_cast<int32_t>(10000 + course * 1111);
        p.golfCourseName = kCourses[course];
        p.cid = static_cast<uint16_t>(1 + (r >> 4) % 4);
        p.courseName = kParts[p.cid - 1];
        p.holeNo = static_cast<uint8_t>(1 + (i / 4) % 18);
        // Around Japan: latitude 31..43, longitude 130..145.
        p.latitudeRaw = DegreesToRaw(31.0 + (rng() % 12000000) / 1e6);
        p.longitudeRaw = DegreesToRaw(130.0 + (rng() % 15000000) / 1e6);
        p.year = static_cast<uint16_t>(2015 + (i / 1000) % 5);
        p.month = static_cast<uint8_t>(1 + (r >> 8) % 12);
        p.day = static_cast<uint8_t>(1 + (r >> 12) % 28);
        p.hour = static_cast<uint8_t>(6 + (r >> 16) % 12);
        p.minute = static_cast<uint8_t>((r >> 20) % 60);
        p.second = static_cast<uint8_t>(i % 60);
        p.shotOrPutt = (i % 4 == 3) ? 'p' : 's';
        p.additionalNo = static_cast<char>('0' + i % 3);
        p.utcOffset = kOffsets[(r >> 26) % 6];
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace sim
