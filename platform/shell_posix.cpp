#include "platform/shell.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

extern char** environ;

namespace platform {

bool OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    // A double fork would need more code; the child is reaped at once because xdg-open
    // returns as soon as it has handed the address on.
    const char* opener = std::getenv("CADDORA_URL_OPENER");
    std::string program = opener && *opener ? opener : "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string FileUrl(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') ||
            std::string_view("/-._~").find(c) != std::string_view::npos) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xF];
        }
    }
    return url;
}

static std::string ReadComm(const std::string& pidDir) {
    std::ifstream in(pidDir + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::string CurrentProcessName() {
    return ReadComm("/proc/self");
}

int CountProcessesNamed(const std::string& name) {
    // The kernel keeps at most 15 characters of a process name.
    std::string wanted = name.substr(0, 15);
    int count = 0;
    DIR* dir = opendir("/proc");
    if (!dir) return 0;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        if (ReadComm(std::string("/proc/") + e->d_name) == wanted) ++count;
    }
    closedir(dir);
    return count;
}

}  // namespace platform
