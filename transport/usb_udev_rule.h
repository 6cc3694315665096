#pragma once
// udev rules that give the logged-in user access to USB navigators by id. The shipped rule file
// reads /etc/caddora/usb-ids itself; ids configured by one user only need these fixed lines.
#include <string>
#include <vector>

#include "platform/usb_ids.h"

namespace transport {

// A rules file: a comment, then one line per id tagging the device "uaccess".
std::string UdevRuleText(const std::vector<platform::UsbId>& ids);

}  // namespace transport
