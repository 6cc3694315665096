#include "transport/device_path_list.h"

namespace transport {

std::vector<std::string> SplitDevicePaths(std::string_view list, std::size_t maxCount,
                                          std::size_t maxPathLength) {
    std::vector<std::string> paths;
    while (!list.empty() && paths.size() < maxCount) {
        const auto sep = list.find(';');
        const std::string_view entry = list.substr(0, sep);
        if (!entry.empty() && entry.size() <= maxPathLength) paths.emplace_back(entry);
        if (sep == std::string_view::npos) break;
        list.remove_prefix(sep + 1);
    }
    return paths;
}

}  // namespace transport
