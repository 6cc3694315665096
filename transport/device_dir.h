#pragma once
// The navigator's device interfaces on Linux: the entries of one device directory.
#include <cstddef>
#include <string>
#include <vector>

namespace transport {

// `$CADDORA_DEVICE_DIR` when set and not empty, else "/dev/caddora"; without trailing '/'.
std::string DeviceDirectory();

// Paths ("<dir>/<name>") of the entries of DeviceDirectory() whose names do not start with '.'
// and that are character devices or links to one, in byte order of their names. Paths longer
// than `maxPathLength` bytes are skipped; at most `maxCount` are returned. An absent or
// unreadable directory gives an empty list.
std::vector<std::string> ListDevicePaths(std::size_t maxCount, std::size_t maxPathLength);

}  // namespace transport
