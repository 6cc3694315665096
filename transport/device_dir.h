#pragma once
// The navigator's device interfaces on Linux: the entries of one device directory.
#include <cstddef>
#include <string>
#include <vector>

namespace transport {

// Paths ("<dir>/<name>") of the entries of `dir` whose names do not start with '.' and that
// are character devices or links to one, in byte order of their names. Paths longer than
// `maxPathLength` bytes are skipped; at most `maxCount` are returned. An absent or unreadable
// directory (or an empty `dir`) gives an empty list.
std::vector<std::string> ListDevicePaths(const std::string& dir, std::size_t maxCount,
                                         std::size_t maxPathLength);

// What the device directory holds, for telling a user why no navigator was found.
struct DeviceDirReport {
    std::string directory;
    std::string unreadable;            // the system's reason the directory cannot be read
    std::vector<std::string> tooLong;  // device paths skipped for their length
};
DeviceDirReport InspectDeviceDirectory(const std::string& dir, std::size_t maxPathLength);

// Why a listed device cannot be opened: "permission denied", "vanished", "in use by another
// program", or the system's text; empty when it could be opened now. Never blocks; leaves the
// device as it was.
std::string DeviceOpenProblem(const std::string& path);

}  // namespace transport
