#pragma once
// SerialPort: a serial port opened by name for programs that talk to it directly (the YMODEM
// sender's serial variant), built on the serial link's Com_Port. Reads wait, bounded by
// ReadTimeout, for the next byte; the link underneath never waits, so a read polls it in short
// sleeps. Writes go out through Com_Port, which drops unread input first.
//
// Failures of the port itself (not open, a failed read or write, a port that hung up) raise
// SerialPortException; a read that waited longer than ReadTimeout raises TimeoutException
// ("ReadByte Timeout", transport/stream_errors.h).
//
// Write, ReadByte and DiscardInBuffer are virtual so tests can stand in a port that misbehaves.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "transport/serial_link.h"

namespace transport {

// An input/output failure of a serial port.
class SerialPortException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SerialPort {
public:
    // Read time-out until set otherwise, the value the jobs give their links.
    static constexpr int32_t kDefaultReadTimeoutMs = 25000;
    // Pause between two looks at a port that had nothing to read.
    static constexpr uint32_t kPollIntervalMs = 2;
    // DiscardInBuffer reads at most this many times the local buffer's size.
    static constexpr int kMaxDiscardReads = 64;

    SerialPort() = default;
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port (a name without '/' means /dev/NAME) with 8N1 at `baudRate`; false when it
    // cannot be opened. An open port is closed first.
    bool Open(const std::string& name, int32_t baudRate);
    void Close();
    bool IsOpen() const { return static_cast<bool>(handle_); }

    // Sends buffer[offset .. offset+count). SerialPortException when the port is not open or
    // the write failed; std::invalid_argument for a negative offset or count.
    virtual void Write(const uint8_t* buffer, int32_t offset, int32_t count);
    // The next received byte (0..255). TimeoutException after ReadTimeout ms without one.
    virtual int32_t ReadByte();
    // Drops what was received and not read yet.
    virtual void DiscardInBuffer();

    // Milliseconds ReadByte waits; must be positive (std::invalid_argument otherwise).
    int32_t ReadTimeout() const { return readTimeout_; }
    void ReadTimeout(int32_t milliseconds);

private:
    // Moves what the port holds into the local buffer; false when nothing was there.
    bool Fill();

    Com_Port com_;
    ComHandle handle_;
    int32_t readTimeout_ = kDefaultReadTimeoutMs;
    std::array<uint8_t, 256> buffer_{};
    int32_t pos_ = 0;
    int32_t len_ = 0;
};

}  // namespace transport
