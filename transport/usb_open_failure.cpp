#include "transport/usb_open_failure.h"

#include <mutex>

namespace {

std::mutex& FailureMutex() {
    static std::mutex mut;
    return mut;
}

UsbOpenFailure& Last() {
    static UsbOpenFailure failure;
    return failure;
}

}  // namespace

UsbOpenFailure LastUsbOpenFailure() {
    std::lock_guard<std::mutex> lock(FailureMutex());
    return Last();
}

void RecordUsbOpenFailure(UsbOpenFailure failure) {
    std::lock_guard<std::mutex> lock(FailureMutex());
    Last() = std::move(failure);
}
