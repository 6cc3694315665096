#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/user_folders.h"

namespace platform {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    // Sessions started without a login shell may lack HOME; the password entry has it.
    struct passwd entry {};
    struct passwd* result = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &entry, buf, sizeof buf, &result) == 0 && result && result->pw_dir)
        return result->pw_dir;
    return {};
}

}  // namespace

std::string DocumentsFolder() {
    const std::string home = HomeFolder();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string configDir = config && *config ? std::string(config)
                                  : home.empty()    ? std::string()
                                                    : home + "/.config";
    if (!configDir.empty()) {
        std::ifstream in(configDir + "/user-dirs.dirs");
        const std::string text(std::istreambuf_iterator<char>(in), {});
        const auto documents = ParseUserDir(text, "XDG_DOCUMENTS_DIR", home);
        if (documents && IsDirectory(*documents)) return *documents;
    }
    return home;
}

std::string UserDataFolder() {
    // A relative XDG_DATA_HOME is to be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return data;
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.local/share";
}

std::string UserStateFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') return state;
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.local/state";
}

bool FolderWritable(const std::string& folder) {
    return IsDirectory(folder) && access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace platform
