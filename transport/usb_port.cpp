// The wrapper the device stream and the window call; the platform operations sit in
// usb_link_posix.cpp and usb_link_win32.cpp.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "transport/stand_in_link.h"
#include "transport/usb_link.h"

namespace transport {
namespace {
std::mutex standInMutex;
std::shared_ptr<StandInLink> standIn;
}  // namespace

void SetStandInLink(std::shared_ptr<StandInLink> link) {
    std::lock_guard<std::mutex> lock(standInMutex);
    standIn = std::move(link);
}

std::shared_ptr<StandInLink> CurrentStandInLink() {
    std::lock_guard<std::mutex> lock(standInMutex);
    return standIn;
}
}  // namespace transport

Usb_Port::Usb_Port() : dllHandle(std::make_unique<CUsb_Interface>()) {}
Usb_Port::Usb_Port(std::string deviceDir)
    : dllHandle(std::make_unique<CUsb_Interface>(std::move(deviceDir))) {}
Usb_Port::Usb_Port(const platform::Settings& settings)
    : dllHandle(std::make_unique<CUsb_Interface>(settings.deviceDir, settings.usbIds)) {}
Usb_Port::~Usb_Port() = default;

usb_info& Usb_Port::Get_USBInfo(usb_info& record) {
    if (auto standIn = transport::CurrentStandInLink()) {
        std::memset(&record, 0, sizeof record);
        const std::string path = standIn->Path();
        if (standIn->Present() && path.size() < kUsbInfoPathSize) {
            std::copy(path.begin(), path.end(), record.path[0]);
            record.count = 1;
        }
        return record;
    }
    if (!dllHandle) {
        std::memset(&record, 0, sizeof record);
        return record;
    }
    return dllHandle->gGetDevicePath(record);
}

bool Usb_Port::Check_Device(const std::string& path) {
    if (auto standIn = transport::CurrentStandInLink()) {
        return standIn->Present() && standIn->Path() == path;
    }
    return dllHandle && dllHandle->gCheckDevice(path);
}

UsbHandle Usb_Port::Init_USB(const std::string& path) {
    if (auto standIn = transport::CurrentStandInLink()) {
        UsbHandle handle;
        if (standIn->Path() == path) handle.standIn_ = standIn->Connect();
        return handle;
    }
    return dllHandle ? dllHandle->gConnectToDriver(path) : UsbHandle{};
}

int32_t Usb_Port::Read_Usb(UsbHandle handle, uint8_t* buffer, int32_t length) {
    if (handle.standIn_) return handle.standIn_->Read(buffer, length);
    int32_t bytesRead = 0;
    if (!dllHandle || !dllHandle->ReadFromDriver(std::move(handle), buffer, bytesRead, length)) {
        return -1;
    }
    return bytesRead;
}

bool Usb_Port::Write_Usb(UsbHandle handle, const uint8_t* buffer, int32_t length) {
    if (handle.standIn_) {
        if (buffer == nullptr || length <= 0) return false;
        handle.standIn_->Write(buffer, length);
        return true;
    }
    return dllHandle && dllHandle->WriteToDriver(std::move(handle), buffer, length);
}

bool Usb_Port::Stalled(UsbHandle handle) {
    return dllHandle && dllHandle->EndpointStalled(std::move(handle));
}

void Usb_Port::Close_Usb(UsbHandle handle) {
    if (handle.standIn_) return handle.standIn_->Close();
    if (dllHandle) dllHandle->gDisConToDriver(std::move(handle));
}

void Usb_Port::Cancel_Packet(UsbHandle handle) {
    if (handle.standIn_) return;
    if (dllHandle) dllHandle->CancelPacket(std::move(handle));
}

void Usb_Port::Dispose() {
    dllHandle.reset();
}
