#pragma once
// Where a course-data file goes in the navigator's flash: its file name alone decides. Names
// are compared exactly (case-sensitive), in table order; the first match wins.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct CourseFileEntry {
    std::string_view fileName;
    std::string_view addressText;  // hexadecimal
};

inline constexpr std::array<CourseFileEntry, 6> kCourseFileTable{{
    {"kx20x20.bin", "C0000000"},
    {"jis.bin", "C0080000"},
    {"kx10x20.bin", "C00f0000"},
    {"index4.dat", "C0100000"},
    {"packed.k16", "C1100000"},
    {"index4.kzip", "C0000000"},
}};

// The last component of a path ('/' separates components).
std::string_view CourseFileName(std::string_view path);

// Flash address for a file name (not a path), or nothing when the table does not list it.
std::optional<uint32_t> CourseFileAddress(std::string_view fileName);

// Bytes a file of this name may hold in flash: up to the next listed address, or to the end of
// the 32-bit address space for the last one. A ".kzip" bundle spans the whole data area.
// 0 for a name the table does not list.
uint64_t CourseFileSlotSize(std::string_view fileName);

// Course-data file kinds, from the path's last five characters (exact case).
inline constexpr int32_t kKroTypeRaw = 0;
inline constexpr int32_t kKroTypePacked = 1;  // ".ckfm"
inline constexpr int32_t kKroTypeGzip = 2;    // ".kzip"
int32_t CourseFileKind(std::string_view path);

// Frames (2,048 data bytes each) the course-data job sends for the file at `path` of `kind`:
// from the file's length (raw), or from the length the gzip trailer states (".kzip", exact for
// a single-member stream under 4 GiB). Nothing when it cannot be told before sending.
std::optional<int64_t> CourseFrameCount(const std::string& path, int32_t kind);
