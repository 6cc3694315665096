#include "platform/settings.h"

#include "platform/utf8_paths.h"

namespace platform {

std::string WithoutTrailingSlashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

Settings ResolveSettings(const std::string& deviceDirOption) {
    Settings settings;
    const std::string env = EnvironmentText(kDeviceDirVariable);
    if (!deviceDirOption.empty()) {
        settings.deviceDir = deviceDirOption;
    } else if (!env.empty()) {
        settings.deviceDir = env;
    }
    settings.deviceDir = WithoutTrailingSlashes(settings.deviceDir);
    return settings;
}

}  // namespace platform
