#include "cli/usb_ids_option.h"

namespace cli {

void AddUsbIdsOption(CLI::App* cmd, std::optional<std::string>& value) {
    cmd->add_option("--usb-ids", value,
                    "Vendor:product ids of USB navigators reached through libusb (default: "
                    "CADDORA_USB_IDS, else ~/.config/caddora/usb-ids, else /etc/caddora/usb-ids)")
        ->type_name("VVVV:PPPP[,...]")
        ->check(CLI::Validator(
            [](const std::string& text) {
                std::string bad;
                return platform::ParseUsbIds(text, &bad) ? std::string()
                                                         : "not a vendor:product id: " + bad;
            },
            ""));
}

}  // namespace cli
