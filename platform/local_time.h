#pragma once
#include <ctime>
#include <string>

namespace platform {

// Local date and time of `when` (default: now) as "yyyyMMdd_HHmmss".
std::string LocalTimestamp(std::time_t when = std::time(nullptr));

}  // namespace platform
