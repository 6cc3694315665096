#pragma once
// The --usb-ids option of the commands that reach navigators, and the ids it decides with
// CADDORA_USB_IDS and the configuration files.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "transport/usb_ids.h"

namespace cli {

void AddUsbIdsOption(CLI::App* cmd, std::optional<std::string>& value);

// The option, else CADDORA_USB_IDS (when not empty), else the user's, else the system's file.
transport::ResolvedUsbIds ResolveUsbIdsFor(const std::optional<std::string>& option);

}  // namespace cli
