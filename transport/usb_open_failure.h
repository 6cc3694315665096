#pragma once
// Why the last open of a navigator failed, when the link can tell (a USB navigator reached
// through libusb that this user may not open): Init_USB only returns the null handle, but the
// user should learn what to do.
#include <string>

struct UsbOpenFailure {
    std::string path;
    bool noPermission = false;
    std::string text;  // for the user; names the path
};

// The last failure recorded in this process; `path` is empty when none was.
UsbOpenFailure LastUsbOpenFailure();
void RecordUsbOpenFailure(UsbOpenFailure failure);
