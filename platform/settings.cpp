#include "platform/settings.h"

#include <cstdlib>

namespace platform {

std::string WithoutTrailingSlashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

Settings ResolveSettings(const std::string& deviceDirOption) {
    Settings settings;
    const char* env = std::getenv(kDeviceDirVariable);
    if (!deviceDirOption.empty()) {
        settings.deviceDir = deviceDirOption;
    } else if (env != nullptr && *env != '\0') {
        settings.deviceDir = env;
    }
    settings.deviceDir = WithoutTrailingSlashes(settings.deviceDir);
    return settings;
}

}  // namespace platform
