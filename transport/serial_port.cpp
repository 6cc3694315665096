#include "transport/serial_port.h"

#include <algorithm>

#include "platform/tick.h"
#include "transport/stream_errors.h"

namespace transport {

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& name, int32_t baudRate) {
    Close();
    handle_ = com_.Open_Com(name, baudRate);
    return IsOpen();
}

void SerialPort::Close() {
    if (handle_) com_.Close_Com(handle_);
    handle_ = ComHandle{};
    pos_ = len_ = 0;
}

void SerialPort::ReadTimeout(int32_t milliseconds) {
    if (milliseconds <= 0) throw std::invalid_argument("the read time-out must be positive");
    readTimeout_ = milliseconds;
}

void SerialPort::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
    if (offset < 0 || count < 0) throw std::invalid_argument("negative offset or count");
    if (!handle_) throw SerialPortException("the serial port is not open");
    if (count == 0) return;
    if (!com_.WriteTo_Com(handle_, buffer + offset, count)) {
        throw SerialPortException("writing to the serial port failed");
    }
}

bool SerialPort::Fill() {
    if (!handle_) throw SerialPortException("the serial port is not open");
    const int32_t n =
        com_.ReadFrom_Com(handle_, buffer_.data(), static_cast<int32_t>(buffer_.size()));
    if (n < 0) throw SerialPortException("reading from the serial port failed");
    pos_ = 0;
    len_ = n;
    return n > 0;
}

int32_t SerialPort::ReadByte() {
    if (pos_ < len_) return buffer_[static_cast<size_t>(pos_++)];
    const uint32_t deadline = platform::TickCount() + static_cast<uint32_t>(readTimeout_);
    for (;;) {
        if (Fill()) return buffer_[static_cast<size_t>(pos_++)];
        const uint32_t left = platform::TickRemaining(platform::TickCount(), deadline);
        if (left == 0) throw TimeoutException("ReadByte Timeout");
        platform::SleepMs(std::min(left, kPollIntervalMs));
    }
}

void SerialPort::DiscardInBuffer() {
    pos_ = len_ = 0;
    // Bounded, so a peer that never stops sending cannot keep us here.
    for (int i = 0; i < kMaxDiscardReads && Fill(); ++i) {
    }
    pos_ = len_ = 0;
}

}  // namespace transport
