// The wrapper the device stream calls; the platform operations sit in serial_link_posix.cpp and
// serial_link_win32.cpp.
#include <cstdio>

#include "transport/serial_link.h"

std::string ComModeText(int32_t speed, int32_t parity, int32_t dataBits, int32_t stopBits) {
    static constexpr char kParity[] = {'N', 'O', 'E'};
    const char letter = (parity >= 0 && parity <= 2) ? kParity[parity] : '?';
    char text[201];
    std::snprintf(text, sizeof text, "baud=%d parity=%c data=%d stop=%d", speed, letter, dataBits,
                  stopBits == 0 ? 1 : stopBits);
    return text;
}

Com_Port::Com_Port() : dllHandle(std::make_unique<CCom_Interface>()) {}
Com_Port::~Com_Port() = default;

ComHandle Com_Port::Open_Com(const std::string& name, int32_t speed) {
    return dllHandle ? dllHandle->ComConnect(name, speed) : ComHandle{};
}

void Com_Port::Set_Com(ComHandle handle, int32_t speed) {
    if (dllHandle) dllHandle->ComSetUart(std::move(handle), speed, 8, 0, 1);
}

int32_t Com_Port::ReadFrom_Com(ComHandle handle, uint8_t* buffer, int32_t length) {
    int32_t bytesRead = 0;
    if (!dllHandle || !dllHandle->ComRead(std::move(handle), buffer, length, bytesRead)) return -1;
    return bytesRead;
}

bool Com_Port::WriteTo_Com(ComHandle handle, const uint8_t* buffer, int32_t length) {
    int32_t written = 0;
    return dllHandle && dllHandle->ComWrite(std::move(handle), buffer, length, written);
}

void Com_Port::Close_Com(ComHandle handle) {
    if (dllHandle) dllHandle->PortClose(std::move(handle));
}

test_info& Com_Port::GetTest_Com(test_info& record, ComHandle handle) {
    if (!dllHandle) {
        record = test_info{};
        return record;
    }
    return dllHandle->ComTestGet(record, std::move(handle));
}

void Com_Port::SetTest_Com(ComHandle handle, bool dtrOn, bool rtsOn) {
    if (dllHandle) dllHandle->ComTestSet(std::move(handle), dtrOn, rtsOn);
}

void Com_Port::Dispose() {
    dllHandle.reset();
}
