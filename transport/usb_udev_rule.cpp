#include "transport/usb_udev_rule.h"

namespace transport {

using platform::ContainsUsbId;
using platform::FormatUsbId;
using platform::UsbId;

std::string UdevRuleText(const std::vector<UsbId>& ids) {
    std::string text =
        "# caddora: the logged-in user may open these USB navigators (libusb).\n"
        "# Install as /etc/udev/rules.d/70-caddora-local.rules, then plug the navigator in "
        "again.\n";
    for (const UsbId& id : ids) {
        const std::string both = FormatUsbId(id);
        text += "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" +
                both.substr(0, 4) + "\", ATTR{idProduct}==\"" + both.substr(5) +
                "\", TAG+=\"uaccess\"\n";
    }
    return text;
}

}  // namespace transport
