#pragma once
// What both systems' OutputFile share: the error text, and the temporary file being written,
// which RemovePendingOutput may take away inside a signal (or console) handler.
#include <string>

namespace platform::output_detail {

std::string ErrnoText(const std::string& what, const std::string& path, int error);

// Notes `path` as the temporary file being written (a fixed buffer: a handler may read it).
void NotePending(const std::string& path);
// Forgets `path` if it is the one noted.
void ClearPending(const std::string& path);
// The noted path, forgotten as it is handed out; null when none. Async-signal-safe.
const char* TakePending() noexcept;

}  // namespace platform::output_detail
