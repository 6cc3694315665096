#pragma once
// The list of device paths that overrides the platform's enumeration (demos, a serial port):
// paths separated by ';' (on Windows for example "\\.\COM8", a serial port wired to the
// virtual navigator), from CADDORA_DEVICE_PATHS through the run's settings.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace transport {

// The paths of a ';'-separated list in their order: empty entries and entries longer than
// `maxPathLength` bytes are skipped, at most `maxCount` are returned.
std::vector<std::string> SplitDevicePaths(std::string_view list, std::size_t maxCount,
                                          std::size_t maxPathLength);

}  // namespace transport
