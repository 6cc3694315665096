#include "app/course_file_table.h"

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

int32_t CourseFileKind(std::string_view path) {
    if (path.ends_with(".ckfm")) return kKroTypePacked;
    if (path.ends_with(".kzip")) return kKroTypeGzip;
    return kKroTypeRaw;
}
