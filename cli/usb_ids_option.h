#pragma once
// The --usb-ids option of the commands that reach navigators; platform::ResolveUsbIdsSetting
// decides with it.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "platform/usb_ids.h"

namespace cli {

void AddUsbIdsOption(CLI::App* cmd, std::optional<std::string>& value);

}  // namespace cli
