#pragma once
// Vendor:product ids of the USB navigators reached through libusb. The tool never guesses them:
// they come from a command-line option, CADDORA_USB_IDS, or a configuration file, resolved once
// at the entry point. Written "vvvv:pppp", four hexadecimal digits each, items separated by commas,
// spaces or line ends; in files, '#' starts a comment that runs to the end of the line.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    auto operator<=>(const UsbId&) const = default;
};

// "vvvv:pppp", lower-case, four digits each.
std::string FormatUsbId(UsbId id);

// The ids of `text` in their order, duplicates dropped; nullopt when an item is malformed, with
// that item in `badItem`.
std::optional<std::vector<UsbId>> ParseUsbIds(std::string_view text,
                                              std::string* badItem = nullptr);

bool ContainsUsbId(const std::vector<UsbId>& ids, UsbId id);

// Where the ids may come from, most specific first. The first source that is present decides,
// also when it lists none (a user's empty file switches the system's ids off).
struct UsbIdSources {
    std::optional<std::string> option;       // --usb-ids
    std::optional<std::string> environment;  // CADDORA_USB_IDS
    std::vector<std::string> files;          // user's file, then the system's
};

struct ResolvedUsbIds {
    std::vector<UsbId> ids;
    std::string source;  // "--usb-ids", "CADDORA_USB_IDS", a file path, or empty for none
    std::string error;   // set when the deciding source is malformed; `ids` is then empty
};

ResolvedUsbIds ResolveUsbIds(const UsbIdSources& sources);

// The usual files: $XDG_CONFIG_HOME/caddora/usb-ids (else $HOME/.config/...) and
// /etc/caddora/usb-ids. Takes the two variables as values.
std::vector<std::string> UsbIdFiles(const std::optional<std::string>& xdgConfigHome,
                                    const std::optional<std::string>& home);

// The ids of this run for Settings::usbIds: `option` when given, else CADDORA_USB_IDS when set
// and not empty, else the files of UsbIdFiles($XDG_CONFIG_HOME, $HOME).
ResolvedUsbIds ResolveUsbIdsSetting(const std::optional<std::string>& option);

}  // namespace platform
