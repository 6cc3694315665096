// The wrapper the device stream and the window call; the platform operations sit in
// usb_link_posix.cpp and usb_link_win32.cpp.
#include <cstring>

#include "transport/usb_link.h"

Usb_Port::Usb_Port() : dllHandle(std::make_unique<CUsb_Interface>()) {}
Usb_Port::Usb_Port(std::string deviceDir)
    : dllHandle(std::make_unique<CUsb_Interface>(std::move(deviceDir))) {}
Usb_Port::Usb_Port(const platform::Settings& settings)
    : dllHandle(std::make_unique<CUsb_Interface>(settings.deviceDir, settings.usbIds)) {}
Usb_Port::~Usb_Port() = default;

usb_info& Usb_Port::Get_USBInfo(usb_info& record) {
    if (!dllHandle) {
        std::memset(&record, 0, sizeof record);
        return record;
    }
    return dllHandle->gGetDevicePath(record);
}

bool Usb_Port::Check_Device(const std::string& path) {
    return dllHandle && dllHandle->gCheckDevice(path);
}

UsbHandle Usb_Port::Init_USB(const std::string& path) {
    return dllHandle ? dllHandle->gConnectToDriver(path) : UsbHandle{};
}

int32_t Usb_Port::Read_Usb(UsbHandle handle, uint8_t* buffer, int32_t length) {
    int32_t bytesRead = 0;
    if (!dllHandle || !dllHandle->ReadFromDriver(std::move(handle), buffer, bytesRead, length)) {
        return -1;
    }
    return bytesRead;
}

bool Usb_Port::Write_Usb(UsbHandle handle, const uint8_t* buffer, int32_t length) {
    return dllHandle && dllHandle->WriteToDriver(std::move(handle), buffer, length);
}

bool Usb_Port::Stalled(UsbHandle handle) {
    return dllHandle && dllHandle->EndpointStalled(std::move(handle));
}

void Usb_Port::Close_Usb(UsbHandle handle) {
    if (dllHandle) dllHandle->gDisConToDriver(std::move(handle));
}

void Usb_Port::Cancel_Packet(UsbHandle handle) {
    if (dllHandle) dllHandle->CancelPacket(std::move(handle));
}

void Usb_Port::Dispose() {
    dllHandle.reset();
}
