#pragma once
// Folders of the user that a job writes into when the user named no file.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The user's documents folder when it exists, else the home folder; empty when neither is
// known.
std::string DocumentsFolder();

// The folder for data the user keeps but does not edit: $XDG_DATA_HOME when it is absolute,
// else ~/.local/share; on Windows the local application data folder. Empty when unknown.
std::string UserDataFolder();

// The folder for state the program keeps for the user (logs): $XDG_STATE_HOME when it is
// absolute, else ~/.local/state; on Windows the local application data folder. Empty when
// unknown.
std::string UserStateFolder();

// True when `folder` is a directory this process may create files in.
bool FolderWritable(const std::string& folder);

// `preferred` when it is writable, else the documents folder. An installed program's folder is
// usually not writable for its user.
std::string OutputFolder(const std::string& preferred);

// The folder that the user-dirs file (`fileText`, as in $XDG_CONFIG_HOME/user-dirs.dirs) gives
// for `key` (e.g. "XDG_DOCUMENTS_DIR"): the same answer as `xdg-user-dir`, when the value is an
// absolute or $HOME-relative path.
std::optional<std::string> ParseUserDir(std::string_view fileText, std::string_view key,
                                        const std::string& home);

}  // namespace platform
