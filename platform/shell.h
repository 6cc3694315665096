#pragma once
#include <string>

namespace platform {

// Hands a web address to the desktop's default handler (the default browser). Returns false
// when no handler could be started. Never waits for the browser.
bool OpenUrl(const std::string& url);

// What OpenUrl takes to open the local file at `path` (absolute) with its default program: a
// file:// address with the path's bytes percent-encoded; on Windows the path itself, which the
// shell opens as it stands.
std::string FileUrl(const std::string& path);

// Number of running processes whose name equals `name` (this one included when it matches).
int CountProcessesNamed(const std::string& name);

// Name of the running process as the process list shows it.
std::string CurrentProcessName();

}  // namespace platform
