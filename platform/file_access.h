#pragma once
// Questions about a path that must never block: opening a named pipe without a writer for
// reading would wait for ever.
#include <string>

namespace platform {

// Empty when `path` can be opened for reading, else the system's reason ("Permission denied").
std::string OpenForReadingProblem(const std::string& path);

// Empty when files can be created in `folder`, else the system's reason.
std::string CreateInFolderProblem(const std::string& folder);

}  // namespace platform
