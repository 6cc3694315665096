#pragma once
// Writes a whole file so that it is never left half written (an OutputFile: a temporary file in
// the target's folder renamed over it once complete; a device or pipe written in place). On
// any failure the target is untouched and the temporary file is removed.
#include <string>
#include <string_view>

namespace platform {

// True when `path` holds exactly `bytes`; otherwise false and `error` says why.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace platform
