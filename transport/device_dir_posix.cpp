#include "transport/device_dir.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

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

}  // namespace transport
