#pragma once
// Writes a whole file so that it is never left half written: the bytes go to a new temporary
// file in the target's folder, which is renamed over the target once it is complete. On any
// failure the target is untouched and the temporary file is removed.
#include <string>
#include <string_view>

namespace platform {

// True when `path` holds exactly `bytes`; otherwise false and `error` says why.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace platform
