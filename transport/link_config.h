#pragma once
// Configuration records of the three kinds of link (serial port, USB, log file) and the objects
// that own them. Building blocks: no flow of the program creates them yet.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transport/receiver_brand.h"

// Values of DevConfigs::kind; single bits so that kinds can be combined into masks.
inline constexpr int32_t kLogConfigKind = 1;
inline constexpr int32_t kComConfigKind = 2;
inline constexpr int32_t kUsbConfigKind = 4;

// The part common to every link's record.
struct DevConfigs {
    int32_t kind = 0;
    std::string text1;
    std::array<uint8_t, 8> reserved{};
    std::string text2;
    ReceiverBrand brand = ReceiverBrand::HD;
};

struct ComConfigs {
    DevConfigs dev;
    std::string text1;
    std::array<uint8_t, 20> reserved{};
    std::string text2;
};

struct UsbConfigs {
    DevConfigs dev;
    std::string text1;
    std::string text2;
};

struct LogConfigs {
    DevConfigs dev;
    std::string text1;
};

// Owns the common record, which carries the link kind. Derived owners add their own record;
// releasing (Dispose or destruction) drops the derived record first, then the common one.
class DevConfigsWrapper {
public:
    DevConfigsWrapper();
    virtual ~DevConfigsWrapper();
    DevConfigsWrapper(const DevConfigsWrapper&) = delete;
    DevConfigsWrapper& operator=(const DevConfigsWrapper&) = delete;

    // Releases the records early; safe to call more than once.
    virtual void Dispose();

    // "HD" for brand 0, "V-Com" for brand 6; nothing for other brands or without a record.
    std::optional<std::string> GetBrandName() const;

    std::unique_ptr<DevConfigs> devConfigs;
};

class ComConfigsWrapper : public DevConfigsWrapper {
public:
    ComConfigsWrapper();
    ~ComConfigsWrapper() override;
    void Dispose() override;

    // Serial speeds offered, in bit/s, and the default choice (115,200).
    static constexpr std::array<int32_t, 9> Baudlist{1200,  4800,   9600,   19200, 38400,
                                                     57600, 115200, 230400, 460800};
    static constexpr int32_t BaudlistDefaultIndex = 6;

    std::unique_ptr<ComConfigs> comConfigs;
};

class UsbConfigsWrapper : public DevConfigsWrapper {
public:
    UsbConfigsWrapper();
    ~UsbConfigsWrapper() override;
    void Dispose() override;

    std::unique_ptr<UsbConfigs> usbConfigs;
};

class LogConfigsWrapper : public DevConfigsWrapper {
public:
    LogConfigsWrapper();
    ~LogConfigsWrapper() override;
    void Dispose() override;

    std::unique_ptr<LogConfigs> logConfigs;
};
