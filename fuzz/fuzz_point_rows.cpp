// Random 192-byte point records through decoding and both row forms. A row must start with the
// quoted id, carry the names as they are stored (quotes doubled), end with the two coordinates
// and CR LF, and its UTF-8 form must be well-formed UTF-8 (the same bytes when the row is plain
// ASCII).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/point_record.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool IsWellFormedUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<uint8_t>(s[i]);
        std::size_t extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<uint8_t>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        static constexpr uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

bool IsAscii(const std::string& s) {
    for (char c : s) {
        if (static_cast<uint8_t>(c) >= 0x80) return false;
    }
    return true;
}

// A name as its quoted field holds it: quotes doubled.
std::string Doubled(const std::string& name) {
    std::string out;
    for (char c : name) out += c == '"' ? std::string(2, c) : std::string(1, c);
    return out;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::array<uint8_t, kPointRecordLength> bytes{};
    std::memcpy(bytes.data(), data, std::min(size, bytes.size()));
    if (IsErasedPointRecord(bytes)) Check(bytes[0] == 0xFF && bytes[1] == 0xFF);

    const PointRecord record = ParsePointRecord(bytes);
    Check(record.golfCourseName.size() <= 100 && record.courseName.size() <= 50);
    Check(record.golfCourseName.find('\0') == std::string::npos);
    Check(record.courseName.find('\0') == std::string::npos);

    const std::string row = FormatPointRowShiftJis(record);
    const std::string head = "\"" + std::to_string(record.gcid) + "\",\"" +
                             Doubled(record.golfCourseName) + "\",\"" + std::to_string(record.cid) +
                             "\",\"" + Doubled(record.courseName) + "\",\"" +
                             std::to_string(record.holeNo) + "\",\"";
    Check(row.compare(0, head.size(), head) == 0);
    char tail[96];
    std::snprintf(tail, sizeof tail, "\",%.6f,%.6f\r\n", record.longitudeRaw / kPointUnitsPerDegree,
                  record.latitudeRaw / kPointUnitsPerDegree);
    Check(EndsWith(row, tail));

    const std::string utf8 = FormatPointRowUtf8(record);
    Check(IsWellFormedUtf8(utf8));
    Check(EndsWith(utf8, tail));
    if (IsAscii(row)) Check(utf8 == row);
    return 0;
}
