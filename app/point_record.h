#pragma once
// One saved point as the navigator keeps it in its SPI-NOR flash (192 bytes, little-endian,
// names in Shift-JIS), and its row in the CSV file the point import writes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::size_t kPointRecordLength = 192;
// Flash units per degree of the stored coordinates.
inline constexpr double kPointUnitsPerDegree = 600000.0;
// Offset that is shown without a "UTC" suffix (the navigator's home time zone).
inline constexpr int16_t kHomeUtcOffset = 540;

struct PointRecord {
    int32_t gcid = 0;
    uint16_t cid = 0;
    uint8_t holeNo = 0;
    int32_t latitudeRaw = 0;
    int32_t longitudeRaw = 0;
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    std::string golfCourseName;  // Shift-JIS, cut at the first NUL
    std::string courseName;      // Shift-JIS, cut at the first NUL
    char shotOrPutt = 0;
    char additionalNo = 0;
    int16_t utcOffset = 0;
};

// Erased flash (first two bytes 0xFF) marks the end of the saved points. False for fewer than
// two bytes.
bool IsErasedPointRecord(std::span<const uint8_t> bytes);

// Decodes a record from its 192 bytes.
PointRecord ParsePointRecord(std::span<const uint8_t, kPointRecordLength> bytes);

// The CSV header: UTF-8 byte-order mark, the quoted column names, CR LF (136 bytes).
std::string_view PointCsvHeader();

// The record's row as printf produces it from the row patterns, in Shift-JIS, ended by CR LF,
// except that a quote inside a quoted field is doubled (RFC 4180; CR and LF in a name stay
// inside its quotes). No length limit; an additionalNo (or shotOrPutt) of 0x00 stays a 0x00
// byte in the row.
std::string FormatPointRowShiftJis(const PointRecord& record);

// The row with its texts converted Shift-JIS -> UTF-16 -> UTF-8, as written to the file.
std::string FormatPointRowUtf8(const PointRecord& record);
