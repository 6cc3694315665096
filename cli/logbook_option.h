#pragma once
// The --logbook option's help, shared by import-points and the logbook commands.
namespace cli {
inline constexpr const char* kLogbookOptionHelp =
    "Logbook file (default $CADDORA_LOGBOOK, else caddora/logbook.sqlite3 in the user's data "
    "folder)";
}  // namespace cli
