#include "transport/serial_link.h"

#include <windows.h>

#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/codepage.h"
#include "transport/win32_handle.h"

namespace transport {

// One open port. Calls share the lock, closing takes it alone, so the handle is never closed
// under a call that uses it (every call returns promptly: reads never wait, writes are
// bounded by the port's time-outs).
struct ComDevice {
    std::shared_mutex mut;
    UniqueHandle handle;
};

}  // namespace transport

namespace {

constexpr DWORD kQueueSize = 2048;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Longest name that fits the 32-byte name buffer together with the "\\.\" prefix.
constexpr size_t kMaxNameLength = 27;

// Line errors are cleared, never reported. Calls whose outcome does not matter here are not
// checked: some ports (Wine's among them) answer modem-line calls with error 50.
void ClearErrors(HANDLE h) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(h, &errors, &status);
}

}  // namespace

std::string ComDevicePath(const std::string& name) {
    if (name.size() <= 4 || name.rfind("\\\\.\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

ComHandle CCom_Interface::ComConnect(const std::string& name, int32_t speed) {
    ComHandle handle;
    if (name.empty() || name.size() > kMaxNameLength) return handle;
    const std::u16string wide = platform::Utf8ToUtf16(ComDevicePath(name));
    const std::wstring path(wide.begin(), wide.end());
    transport::UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!h) return handle;
    auto port = std::make_shared<transport::ComDevice>();
    port->handle = std::move(h);
    handle.port_ = std::move(port);
    ComSetUart(handle, speed, 8, 0, 1);  // a refused configuration does not fail the open
    return handle;
}

bool CCom_Interface::ComSetUart(ComHandle handle, int32_t speed, int32_t dataBits, int32_t parity,
                                int32_t stopBits) {
    if (!handle || parity < 0 || parity > 2 || speed <= 0) return false;
    std::shared_lock<std::shared_mutex> lock(handle.port_->mut);
    HANDLE h = handle.port_->handle.get();
    if (!handle.port_->handle) return false;

    // Reads return at once with what is queued; writes take at most 1 ms per byte plus 1 ms.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 1;
    SetCommTimeouts(h, &timeouts);
    SetCommMask(h, EV_RXCHAR);

    const std::string mode = ComModeText(speed, parity, dataBits, stopBits);
    const std::wstring wmode(mode.begin(), mode.end());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    if (!BuildCommDCBW(wmode.c_str(), &dcb)) return false;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // Error 50: the port cannot drive a modem line (Wine on a pty); the rest is applied.
    if (!SetCommState(h, &dcb) && GetLastError() != ERROR_NOT_SUPPORTED) return false;
    SetupComm(h, kQueueSize, kQueueSize);
    PurgeComm(h, kPurgeAll);
    return true;
}

bool CCom_Interface::ComRead(ComHandle handle, uint8_t* buffer, int32_t length,
                             int32_t& bytesRead) {
    bytesRead = 0;
    if (!handle) return false;
    std::shared_lock<std::shared_mutex> lock(handle.port_->mut);
    if (!handle.port_->handle) return false;
    if (length <= 0 || buffer == nullptr) return true;
    HANDLE h = handle.port_->handle.get();
    ClearErrors(h);
    DWORD n = 0;
    if (!ReadFile(h, buffer, static_cast<DWORD>(length), &n, nullptr)) return false;
    bytesRead = static_cast<int32_t>(n);
    return true;
}

bool CCom_Interface::ComWrite(ComHandle handle, const uint8_t* buffer, int32_t length,
                              int32_t& bytesWritten) {
    bytesWritten = 0;
    if (!handle) return false;
    std::shared_lock<std::shared_mutex> lock(handle.port_->mut);
    if (!handle.port_->handle) return false;
    HANDLE h = handle.port_->handle.get();
    ClearErrors(h);
    // Anything received and not yet read is dropped: only the answer to this write counts.
    PurgeComm(h, kPurgeAll);
    if (length <= 0 || buffer == nullptr) return true;
    DWORD n = 0;
    const BOOL ok = WriteFile(h, buffer, static_cast<DWORD>(length), &n, nullptr);
    bytesWritten = static_cast<int32_t>(n);
    return ok && n == static_cast<DWORD>(length);
}

void CCom_Interface::PortClose(ComHandle handle) {
    if (!handle) return;
    std::unique_lock<std::shared_mutex> lock(handle.port_->mut);
    handle.port_->handle.Reset();
}

test_info& CCom_Interface::ComTestGet(test_info& record, ComHandle handle) {
    record = test_info{};
    if (!handle) return record;
    std::shared_lock<std::shared_mutex> lock(handle.port_->mut);
    if (!handle.port_->handle) return record;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle.port_->handle.get(), &dcb)) return record;
    record.DtrControl = dcb.fDtrControl != 0;
    record.DsrFlow = dcb.fOutxDsrFlow != 0;
    record.RtsControl = dcb.fRtsControl != 0;
    record.CtsFlow = dcb.fOutxCtsFlow != 0;
    return record;
}

void CCom_Interface::ComTestSet(ComHandle handle, bool dtrOn, bool rtsOn) {
    if (!handle) return;
    std::shared_lock<std::shared_mutex> lock(handle.port_->mut);
    if (!handle.port_->handle) return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle.port_->handle.get(), &dcb)) return;
    dcb.fDtrControl = dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    SetCommState(handle.port_->handle.get(), &dcb);
}
