#include "platform/local_time.h"

namespace platform {

std::string LocalTimestamp(std::time_t when) {
    std::tm tm{};
    localtime_s(&tm, &when);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &tm);
    return buf;
}

}  // namespace platform
