#pragma once
// Messages that say what is true when no navigator can be used: the device directory cannot
// be read, a device path is too long to be listed, a device denies access (with the udev rule
// hint), vanished, or is held by another program.
#include <string>
#include <vector>

#include "platform/settings.h"

namespace cli {

// A device path or text for a terminal line: control characters become \xNN, so a name made
// to move the cursor or clear the screen shows as what it is.
std::string ShownText(const std::string& text);

// Why the device directory (and the configured USB ids) gave no navigator.
std::string NoNavigatorText(const platform::Settings& settings);

// Device paths left out of the list for their length (they do not fit the record): shown beside
// the navigators that were found, with SkippedReason(), so none is lost without a word.
std::vector<std::string> SkippedDevicePaths(const platform::Settings& settings);
std::string SkippedReason();

// Why `path`, listed a moment ago, could not be opened.
std::string CannotOpenText(const std::string& path);

}  // namespace cli
