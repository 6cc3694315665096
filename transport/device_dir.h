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

}  // namespace transport
