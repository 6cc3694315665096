#pragma once
// A link the program plays itself in place of a device: the replay of a session log. While one
// is set, every USB port of the process lists its path alone and opens it instead of a device,
// so the jobs run unchanged and nothing reaches a real navigator.
#include <cstdint>
#include <memory>
#include <string>

namespace transport {

// One connection to the stand-in device.
class StandInConnection {
public:
    virtual ~StandInConnection() = default;
    // Blocks until bytes are due; 0 when the connection was closed, -1 when the device is gone.
    virtual int32_t Read(uint8_t* buffer, int32_t length) = 0;
    virtual void Write(const uint8_t* bytes, int32_t count) = 0;
    // Ends a read that waits; the connection delivers nothing more.
    virtual void Close() = 0;
};

class StandInLink {
public:
    virtual ~StandInLink() = default;
    // The device path it answers to.
    virtual std::string Path() const = 0;
    // Whether enumeration lists it (a recorded device may vanish).
    virtual bool Present() const = 0;
    // A new connection, or nullptr; the bytes go on where the previous connection stopped.
    virtual std::shared_ptr<StandInConnection> Connect() = 0;
};

// Sets (or, with nullptr, removes) the process's stand-in link.
void SetStandInLink(std::shared_ptr<StandInLink> link);
std::shared_ptr<StandInLink> CurrentStandInLink();

}  // namespace transport
