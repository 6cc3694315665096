#pragma once
#include <string>

namespace platform {

// Folder that holds the running executable, without a trailing separator.
std::string ProgramFolder();

// The platform's path separator as the program joins folder and file names.
inline constexpr char kPathSeparator = '/';

}  // namespace platform
