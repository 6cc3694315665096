#include "transport/device_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace transport {

std::vector<std::string> ListDevicePaths(const std::string& dir, std::size_t maxCount,
                                         std::size_t maxPathLength) {
    std::vector<std::string> names;
    if (DIR* d = dir.empty() ? nullptr : ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        }
        ::closedir(d);
    }
    // std::string compares like memcmp: byte order, independent of the locale.
    std::sort(names.begin(), names.end());

    const std::string prefix = dir == "/" ? dir : dir + "/";
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        if (paths.size() >= maxCount) break;
        std::string path = prefix + name;
        if (path.size() > maxPathLength) continue;
        struct stat st {};
        // stat follows links, so a link to a pty slave counts as that device.
        if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        paths.push_back(std::move(path));
    }
    return paths;
}

DeviceDirReport InspectDeviceDirectory(const std::string& dir, std::size_t maxPathLength) {
    DeviceDirReport report;
    report.directory = dir;
    DIR* d = ::opendir(report.directory.c_str());
    if (!d) {
        report.unreadable = std::strerror(errno);
        return report;
    }
    const std::string prefix = report.directory == "/" ? report.directory : report.directory + "/";
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string path = prefix + e->d_name;
        struct stat st {};
        if (path.size() > maxPathLength && ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            report.tooLong.push_back(path);
        }
    }
    ::closedir(d);
    std::sort(report.tooLong.begin(), report.tooLong.end());
    return report;
}

std::string DeviceOpenProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) return "permission denied";
        if (error == ENOENT || error == ENXIO || error == ENODEV || error == EIO) {
            return "the navigator vanished";
        }
        return std::strerror(error);
    }
    // A shared lock only tests: it fails while a link holds its exclusive one.
    std::string problem;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) problem = "in use by another program";
    ::close(fd);
    return problem;
}

}  // namespace transport
