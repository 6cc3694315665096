#pragma once
#include <string>

namespace platform {

// Folder that holds the running executable, without a trailing separator.
std::string ProgramFolder();

// The platform's path separator as the program joins folder and file names.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
// Characters that end a folder name in a path; Windows takes both.
inline constexpr const char* kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
#endif

}  // namespace platform
