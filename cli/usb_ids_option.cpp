#include "cli/usb_ids_option.h"

#include <cstdlib>

namespace cli {

namespace {

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

void AddUsbIdsOption(CLI::App* cmd, std::optional<std::string>& value) {
    cmd->add_option("--usb-ids", value,
                    "Vendor:product ids of USB navigators reached through libusb (default: "
                    "CADDORA_USB_IDS, else ~/.config/caddora/usb-ids, else /etc/caddora/usb-ids)")
        ->type_name("VVVV:PPPP[,...]")
        ->check(CLI::Validator(
            [](const std::string& text) {
                std::string bad;
                return transport::ParseUsbIds(text, &bad) ? std::string()
                                                          : "not a vendor:product id: " + bad;
            },
            ""));
}

transport::ResolvedUsbIds ResolveUsbIdsFor(const std::optional<std::string>& option) {
    transport::UsbIdSources sources;
    sources.option = option;
    if (auto env = Variable("CADDORA_USB_IDS"); env && !env->empty()) sources.environment = env;
    sources.files = transport::UsbIdFiles(Variable("XDG_CONFIG_HOME"), Variable("HOME"));
    return transport::ResolveUsbIds(sources);
}

}  // namespace cli
