#pragma once
// Folders of the user that a job writes into when the user named no file.
#include <string>

namespace platform {

// The user's documents folder when it is known, else the home folder; empty when neither is.
std::string DocumentsFolder();

// True when `folder` is a directory this process may create files in.
bool FolderWritable(const std::string& folder);

// `preferred` when it is writable, else the documents folder. An installed program's folder
// (under Program Files, /usr/bin) is not writable for its user.
std::string OutputFolder(const std::string& preferred);

}  // namespace platform
