#pragma once
// Hook for a byte-oriented receiver that takes over the device's input after the firmware
// update command (CFG_FWUP) was acknowledged, e.g. a YMODEM receiver. While one is active the
// device model hands it every received byte instead of looking for frames; when it reports
// Finished() the model returns to frames.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace sim {

class ByteReceiver {
public:
    virtual ~ByteReceiver() = default;
    // Bytes from the PC; returns the bytes to send back (may be empty).
    virtual std::vector<uint8_t> OnBytes(std::span<const uint8_t> bytes, uint32_t nowMs) = 0;
    // Called about every TimerIntervalMs() while active, so the receiver can speak first
    // (prompts, time-outs). Returns bytes to send.
    virtual std::vector<uint8_t> OnTimer(uint32_t nowMs) = 0;
    virtual uint32_t TimerIntervalMs() const { return 100; }
    virtual bool Finished() const = 0;
};

}  // namespace sim
