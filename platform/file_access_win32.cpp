#include "platform/file_access.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/user_folders.h"
#include "platform/utf8_paths.h"

namespace platform {

// Windows has no named pipes in the file system that an open could hang on: a plain open
// answers at once.
std::string OpenForReadingProblem(const std::string& path) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file) return std::strerror(errno);
    std::fclose(file);
    return {};
}

std::string CreateInFolderProblem(const std::string& folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(PathFromUtf8(folder), ec)) return "No such directory";
    return FolderWritable(folder) ? std::string() : std::string("Permission denied");
}

}  // namespace platform
