#pragma once
// What both systems' OutputFile share: the error text, the temporary file's name, the removal
// of temporaries whose writer has gone, and the paths a handler removes when the program ends
// at once on a second interrupt (signal or console handler).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform::output_detail {

std::string ErrnoText(const std::string& what, const std::string& path, int error);

// How a file system counts a name's length: UTF-8 bytes (POSIX) or UTF-16 units (Windows).
enum class NameUnits { Utf8Bytes, Utf16Units };

// "<name>.<pid>.<random>.part" (random: 12 hex digits), with a leading '.' when `hidden`. A
// name too long for `limit` units is cut at a character's end, so the temporary can always be
// created where the target can; the pid tells the next writer whether its owner still runs.
std::string TemporaryName(const std::string& name, uint64_t pid, uint64_t random, bool hidden,
                          size_t limit, NameUnits units);

// The owner's pid when `fileName` has the form TemporaryName gives; nothing otherwise.
std::optional<uint64_t> TemporaryOwner(const std::string& fileName, bool hidden);

// Removes from `folder` the regular files named like our temporaries whose owner process has
// ended (killed outright, or the power went); nothing else is touched, errors are ignored.
void RemoveOrphanedTemporaries(const std::filesystem::path& folder, bool hidden);

// Per system: this process's id, and whether the process `pid` still runs (one we may not
// look at counts as running).
uint64_t CurrentProcessId();
bool ProcessAlive(uint64_t pid);

// Notes `path` (a file, or a folder removed after every file once empty) for
// RemoveNotedPaths; returns a handle for Forget, or -1 when no room was left (a fixed table: a
// handler may read it).
int Note(const std::string& path, bool folder);
void Forget(int handle);
// Removes every noted path, files first, with the system's calls given. Async-signal-safe.
void RemoveNotedPaths(void (*removeFile)(const char*), void (*removeFolder)(const char*)) noexcept;

}  // namespace platform::output_detail
