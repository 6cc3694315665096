#pragma once
// The serial link: opens a serial port by name, sets its line parameters (8N1, no CTS flow
// control, RTS inactive, raw), reads without ever waiting and writes within a bound of 1 ms
// per byte plus 1 ms. `CCom_Interface` holds the termios operations, `Com_Port` is the wrapper
// the device stream calls.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#ifndef _WIN32
#include <termios.h>
#endif

namespace transport {
struct ComDevice;
}

// An open serial port, or the null handle. Copies refer to the same port, which stays valid
// (but closed) while any copy exists.
class ComHandle {
public:
    ComHandle() = default;
    explicit operator bool() const { return port_ != nullptr; }
    bool operator==(const ComHandle& other) const { return port_ == other.port_; }

private:
    friend class CCom_Interface;
    std::shared_ptr<transport::ComDevice> port_;
};

// Control-line report, read from the port's configuration, not from the lines.
struct test_info {
    bool DtrControl;  // DTR control enabled
    bool DsrFlow;     // DSR output flow control on
    bool RtsControl;  // RTS control enabled
    bool CtsFlow;     // CTS output flow control on
};

// "baud=%d parity=%c data=%d stop=%d": parity letter N, O or E for codes 0, 1, 2 ('?' for
// others), stop bits 0 taken as 1.
std::string ComModeText(int32_t speed, int32_t parity, int32_t dataBits, int32_t stopBits);

#ifndef _WIN32
// The termios speed constant for `speed` bit/s, or nothing when the speed is not supported.
std::optional<speed_t> ComSpeedConstant(int32_t speed);

// The device path of a port name: a name without '/' is "/dev/<name>".
std::string ComDevicePath(const std::string& name);
#else
// The device path of a port name: a name longer than 4 characters (COM10 and up) gets the
// device-namespace prefix "\\.\"; shorter names and names that carry it already stay as they are.
std::string ComDevicePath(const std::string& name);
#endif

class CCom_Interface {
public:
    // Opens the port exclusively and configures it with ComSetUart(speed, 8, 0, 1); a
    // configuration failure leaves the port open. The null handle when it cannot be opened.
    ComHandle ComConnect(const std::string& name, int32_t speed);
    // Applies the line parameters, then drops both queues. False, with the port unchanged,
    // when the port refuses them or a value is not supported.
    bool ComSetUart(ComHandle handle, int32_t speed, int32_t dataBits, int32_t parity,
                    int32_t stopBits);
    // Takes what is queued without waiting (0 bytes included). False when the read failed or
    // the other side hung up.
    bool ComRead(ComHandle handle, uint8_t* buffer, int32_t length, int32_t& bytesRead);
    // Drops both queues, then sends. True only when every byte was taken within 1 ms per byte
    // plus 1 ms.
    bool ComWrite(ComHandle handle, const uint8_t* buffer, int32_t length, int32_t& bytesWritten);
    void PortClose(ComHandle handle);
    test_info& ComTestGet(test_info& record, ComHandle handle);
    void ComTestSet(ComHandle handle, bool dtrOn, bool rtsOn);
};

class Com_Port {
public:
    Com_Port();
    ~Com_Port();
    Com_Port(const Com_Port&) = delete;
    Com_Port& operator=(const Com_Port&) = delete;

    ComHandle Open_Com(const std::string& name, int32_t speed);
    void Set_Com(ComHandle handle, int32_t speed);
    // Bytes read, or -1 when the read failed.
    int32_t ReadFrom_Com(ComHandle handle, uint8_t* buffer, int32_t length);
    bool WriteTo_Com(ComHandle handle, const uint8_t* buffer, int32_t length);
    void Close_Com(ComHandle handle);
    test_info& GetTest_Com(test_info& record, ComHandle handle);
    void SetTest_Com(ComHandle handle, bool dtrOn, bool rtsOn);
    // Frees the interface object; later calls behave as for the null handle.
    void Dispose();

    std::unique_ptr<CCom_Interface> dllHandle;
};
