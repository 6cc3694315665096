#include "app/course_file_table.h"

#include <algorithm>
#include <charconv>

#include "platform/program_folder.h"

std::string_view CourseFileName(std::string_view path) {
    const auto slash = path.find_last_of(platform::kPathSeparators);
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<uint32_t> CourseFileAddress(std::string_view fileName) {
    for (const CourseFileEntry& entry : kCourseFileTable) {
        if (entry.fileName != fileName) continue;
        uint32_t address = 0;
        const auto* end = entry.addressText.data() + entry.addressText.size();
        const auto parsed = std::from_chars(entry.addressText.data(), end, address, 16);
        if (parsed.ec != std::errc{} || parsed.ptr != end) return std::nullopt;
        return address;
    }
    return std::nullopt;
}

uint64_t CourseFileSlotSize(std::string_view fileName) {
    const std::optional<uint32_t> address = CourseFileAddress(fileName);
    if (!address) return 0;
    uint64_t end = uint64_t{1} << 32;
    if (!fileName.ends_with(".kzip")) {
        for (const CourseFileEntry& entry : kCourseFileTable) {
            const std::optional<uint32_t> other = CourseFileAddress(entry.fileName);
            if (other && *other > *address) end = std::min<uint64_t>(end, *other);
        }
    }
    return end - *address;
}

int32_t CourseFileKind(std::string_view path) {
    if (path.ends_with(".ckfm")) return kKroTypePacked;
    if (path.ends_with(".kzip")) return kKroTypeGzip;
    return kKroTypeRaw;
}
