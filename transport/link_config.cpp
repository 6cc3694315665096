#include "transport/link_config.h"

DevConfigsWrapper::DevConfigsWrapper() : devConfigs(std::make_unique<DevConfigs>()) {}

DevConfigsWrapper::~DevConfigsWrapper() = default;

void DevConfigsWrapper::Dispose() {
    devConfigs.reset();
}

std::optional<std::string> DevConfigsWrapper::GetBrandName() const {
    if (!devConfigs) return std::nullopt;
    switch (devConfigs->brand) {
        case ReceiverBrand::HD:
            return "HD";
        case ReceiverBrand::VCom:
            return "V-Com";
        default:
            return std::nullopt;
    }
}

// Each derived owner releases its own record before the base one; member destruction gives the
// same order when the owner is destroyed without Dispose.

ComConfigsWrapper::ComConfigsWrapper() : comConfigs(std::make_unique<ComConfigs>()) {
    devConfigs->kind = kComConfigKind;
}

ComConfigsWrapper::~ComConfigsWrapper() = default;

void ComConfigsWrapper::Dispose() {
    comConfigs.reset();
    DevConfigsWrapper::Dispose();
}

UsbConfigsWrapper::UsbConfigsWrapper() : usbConfigs(std::make_unique<UsbConfigs>()) {
    devConfigs->kind = kUsbConfigKind;
}

UsbConfigsWrapper::~UsbConfigsWrapper() = default;

void UsbConfigsWrapper::Dispose() {
    usbConfigs.reset();
    DevConfigsWrapper::Dispose();
}

LogConfigsWrapper::LogConfigsWrapper() : logConfigs(std::make_unique<LogConfigs>()) {
    devConfigs->kind = kLogConfigKind;
}

LogConfigsWrapper::~LogConfigsWrapper() = default;

void LogConfigsWrapper::Dispose() {
    logConfigs.reset();
    DevConfigsWrapper::Dispose();
}
