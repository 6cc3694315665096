#include <unistd.h>

#include <cstdlib>

#include "platform/user_folders.h"

namespace platform {

std::string DocumentsFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "";
}

bool FolderWritable(const std::string& folder) {
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace platform
