#pragma once
// Paths inside the program are UTF-8 text on every system. Windows' file functions take UTF-16,
// and a narrow path given to std::filesystem, fopen or an ...A function there is read in the
// ANSI code page instead, which breaks every name outside it (a Japanese user's own folders).
// So a path becomes a file-system path, an open file or a console line only through these.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

std::filesystem::path PathFromUtf8(const std::string& path);
std::string PathToUtf8(const std::filesystem::path& path);

// std::fopen of a UTF-8 path; null with errno set when it cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The environment variable `name` as UTF-8; empty when it is not set.
std::string EnvironmentText(const char* name);

// The program's arguments as UTF-8: on Windows from the wide command line (argv holds them in
// the ANSI code page, with '?' for what it lacks), elsewhere argv as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace platform
