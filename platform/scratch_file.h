#pragma once
// A nameless scratch file: read-write, in the system's temporary folder, and gone when it is
// closed or the process ends, however it ends (nothing for a handler to remove).
#include <cstdio>

namespace platform {

// Throws StreamError when no such file can be made.
std::FILE* OpenScratchFile();

}  // namespace platform
